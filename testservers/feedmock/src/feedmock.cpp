// feedmock - invented NAVTEX traffic for clients of the decoder protocol.
//
// Takes: command-line options, TCP connections on one port.  Gives: every
// connected client a copy of every invented message on GETMSG, the fixed
// three-channel status on any other request.  Times in seconds of
// feedmock_timing::second_ms, frequencies in kHz.
#include "feedmock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// GLib's mutexes and queues sit on futexes inside an uninstrumented
// library; tell the race detector where they order memory.
#define FM_ACQUIRE(p) __tsan_acquire((void *)(p))
#define FM_RELEASE(p) __tsan_release((void *)(p))
#else
#define FM_ACQUIRE(p) ((void)(p))
#define FM_RELEASE(p) ((void)(p))
#endif

const int feedmock_frequencies[3] = {490, 518, 4209};
const char *const feedmock_all_letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Two bodies as the daemon would hand them out, '*' where a letter was
// received in error.  130 and 466 characters.
const char *const sample_texts[2] = {
	"PORTPATRICK RADIO\n"
	"GALE WARNING WEDNESDAY 09 DECEMBER 1500 UTC\n"
	"\n"
	"MALIN HEBRIDES BAILEY F*IR ISLE\n"
	"SOUTHWEST GALE 8 TO STORM 10 LATER\n",

	"WZ 1583 GA91\n"
	"NAVAREA ONE 198/26\n"
	"NAVAREA I MESSAGES IN FORCE AT 081200 UTC DEC 26\n"
	"2025 SERIES: 081 112 187.\n"
	"2026 SERIES: 012 045 101 133 150 171 178 190 192 196.\n"
	"NOTES:\n"
	"1. TEXT OF NAVAREA I MESSAGES ISSUED DURING THE LAST SIX WEEKS\n"
	"   IS BROADCAST DAILY AFTER THE WEATHER BULLETIN.\n"
	"2. OLDER MESSAGES ARE IN THE WEEKLY NOTICES TO MARINERS.\n"
	"3. ALL MARINERS ARE REQUESTED TO REPORT ANY DA*GER TO NAVIGATION.\n"
	"CANCEL NAVAREA ONE 185/26 AND THIS MESSA*E 150000 UTC DEC 26.\n",
};

namespace {

GSList *client_list = nullptr;
GStaticMutex client_list_lock = G_STATIC_MUTEX_INIT;
GThread *accept_thread = nullptr;    // owned by feedmock_run/feedmock_shutdown
feedmock_settings *signal_settings = nullptr;

void list_lock()
{
	g_static_mutex_lock(&client_list_lock);
	FM_ACQUIRE(&client_list_lock);
}

void list_unlock()
{
	FM_RELEASE(&client_list_lock);
	g_static_mutex_unlock(&client_list_lock);
}

// The queue's own lock, taken openly so the race detector sees it.  A full
// queue gives up its oldest text; returns how many were dropped.
int queue_push(GAsyncQueue *q, gchar *text)
{
	int dropped = 0;
	g_async_queue_lock(q);
	FM_ACQUIRE(q);
	while (g_async_queue_length_unlocked(q) >= static_cast<gint>(feedmock_queue_max)) {
		g_free(static_cast<gchar *>(g_async_queue_try_pop_unlocked(q)));
		++dropped;
	}
	g_async_queue_push_unlocked(q, text);
	FM_RELEASE(q);
	g_async_queue_unlock(q);
	return dropped;
}

gchar *queue_try_pop(GAsyncQueue *q)
{
	g_async_queue_lock(q);
	FM_ACQUIRE(q);
	auto *text = static_cast<gchar *>(g_async_queue_try_pop_unlocked(q));
	FM_RELEASE(q);
	g_async_queue_unlock(q);
	return text;
}

// Sends all of len bytes; a vanished peer gives false, never SIGPIPE.
bool send_all(int fd, const char *data, size_t len)
{
	while (len > 0) {
		ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		data += n;
		len -= static_cast<size_t>(n);
	}
	return true;
}

// Sleeps ms milliseconds in short slices so that a cleared running flag
// ends the wait early.
void pause_ms(feedmock_settings *s, long ms)
{
	while (ms > 0 && s->running.load()) {
		long slice = ms < 100 ? ms : 100;
		g_usleep(static_cast<gulong>(slice) * 1000);
		ms -= slice;
	}
}

void free_client(feedmock_client *c)
{
	gchar *text;
	while ((text = queue_try_pop(c->queue)) != nullptr)
		g_free(text);
	g_async_queue_unref(c->queue);
	if (c->lock)
		g_mutex_free(c->lock);
	g_free(c->peer_name);
	delete c;
}

const char *list_text(const char *list)
{
	return (list && *list) ? list : "*";
}

} // namespace

