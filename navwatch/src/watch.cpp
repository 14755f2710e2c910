// Start-up of the keeper: paths, the store's first check, outputs,
// detaching, the web page, then the main loop.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "say.h"
#include "watch_state.h"

namespace {

void on_stop(int) { g_watch_stop = 1; }
void on_hup(int) { g_watch_reload = 1; }

std::string absolute(const std::string &p)
{
	if (p.empty() || p[0] == '/' || p == "-")
		return p;
	char cwd[4096];
	if (!getcwd(cwd, sizeof cwd))
		return p;
	return std::string(cwd) + "/" + p;
}

// Leaves the terminal: a child in a new session, standard streams on
// /dev/null (standard output kept when the JSON lines go there).
void detach(bool keep_stdout)
{
	fflush(nullptr);
	pid_t pid = fork();
	if (pid < 0) {
		say(LOG_ERR, std::string("cannot detach: ") + strerror(errno));
		exit(1);
	}
	if (pid > 0)
		_exit(0);
	setsid();
	umask(022);
	if (chdir("/") != 0) {
	}
	int fd = open("/dev/null", O_RDWR);
	if (fd >= 0) {
		dup2(fd, STDIN_FILENO);
		if (!keep_stdout)
			dup2(fd, STDOUT_FILENO);
		dup2(fd, STDERR_FILENO);
		if (fd > STDERR_FILENO)
			close(fd);
	}
	say_setup(true);
}

int setup_outputs(loop_state *L)
{
	const watch_options &o = *L->o;
	std::string err;
	if (!o.json_path.empty() && jsonl_open(&L->out.json, o.json_path, &err) < 0) {
		say(LOG_ERR, err);
		return -1;
	}
	L->out.alarm_cmd = o.alarm_cmd;
	if (!o.nmea_dests.empty()) {
		nmea_out_callbacks cb;
		cb.masks = [L] {
			std::lock_guard<std::mutex> g(L->sel.lock);
			return nmea_masks_from_settings(L->sel.cur->rec);
		};
		cb.configure = [L](const nmea_nrm &n) {
			int r;
			{
				std::lock_guard<std::mutex> g(L->sel.lock);
				r = nmea_masks_apply(L->sel.cur->rec, n);
			}
			std::string e;
			if (r == 1 && selections_save(&L->sel, &e) < 0)
				say(LOG_ERR, "NRM command not saved: " + e);
			else if (r == 1)
				say(LOG_NOTICE, "selections changed by an NRM command, saved to " + L->sel.path);
		};
		cb.note = [](const std::string &t) { say(LOG_WARNING, t); };
		L->out.nmea = nmea_out_new(cb);
		for (const auto &d : o.nmea_dests)
			if (nmea_out_add(*L->out.nmea, d, &err) < 0) {
				say(LOG_ERR, "-N " + d + ": " + err);
				return -1;
			}
	}
	if (!o.printer_dev.empty())
		L->out.printer = printer_new(o.printer_dev, [](const std::string &t) { say(LOG_WARNING, t); });
	return 0;
}

} // namespace

int watch_run(const watch_options &opts)
{
	watch_options o = opts;
	say_setup(false);
	o.settings_path = absolute(o.settings_path);
	o.json_path = absolute(o.json_path);
	o.printer_dev = absolute(o.printer_dev);
	loop_state L;
	L.o = &o;
	L.sel.path = o.settings_path;
	selections_load(&L.sel);
	std::string db = absolute(o.db_path.empty() ? std::string(L.sel.cur->rec.db_path) : o.db_path);
	if (!fetch_parse_address(o.server, &L.conn.host, &L.conn.port)) {
		say(LOG_ERR, "-S " + o.server + ": expected host:port");
		return 2;
	}
#ifndef NAVWATCH_WEB
	if (!o.web_listen.empty()) {
		say(LOG_ERR, "-H: this navwatch is built without the web page");
		return 2;
	}
#endif
	std::string err;
	// Refusals (a foreign or newer store) are said on the terminal; the
	// store is opened for good only after detaching (its locks belong to
	// the process that opened it).
	store *probe = store_open(db, STORE_OPEN_CREATE, &err);
	if (!probe) {
		say(LOG_ERR, err);
		return 1;
	}
	store_close(probe);
	if (setup_outputs(&L) < 0)
		return 1;
	signal(SIGPIPE, SIG_IGN);
	// A file size limit is met as a full disk: the write fails and is retried.
	signal(SIGXFSZ, SIG_IGN);
	signal(SIGTERM, on_stop);
	signal(SIGINT, on_stop);
	signal(SIGHUP, on_hup);
	if (!o.foreground)
		detach(o.json_path == "-");
	L.st = store_open(db, STORE_OPEN_CREATE, &err);
	if (!L.st) {
		say(LOG_ERR, err);
		return 1;
	}
	store_prune(L.st, time(nullptr), &err);
	// An alarm not reset before a restart sounds again.
	L.out.alarm_again_at = time(nullptr);
	L.status.address = o.server;
#ifdef NAVWATCH_WEB
	if (!o.web_listen.empty()) {
		web_context ctx;
		ctx.listen = o.web_listen;
		ctx.writers = o.web_writers;
		ctx.db_path = db;
		ctx.settings_path = o.settings_path;
		ctx.status = [&L] {
			std::lock_guard<std::mutex> g(L.status_lock);
			return L.status;
		};
		ctx.get_selections = [&L] { return selections_get(&L.sel); };
		ctx.set_selections = [&L](const freq_selection &fs, std::string *e) {
			return selections_set(&L.sel, fs, e);
		};
		if (web_start(ctx, &err) < 0) {
			say(LOG_ERR, "-H " + o.web_listen + ": " + err);
			store_close(L.st);
			return 1;
		}
		L.out.web = true;
	}
#endif
	say(LOG_NOTICE, "keeping messages from " + o.server + " in " + db);
	int rc = watch_loop(&L);
#ifdef NAVWATCH_WEB
	if (L.out.web)
		web_stop();
#endif
	fetch_close(&L.conn);
	jsonl_close(&L.out.json);
	store_close(L.st);
	return rc;
}
