// Where the web page (-H [address:]port) meets navwatch's main loop.
//
// The main loop fills a web_context and calls web_start once, after the
// store is open and before the first message is taken; after each message
// is committed it calls web_message_taken; at exit web_stop.  These three
// are defined by the web page's files (src/web*.cpp); without them navwatch
// is built without -H (NAVWATCH_WEB undefined) and refuses the option.
//
// The page runs in threads of its own.  It opens its own store handle on
// ctx.db_path (see store.h); everything else it reaches through the
// context's functions, which are safe to call from any thread.
#ifndef NAVWATCH_WEB_HOOK_H
#define NAVWATCH_WEB_HOOK_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "store.h"

// One channel's line of the last GETSTATUS reply.
struct channel_state {
	int freq = 0;           // kHz
	std::string state;      // "IDLE", "RCV", "????"
	double dbm = 0;
	int64_t time = 0;       // when it was read, seconds since 1970
};

// Connection to the protocol server and the channels' last status.
struct server_state {
	std::string address;        // host:port
	bool connected = false;
	std::string last_error;     // why it is not connected, empty when it is
	std::vector<channel_state> channels;
};

// The letter selections of one frequency as the settings file holds them:
// entry i stands for 'A' + i, 1 when the letter is listed in the file's
// "coast-stations" / "message-filter" key of that frequency.  A listed
// letter is one message_filter filters out; on 518 kHz types A, B, D, L
// and serial 00 pass whatever is listed, and navwatch holds them on for
// every frequency.
struct freq_selection {
	int freq = 0;
	int stations[26] = {};
	int types[26] = {};
};

struct web_context {
	std::string listen;               // -H value: "[address:]port"
	std::vector<std::string> writers; // -W addresses allowed to change things
	std::string db_path;
	std::string settings_path;
	// Thread-safe snapshot of the server connection and channel status.
	std::function<server_state()> status;
	// The three frequencies' selections as last read from the settings file.
	std::function<std::vector<freq_selection>()> get_selections;
	// Writes one frequency's selections through the settings code and
	// applies them at once; 0, or -1 with the reason in *err.
	std::function<int(const freq_selection &, std::string *err)> set_selections;
};

// 0 when the page serves, -1 with the reason in *err.
int web_start(const web_context &ctx, std::string *err);
// A message was committed to the store (any decision).  Must not block.
void web_message_taken(const stored_msg &m);
void web_stop();

#endif