double feedmock_draw()
{
	return static_cast<double>(random()) / 2147483648.0;
}

GString *create_random_message(int *freq)
{
	int f = feedmock_frequencies[static_cast<int>(feedmock_draw() * 3)];
	char letters[3];
	letters[0] = static_cast<char>('A' + static_cast<int>(feedmock_draw() * 25));
	letters[1] = static_cast<char>('A' + static_cast<int>(feedmock_draw() * 25));
	letters[2] = '\0';
	int number = static_cast<int>(feedmock_draw() * 99);
	const char *body = sample_texts[static_cast<int>(feedmock_draw() * 2)];

	GString *msg = g_string_new(nullptr);
	g_string_append_printf(msg, "%d\n", f);
	g_string_append(msg, "ZCZC\n");
	g_string_append_printf(msg, "%s%02d\n", letters, number);
	g_string_append(msg, body);
	g_string_append(msg, "NNNN\n");
	if (freq)
		*freq = f;
	return msg;
}

GString *build_structured_message(char station, char type, int number,
				  int freq_index, int *freq)
{
	if (freq_index < 0 || freq_index > 2)
		freq_index = 1;
	int f = feedmock_frequencies[freq_index];
	fprintf(stderr, "Sending message: %c%c%2.2d %d kHz\n", station, type,
		number, f);
	const char *body = sample_texts[static_cast<int>(feedmock_draw() * 2)];

	GString *msg = g_string_new(nullptr);
	g_string_append_printf(msg, "%d\n", f);
	g_string_append(msg, "ZCZC\n");
	g_string_append_printf(msg, "%c%c%02d\n", station, type, number);
	g_string_append(msg, body);
	g_string_append(msg, "NNNN\n");
	if (freq)
		*freq = f;
	return msg;
}

GString *create_structured_message(const char *stations, const char *types,
				   int freq_index, long counter, int *freq)
{
	fprintf(stderr, "%s(%s, %s, %d, %ld) \n", "create_structured_message",
		list_text(stations), list_text(types), freq_index, counter);
	const char *s = (stations && *stations) ? stations : feedmock_all_letters;
	const char *t = (types && *types) ? types : feedmock_all_letters;
	long ns = static_cast<long>(strlen(s));
	long nt = static_cast<long>(strlen(t));

	// A negative counter would index before the lists.
	if (counter < 0)
		return nullptr;
	long station = counter / nt;
	long type = counter % nt;
	int number = static_cast<int>(counter % 100);
	if (station >= ns)
		return nullptr;

	fprintf(stderr, "stations '%s' (%ld), types '%s' (%ld) \n", s, ns, t, nt);
	fprintf(stderr, "Sending message: %c%c%2.2d \n", s[station], t[type],
		number);
	return build_structured_message(s[station], t[type], number, freq_index,
					freq);
}

GString *build_status_reply(int leadin_freq)
{
	GString *st = g_string_new("GETSTATUS:\n");
	for (int f : feedmock_frequencies)
		g_string_append_printf(st, "FREQ:%d,ST:%s,SIG:0.0\n", f,
				       f == leadin_freq ? "RCV" : "IDLE");
	return st;
}

std::string feedmock_version_banner()
{
	return "feedmock version 1.0 - NAVTEX message daemon simulator\n";
}

