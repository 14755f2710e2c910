// HTTP for the web page on libmicrohttpd; see web_server.h.
#include "web_server.h"

#include <linux/futex.h>
#include <microhttpd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "web_api.h"
#include "web_assets.h"
#include "web_rules.h"

namespace {

struct server {
	std::unique_ptr<web_api, void (*)(web_api *)> api { nullptr, [](web_api *) {} };
	std::vector<web_net> writers;
	MHD_Daemon *daemon = nullptr;
};

std::mutex server_lock; // web_start and web_stop against each other
server *current = nullptr;
std::atomic<web_api *> current_api { nullptr };
std::atomic<bool> quiet { false };

// The library's complaints are worth reading while it starts (a port in
// use); afterwards they are about clients that went away or misbehaved,
// which the limits already deal with.
void log_library(void *, const char *fmt, va_list ap)
{
	if (quiet.load())
		return;
	std::fputs("navwatch: web: ", stderr);
	std::vfprintf(stderr, fmt, ap);
}

// What one request gathers between the library's calls.
struct request_state {
	bool change = false;
	bool too_big = false;
	bool may_write = false;
	std::string body;
};

MHD_Result send(MHD_Connection *conn, int status, const std::string &type, const std::string &body,
		bool api)
{
	MHD_Response *r = MHD_create_response_from_buffer(body.size(), const_cast<char *>(body.data()),
							  MHD_RESPMEM_MUST_COPY);
	if (!r)
		return MHD_NO;
	MHD_add_response_header(r, "Content-Type", type.c_str());
	MHD_add_response_header(r, "Cache-Control", api ? "no-store" : "no-cache");
	MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
	MHD_add_response_header(r, "X-Frame-Options", "DENY");
	MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
	// Only the page's own files run: no inline script, nothing from elsewhere.
	MHD_add_response_header(r, "Content-Security-Policy",
				"default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
				"connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
	MHD_Result rc = MHD_queue_response(conn, static_cast<unsigned>(status), r);
	MHD_destroy_response(r);
	return rc;
}

MHD_Result send_error(MHD_Connection *conn, int status, const std::string &why)
{
	std::string body = "{\"error\":\"" + why + "\"}";
	return send(conn, status, "application/json", body, true);
}

MHD_Result collect_arg(void *cls, MHD_ValueKind, const char *key, const char *value)
{
	auto *args = static_cast<std::map<std::string, std::string> *>(cls);
	if (key)
		(*args)[key] = value ? value : "";
	return MHD_YES;
}

MHD_Result serve(MHD_Connection *conn, const std::string &method, const std::string &path,
		 request_state *st)
{
	bool read = method == "GET" || method == "HEAD";
	if (path.compare(0, 5, "/api/") == 0) {
		web_request req;
		req.method = method;
		req.path = path;
		req.body = std::move(st->body);
		req.may_write = st->may_write;
		MHD_get_connection_values(conn, MHD_GET_ARGUMENT_KIND, collect_arg, &req.args);
		web_response res;
		web_api_handle(current_api.load(), req, &res);
		return send(conn, res.status, res.type, res.body, true);
	}
	const web_asset *a = web_asset_find(path);
	if (!a)
		return send_error(conn, 404, "no such page");
	if (!read)
		return send_error(conn, 400, "this is read with GET");
	return send(conn, 200, a->content_type, std::string(reinterpret_cast<const char *>(a->data), a->size),
		    false);
}

MHD_Result on_request(void *cls, MHD_Connection *conn, const char *url, const char *method,
		      const char *, const char *upload_data, size_t *upload_size, void **con_cls)
{
	server *srv = static_cast<server *>(cls);
	std::string m = method ? method : "";
	std::string path = url ? url : "/";
	auto *st = static_cast<request_state *>(*con_cls);
	if (!st) {
		st = new request_state;
		*con_cls = st;
		const MHD_ConnectionInfo *ci = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
		st->may_write = ci && web_writer_allowed(srv->writers, ci->client_addr);
		if (m == "GET" || m == "HEAD")
			return serve(conn, m, path, st);
		st->change = true;
		const char *type = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, "Content-Type");
		const char *len = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, "Content-Length");
		long long length = -1;
		if (len) {
			char *end = nullptr;
			length = std::strtoll(len, &end, 10);
			if (end == len || *end || length < 0)
				length = -1;
		}
		int status = 400;
		std::string why = web_check_write(st->may_write, m, type, length, &status);
		// Refused before the body is read; the library then closes the
		// connection instead of reading what is left.
		if (!why.empty())
			return send_error(conn, status, why);
		return MHD_YES;
	}
	if (*upload_size) {
		if (st->body.size() + *upload_size > web_max_body)
			st->too_big = true;
		else
			st->body.append(upload_data, *upload_size);
		*upload_size = 0;
		return MHD_YES;
	}
	if (st->too_big)
		return send_error(conn, 400, "the body is too large");
	return serve(conn, m, path, st);
}

