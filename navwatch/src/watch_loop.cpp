// The main loop: connection with backoff, batches of messages committed in
// one transaction, outputs after the commit, held messages when the store
// cannot be written, settings re-read on SIGHUP or change.
#include "watch_state.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>

#include "alarm.h"
#include "emit.h"
#include "fetch.h"
#include "keeper.h"
#include "reply.h"
#include "say.h"
#include "selections.h"
#include "store.h"
#include "web_hook.h"

volatile sig_atomic_t g_watch_stop = 0;
volatile sig_atomic_t g_watch_reload = 0;

namespace {

constexpr int kBatchMax = 64;
constexpr int kBatchMs = 200;
// A server that answers nothing for this long is connected to anew.
constexpr int kDeafMs = 60000;
constexpr int kRetryStoreS = 5;
constexpr int kBackoffMaxMs = 30000;

long long mono_ms()
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void set_connected(loop_state *L, bool up, const std::string &why)
{
	std::lock_guard<std::mutex> g(L->status_lock);
	L->status.connected = up;
	L->status.last_error = why;
	if (!up)
		L->status.channels.clear();
}

void lost(loop_state *L, const std::string &why)
{
	fetch_close(&L->conn);
	set_connected(L, false, why);
	if (!L->said_down)
		say(LOG_WARNING, "server " + L->o->server + ": " + why + "; reconnecting");
	L->said_down = true;
	L->next_connect = mono_ms() + L->backoff_ms;
	L->backoff_ms = std::min(L->backoff_ms * 2, kBackoffMaxMs);
}

// Commits the held messages in one transaction; on success hands them to
// the outputs.  False when the store refused (they stay held).
bool commit_held(loop_state *L)
{
	std::string err;
	std::vector<stored_msg> done;
	bool ok = store_begin(L->st, &err) == 0;
	for (size_t i = 0; ok && i < L->pending.size(); ++i) {
		stored_msg m = L->pending[i].msg;
		ok = store_put(L->st, m, L->pending[i].remember, &err) > 0;
		done.push_back(m);
	}
	if (ok)
		ok = store_commit(L->st, &err) == 0;
	else
		store_abort(L->st);
	if (!ok) {
		if (!L->store_failing)
			say(LOG_ERR, "cannot write the store: " + err + "; " + std::to_string(L->pending.size()) +
					     " message(s) held in memory, retried every " + std::to_string(kRetryStoreS) +
					     " s (said once)");
		L->store_failing = true;
		L->retry_at = mono_ms() + kRetryStoreS * 1000;
		return false;
	}
	if (L->store_failing)
		say(LOG_NOTICE, "the store is writable again; " + std::to_string(done.size()) + " held message(s) stored");
	L->store_failing = false;
	for (size_t i = 0; i < done.size(); ++i)
		emit_message(&L->out, &L->sel, done[i], L->pending[i].has_signal);
	emit_indication(&L->out, L->st, time(nullptr));
	L->pending.clear();
	return true;
}

void check_settings(loop_state *L)
{
	long long now = mono_ms();
	if (!g_watch_reload && now < L->next_settings_check)
		return;
	L->next_settings_check = now + 1000;
	if (g_watch_reload || selections_changed(&L->sel)) {
		g_watch_reload = 0;
		if (selections_load(&L->sel))
			say(LOG_NOTICE, "settings re-read from " + L->sel.path);
	}
}

void take_status(loop_state *L)
{
	std::string reply, err, stale;
	fetch_result rc = fetch_request(&L->conn, "GETSTATUS", &reply, L->reply_ms(), &err, &stale);
	if (rc == FETCH_FAILED) {
		lost(L, err);
		return;
	}
	if (rc == FETCH_SILENT) {
		if (mono_ms() - L->last_heard > kDeafMs)
			lost(L, "no answer for " + std::to_string(kDeafMs / 1000) + " s");
		return;
	}
	L->last_heard = mono_ms();
	std::vector<channel_state> ch;
	if (reply_parse_status(reply, time(nullptr), &ch) >= 0) {
		std::lock_guard<std::mutex> g(L->status_lock);
		L->status.channels = ch;
	}
	if (rc == FETCH_CUT)
		lost(L, "the server closed the connection");
}

// Decides on one taken message and stores it in the open batch.  False
// when the store failed (the message is held all the same).
bool take_one(loop_state *L, const taken_msg &t, bool *txn_ok, std::vector<stored_msg> *done)
{
	if (!t.faults.empty()) {
		std::string f;
		for (auto &x : t.faults)
			f += (f.empty() ? "" : ", ") + x;
		say(LOG_WARNING, "message from the server kept despite: " + f);
	}
	held h;
	h.has_signal = t.has_signal;
	keeper_result r;
	std::string err;
	int d;
	{
		std::lock_guard<std::mutex> g(L->sel.lock);
		d = keeper_decide(L->st, &L->sel.cur->rec.filters, t, time(nullptr), &r, &err);
	}
	if (d < 0) {
		// The store cannot even be read: show it, keep it.
		say(LOG_ERR, "deciding on a message: " + err);
		r.msg.decision = msg_decision::shown;
	}
	h.msg = r.msg;
	h.remember = r.remember;
	L->pending.push_back(h);
	if (*txn_ok && L->pending.size() == 1)
		*txn_ok = store_begin(L->st, &err) == 0;
	if (*txn_ok) {
		stored_msg m = h.msg;
		*txn_ok = store_put(L->st, m, h.remember, &err) > 0;
		done->push_back(m);
	}
	return *txn_ok;
}

// Takes up to a batch of messages, deciding and storing each in one open
// transaction (later ones are decided against earlier ones), then commits
// them at once and hands them to the outputs.  True when the server may
// hold more.
bool take_batch(loop_state *L)
{
	const long long end = mono_ms() + kBatchMs;
	bool more = true, txn_ok = true;
	std::vector<stored_msg> done;
	while (more && L->conn.fd >= 0 && L->pending.size() < kBatchMax && mono_ms() < end && !g_watch_stop) {
		std::string reply, err, stale;
		fetch_result rc = fetch_request(&L->conn, "GETMSG", &reply, L->reply_ms(), &err, &stale);
		taken_msg t;
		if (!stale.empty()) {
			// A late answer to an earlier request, or the rest of one whose
			// header came alone: a message is kept, a status dropped.
			if (stale.rfind("GETMSG:\n", 0) != 0 && stale.rfind("GETSTATUS:", 0) != 0)
				stale = "GETMSG:\n" + stale;
			if (reply_parse_getmsg(stale, &t) == REPLY_MESSAGE) {
				t.faults.push_back("arrived late");
				if (!take_one(L, t, &txn_ok, &done))
					break;
			} else {
				say(LOG_WARNING, "dropped " + std::to_string(stale.size()) + " unrequested bytes from the server");
			}
		}
		if (rc == FETCH_FAILED) {
			lost(L, err);
			break;
		}
		if (rc == FETCH_SILENT) {
			// No answer: nothing to hand out (as some servers say it).
			L->silent = true;
			more = false;
			break;
		}
		L->last_heard = mono_ms();
		reply_kind k = reply_parse_getmsg(reply, &t);
		if (k == REPLY_EMPTY) {
			L->answers_empty = true;
			more = false;
		} else if (k == REPLY_GARBAGE) {
			lost(L, "not a GETMSG reply (\"" + reply.substr(0, 40) + "\")");
			break;
		} else {
			L->backoff_ms = 500;
			if (!take_one(L, t, &txn_ok, &done))
				break; // nothing more is taken while the store fails
		}
		if (rc == FETCH_CUT) {
			lost(L, "the server closed the connection in the middle of a reply");
			break;
		}
	}
	if (L->pending.empty())
		return more && L->conn.fd >= 0;
	std::string serr;
	if (txn_ok && store_commit(L->st, &serr) == 0) {
		if (L->store_failing)
			say(LOG_NOTICE, "the store is writable again");
		L->store_failing = false;
		for (size_t i = 0; i < done.size(); ++i)
			emit_message(&L->out, &L->sel, done[i], L->pending[i].has_signal);
		emit_indication(&L->out, L->st, time(nullptr));
		L->pending.clear();
	} else {
		store_abort(L->st);
		commit_held(L);
	}
	return more && L->conn.fd >= 0 && L->pending.empty();
}

void wait_events(loop_state *L, int timeout_ms)
{
	std::vector<pollfd> fds;
	if (L->out.nmea) {
		auto v = nmea_out_pollfds(*L->out.nmea);
		fds.insert(fds.end(), v.begin(), v.end());
		int t = nmea_out_timeout_ms(*L->out.nmea);
		if (t >= 0)
			timeout_ms = std::min(timeout_ms, t);
	}
	if (L->out.printer) {
		auto v = printer_pollfds(*L->out.printer);
		fds.insert(fds.end(), v.begin(), v.end());
		int t = printer_timeout_ms(*L->out.printer);
		if (t >= 0)
			timeout_ms = std::min(timeout_ms, t);
	}
	poll(fds.data(), fds.size(), std::max(timeout_ms, 0));
	if (L->out.nmea)
		nmea_out_service(*L->out.nmea);
	if (L->out.printer)
		printer_service(*L->out.printer);
}

} // namespace