std::string feedmock_usage_text()
{
	return "\n"
	       "NAVTEX message daemon simulator.\n"
	       "Usage: feedmock [OPTIONS]\n"
	       "\n"
	       "Arguments:\n"
	       "  -h, --help           Help text (this text)\n"
	       "  -v, --version        Prints version info\n"
	       "  -V, --verbose        Prints measurements on console\n"
	       "  -p, --port           Port to listen to (default 9968)\n"
	       "  -i, --max-interval   Maximal random intermessage delay \n"
	       "                       (default 10 s)\n"
	       "  -l, --max-leadin     Maximal random lead in delay \n"
	       "                       (default 5 s)\n"
	       "  -s, --station        Set station letter (default: '*')\n"
	       "  -t, --type           Set message type  (default: '*')\n"
	       "  -S, --structured     Do structured messaging (from A to Z)\n"
	       "  -f, --frequency      Set frequency (490,518 or 4209)\n"
	       "  -n, --number         Set initial message number (default: 1)\n";
}

namespace {

int usage_exit()
{
	std::string text = feedmock_usage_text() + feedmock_version_banner() + "\n";
	fputs(text.c_str(), stderr);
	return 0;
}

// Letters for -s and -t: '*' first keeps all letters, an empty list has no
// identifiers to give and is refused.
bool letter_list(const char *arg, std::string *out, const char *opt)
{
	if (arg[0] == '*') {
		out->clear();
		return true;
	}
	if (arg[0] == '\0') {
		fprintf(stderr, "feedmock: %s needs at least one letter\n", opt);
		return false;
	}
	*out = arg;
	return true;
}

} // namespace

int feedmock_parse_options(int argc, char **argv, feedmock_settings *s)
{
	static const struct option long_options[] = {
		{"help", no_argument, nullptr, 'h'},
		{"version", no_argument, nullptr, 'v'},
		{"verbose", no_argument, nullptr, 'V'},
		{"port", required_argument, nullptr, 'p'},
		{"max-interval", required_argument, nullptr, 'i'},
		{"max-leadin", required_argument, nullptr, 'l'},
		{"station", required_argument, nullptr, 's'},
		{"type", required_argument, nullptr, 't'},
		{"structured", no_argument, nullptr, 'S'},
		{nullptr, 0, nullptr, 0},
	};
	optind = 0; // full re-initialisation, so the parser can be run again
	int c;
	while ((c = getopt_long(argc, argv, "hvV:p:i:l:t:s:Sf:n:", long_options,
				nullptr)) != -1) {
		switch (c) {
		case 'h':
			return usage_exit();
		case 'v':
			fputs(feedmock_version_banner().c_str(), stderr);
			return 0;
		case 'V':
			s->verbose = 1;
			break;
		case 'p':
			s->port = static_cast<int>(strtol(optarg, nullptr, 10));
			break;
		case 'i':
			s->max_interval = static_cast<int>(strtol(optarg, nullptr, 10));
			break;
		case 'l':
			s->max_leadin = static_cast<int>(strtol(optarg, nullptr, 10));
			break;
		case 's':
			if (!letter_list(optarg, &s->stations, "-s"))
				return 1;
			break;
		case 't':
			if (!letter_list(optarg, &s->types, "-t"))
				return 1;
			break;
		case 'S':
			s->structured = 1;
			break;
		case 'f': {
			long f = strtol(optarg, nullptr, 10);
			int idx = -1;
			for (int k = 0; k < 3; ++k)
				if (f == feedmock_frequencies[k])
					idx = k;
			if (idx < 0)
				return usage_exit();
			s->freq_index = idx;
			break;
		}
		case 'n': {
			long n = strtol(optarg, nullptr, 10);
			if (n < 0) {
				fprintf(stderr,
					"feedmock: the message number (-n) must not be negative: %s\n",
					optarg);
				return 1;
			}
			s->counter = n;
			break;
		}
		default:
			return usage_exit();
		}
	}
	return -1;
}

void client_reap()
{
	list_lock();
	GSList *it = client_list;
	while (it) {
		GSList *next = it->next;
		auto *c = static_cast<feedmock_client *>(it->data);
		if (c->alive.load() == 0) {
			g_message("%s() - killing zombie thread", "client_reap");
			g_thread_join(c->thread);
			free_client(c);
			client_list = g_slist_delete_link(client_list, it);
		}
		it = next;
	}
	list_unlock();
}