void on_completed(void *, MHD_Connection *, void **con_cls, MHD_RequestTerminationCode)
{
	delete static_cast<request_state *>(*con_cls);
	*con_cls = nullptr;
}

// glibc 2.36 waits for a thread to end (pthread_join) with a
// FUTEX_CLOCK_REALTIME wait, which Linux before 2.6.28, the board's 2.6.25
// among them, answers with ENOSYS, and glibc then aborts.  Asked once: a
// wait that cannot block (the word is not the value given).
bool joins_work()
{
	static const bool work = [] {
		unsigned int word = 0;
		long rc = syscall(SYS_futex, &word, FUTEX_WAIT_BITSET | FUTEX_CLOCK_REALTIME | FUTEX_PRIVATE_FLAG,
				  1u, nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
		return !(rc == -1 && errno == ENOSYS);
	}();
	return work;
}

} // namespace

int web_start(const web_context &ctx, std::string *err)
{
	std::lock_guard<std::mutex> g(server_lock);
	if (current) {
		*err = "the web page is already served";
		return -1;
	}
	sockaddr_in addr {};
	auto srv = std::make_unique<server>();
	if (web_parse_listen(ctx.listen, &addr, err) < 0 || web_parse_writers(ctx.writers, &srv->writers, err) < 0)
		return -1;
	srv->api = web_api_new(ctx, err);
	if (!srv->api)
		return -1;
	quiet = false;
	// ITC: the threads' wake-up pipe, also what quiescing needs.
	unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC | MHD_USE_ERROR_LOG;
	srv->daemon = MHD_start_daemon(
		flags, 0, nullptr, nullptr, on_request, srv.get(),
		MHD_OPTION_EXTERNAL_LOGGER, log_library, nullptr,
		MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr *>(&addr),
		MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
		MHD_OPTION_THREAD_POOL_SIZE, web_threads,
		MHD_OPTION_THREAD_STACK_SIZE, static_cast<size_t>(256 * 1024),
		MHD_OPTION_CONNECTION_LIMIT, web_max_connections,
		MHD_OPTION_PER_IP_CONNECTION_LIMIT, web_max_per_ip,
		MHD_OPTION_CONNECTION_TIMEOUT, web_timeout_s,
		MHD_OPTION_CONNECTION_MEMORY_LIMIT, web_header_memory,
		MHD_OPTION_NOTIFY_COMPLETED, on_completed, nullptr,
		MHD_OPTION_END);
	if (!srv->daemon) {
		*err = "cannot listen there (port in use, or not an address of this machine?)";
		return -1;
	}
	quiet = true;
	current_api = srv->api.get();
	current = srv.release();
	return 0;
}

void web_message_taken(const stored_msg &m)
{
	web_api *api = current_api.load();
	if (api)
		web_api_taken(api, m);
}

void web_stop()
{
	std::lock_guard<std::mutex> g(server_lock);
	if (!current)
		return;
	if (!joins_work()) {
		// The threads cannot be waited for here: no new connections,
		// and the threads (with what they use) end with the process,
		// which is about to exit.
		MHD_socket fd = MHD_quiesce_daemon(current->daemon);
		if (fd != MHD_INVALID_SOCKET)
			close(fd);
		current = nullptr;
		return;
	}
	MHD_stop_daemon(current->daemon);
	current_api = nullptr;
	delete current;
	current = nullptr;
}

int web_port()
{
	std::lock_guard<std::mutex> g(server_lock);
	if (!current)
		return 0;
	const MHD_DaemonInfo *i = MHD_get_daemon_info(current->daemon, MHD_DAEMON_INFO_BIND_PORT);
	return i ? i->port : 0;
}