int watch_loop(loop_state *L)
{
	while (!g_watch_stop) {
		alarm_reap();
		check_settings(L);
		emit_alarm_repeat(&L->out, L->st, &L->sel, time(nullptr));
		long long now = mono_ms();
		int wait = L->o->poll_ms;
		if (!L->pending.empty()) {
			// Nothing more is taken until the held messages are safe.
			if (now >= L->retry_at)
				commit_held(L);
			wait = std::min<long long>(wait, std::max<long long>(0, L->retry_at - now));
			if (L->pending.empty())
				wait = 0;
		} else if (L->conn.fd < 0) {
			if (now >= L->next_connect) {
				std::string err;
				if (fetch_connect(&L->conn, 5000, &err) == 0) {
					say(LOG_NOTICE, "connected to " + L->o->server);
					L->said_down = false;
					set_connected(L, true, "");
					L->next_status = 0;
					L->silent = false;
					L->answers_empty = false;
					L->last_heard = mono_ms();
				} else {
					lost(L, err);
				}
			}
			wait = static_cast<int>(std::min<long long>(wait * 4, std::max<long long>(0, L->next_connect - now)));
		} else {
			if (now >= L->next_status || L->silent) {
				take_status(L);
				L->next_status = now + L->o->status_s * 1000LL;
			}
			if (L->conn.fd >= 0 && take_batch(L))
				wait = 0;
		}
		wait_events(L, wait);
	}
	if (!L->pending.empty() && !commit_held(L))
		say(LOG_ERR, std::to_string(L->pending.size()) + " message(s) could not be stored before the end");
	return 0;
}