void client_send(const char *text)
{
	list_lock();
	GSList *it = client_list;
	while (it) {
		GSList *next = it->next;
		auto *c = static_cast<feedmock_client *>(it->data);
		if (c->alive.load() == 0) {
			g_message("%s():%d - killing zombie threads", "client_send", 617);
			g_thread_join(c->thread);
			free_client(c);
			g_message("%s():%d - removed thread", "client_send", 634);
			client_list = g_slist_delete_link(client_list, it);
		} else {
			g_message("Sending %s\n", text);
			if (strlen(text) > 1 && g_mutex_trylock(c->lock)) {
				g_message("SEND (%s:%d): %s", c->peer_name, c->peer_port,
					  text);
				if (queue_push(c->queue, g_strdup(text)) > 0)
					g_message("Queue of %s:%d full: oldest message dropped",
						  c->peer_name, c->peer_port);
				g_mutex_unlock(c->lock);
			}
		}
		it = next;
	}
	list_unlock();
}

guint client_count()
{
	list_lock();
	guint n = g_slist_length(client_list);
	list_unlock();
	return n;
}

gpointer client_thread(gpointer data)
{
	auto *c = static_cast<feedmock_client *>(data);
	feedmock_settings *s = c->settings;
	char buf[256];

	while (c->alive.load() == 1 && s->running.load()) {
		struct pollfd p = {c->fd, POLLIN, 0};
		if (poll(&p, 1, 100) <= 0)
			continue;
		ssize_t n = recv(c->fd, buf, sizeof(buf) - 1, 0);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		buf[n] = '\0';

		if (strstr(buf, "GETMSG")) {
			gchar *text = queue_try_pop(c->queue);
			if (!text)
				continue;
			bool sent = send_all(c->fd, "GETMSG:\n", 8) &&
				    send_all(c->fd, text, strlen(text));
			g_free(text);
			if (!sent)
				break;
		} else {
			int lf = s->leadin_freq.load();
			if (lf > 0)
				g_message("Lead-in %d kHz", lf);
			GString *st = build_status_reply(lf);
			bool sent = send_all(c->fd, st->str, st->len);
			g_string_free(st, TRUE);
			if (!sent)
				break;
		}
	}
	close(c->fd);
	c->alive.store(0);
	return nullptr;
}

void client_add(feedmock_settings *s, int fd, const struct sockaddr_in *peer)
{
	auto *c = new feedmock_client;
	c->queue = g_async_queue_new();
	c->fd = fd;
	c->settings = s;
	if (peer) {
		char name[INET_ADDRSTRLEN] = "";
		inet_ntop(AF_INET, &peer->sin_addr, name, sizeof(name));
		c->peer_name = g_strdup(name);
		c->peer_port = ntohs(peer->sin_port);
	} else {
		c->peer_name = g_strdup("?");
	}
	c->lock = g_mutex_new();

	// A client that stops reading must not hold its thread for ever.
	struct timeval tv = {5, 0};
	setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));

	list_lock();
	GError *err = nullptr;
	c->thread = g_thread_create(client_thread, c, TRUE, &err);
	if (!c->thread) {
		g_message("Thread creation failed: %s", err ? err->message : "?");
		if (err)
			g_error_free(err);
		close(fd);
		free_client(c);
	} else {
		client_list = g_slist_append(client_list, c);
		g_message("Thread created succesfully");
	}
	list_unlock();
}

gpointer server_thread(gpointer data)
{
	auto *s = static_cast<feedmock_settings *>(data);
	// No SOCK_CLOEXEC or accept4: the board's kernel (2.6.25) has neither.
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	if (fd < 0)
		return nullptr;
	fcntl(fd, F_SETFD, FD_CLOEXEC);
	int one = 1;
	if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) < 0) {
		g_message("Error setting socket options (%s)", g_strerror(errno));
		close(fd);
		return nullptr;
	}
	struct sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	addr.sin_port = htons(static_cast<uint16_t>(s->port));
	if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) < 0 ||
	    listen(fd, 1) < 0) {
		// The traffic goes on without clients; say why nobody can connect.
		fprintf(stderr, "feedmock: cannot listen on port %d: %s\n", s->port,
			g_strerror(errno));
		close(fd);
		return nullptr;
	}
	g_message("Waiting for connections.");

	while (s->running.load()) {
		// Closed clients go at once, not only when traffic is handed out.
		client_reap();
		// Wait in short steps so a cleared running flag ends the thread.
		struct pollfd p = {fd, POLLIN, 0};
		if (poll(&p, 1, 100) <= 0)
			continue;
		struct sockaddr_in peer = {};
		socklen_t len = sizeof(peer);
		int cfd = accept(fd, reinterpret_cast<struct sockaddr *>(&peer), &len);
		if (cfd >= 0)
			fcntl(cfd, F_SETFD, FD_CLOEXEC);
		if (cfd < 0) {
			g_message("Accept error: %s", g_strerror(errno));
			// Out of descriptors, for instance: don't spin on it.
			g_usleep(100000);
			continue;
		}
		char name[INET_ADDRSTRLEN] = "";
		inet_ntop(AF_INET, &peer.sin_addr, name, sizeof(name));
		g_message("got connection from %s", name);
		client_add(s, cfd, &peer);
	}
	close(fd);
	return nullptr;
}

