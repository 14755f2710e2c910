// The main loop's state, shared by its two files: watch_loop.cpp (taking,
// committing, outputs) and watch.cpp (start-up).  One thread owns it; the
// web page reads `status` and the selections under their locks.
#ifndef NAVWATCH_WATCH_STATE_H
#define NAVWATCH_WATCH_STATE_H

#include <csignal>
#include <mutex>
#include <string>
#include <vector>

#include "emit.h"
#include "fetch.h"
#include "selections.h"
#include "store.h"
#include "watch.h"
#include "web_hook.h"

extern volatile sig_atomic_t g_watch_stop;
extern volatile sig_atomic_t g_watch_reload;

// A message taken and decided, not yet known to be committed.
struct held {
	stored_msg msg;       // as decided, before the store gave it an id
	bool remember = false;
	bool has_signal = false;
};

struct loop_state {
	const watch_options *o = nullptr;
	store *st = nullptr;
	selections sel;
	emitters out;
	fetch_conn conn;
	std::mutex status_lock;
	server_state status;
	std::vector<held> pending;     // the store failed: kept here, retried
	bool store_failing = false;
	long long retry_at = 0;
	long long next_connect = 0;
	int backoff_ms = 500;
	bool said_down = false;
	long long next_status = 0;
	long long next_settings_check = 0;
	// A server that leaves a GETMSG unanswered when it has nothing (and
	// may want status requests before it hands a message out) is asked for
	// its status every round.
	bool silent = false;
	bool answers_empty = false; // it says "GETMSG:" when it has nothing
	long long last_heard = 0;
	int reply_ms() const { return answers_empty ? 10000 : silent ? 250 : 2000; }
};

// Runs until g_watch_stop; the exit status.
int watch_loop(loop_state *L);

#endif