void on_signal(int sig)
{
	if (!signal_settings)
		return;
	if (sig == SIGPIPE && signal_settings->verbose) {
		// The log handler is not safe in a signal handler; write directly.
		static const char line[] = "SIGPIPE!\n\n";
		ssize_t r = write(STDOUT_FILENO, line, sizeof(line) - 1);
		(void)r;
	}
	signal_settings->running.store(0);
}

void feedmock_install_signals(feedmock_settings *s)
{
	signal_settings = s;
	struct sigaction sa = {};
	sa.sa_handler = on_signal;
	sigemptyset(&sa.sa_mask);
	sigaction(SIGPIPE, &sa, nullptr);
	sigaction(SIGTERM, &sa, nullptr);
}

void log_to_stdout(const gchar *, GLogLevelFlags, const gchar *message,
		   gpointer user_data)
{
	// The flag is set before any thread starts and never changes after.
	const int *verbose = static_cast<const int *>(user_data);
	if (!verbose || !*verbose)
		return;
	printf("%s\n", message);
	fflush(stdout);
}

int feedmock_run(feedmock_settings *s, const feedmock_timing &timing)
{
	srandom(timing.seed ? timing.seed : static_cast<unsigned>(time(nullptr)));
	// GLib before 2.32 needs this before any thread call, and only once
	// (main has done it; a program linking the library may not have).
	if (!g_thread_supported())
		g_thread_init(nullptr);
	accept_thread = g_thread_create(server_thread, s, TRUE, nullptr);

	pause_ms(s, timing.start_delay_ms);
	while (timing.hold_start && timing.hold_start->load() && s->running.load())
		pause_ms(s, 10);
	if (!s->running.load())
		return 0;

	int k = 1;
	while (s->running.load()) {
		int w = static_cast<int>(feedmock_draw() * s->max_interval);
		g_message("Waiting %d seconds", w);
		pause_ms(s, w * timing.second_ms);

		fprintf(stderr, "Sending %s meassage\n",
			s->structured ? "structured" : "random");
		int freq = 0;
		GString *msg;
		if (s->structured) {
			msg = create_structured_message(
				s->stations.empty() ? nullptr : s->stations.c_str(),
				s->types.empty() ? nullptr : s->types.c_str(),
				s->freq_index, s->counter, &freq);
			s->counter++;
			if (!msg) {
				// Starting again would repeat identifiers the clients
				// have already seen; keep serving what is queued.
				fprintf(stderr, "Structured messages used up, no more traffic\n");
				g_message("Structured messages used up");
				while (s->running.load())
					pause_ms(s, 100);
				break;
			}
		} else {
			msg = create_random_message(&freq);
		}

		int l = static_cast<int>(feedmock_draw() * s->max_leadin);
		g_message("Doing lead-in for %d seconds", l);
		s->leadin_freq.store(freq);
		pause_ms(s, l * timing.second_ms);

		client_send(msg->str);
		g_string_free(msg, TRUE);

		g_message("Message %d sent.", k);
		g_message("********************");
		s->leadin_freq.store(0);
		++k;
	}
	return 0;
}

void feedmock_shutdown(feedmock_settings *s)
{
	s->running.store(0);
	if (accept_thread) {
		g_thread_join(accept_thread);
		accept_thread = nullptr;
	}
	list_lock();
	for (GSList *it = client_list; it; it = it->next) {
		auto *c = static_cast<feedmock_client *>(it->data);
		c->alive.store(0);
		g_thread_join(c->thread);
		free_client(c);
	}
	g_slist_free(client_list);
	client_list = nullptr;
	list_unlock();
}
