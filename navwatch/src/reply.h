// Reading the protocol server's replies.  Takes the whole text of one
// GETMSG or GETSTATUS reply, as it came (possibly cut short, garbled or
// without its trailer lines); gives the message or the channel lines and a
// list of what was wrong with it.  Never fails on a message: whatever text
// follows "GETMSG:\n" is kept.
#ifndef NAVWATCH_REPLY_H
#define NAVWATCH_REPLY_H

#include <cstdint>
#include <string>
#include <vector>

#include "web_hook.h"

// One message as the server sent it.
struct taken_msg {
	int freq = 0;                 // kHz, 0 when unreadable
	std::string ident;            // B1B2B3B4 when readable ([A-Z][A-Z][0-9][0-9]), else empty
	std::string raw_ident;        // the identifier line as sent
	std::string text;             // the body, usually ending in "NNNN"
	double error_pct = 0;         // from ERROR, or counted from the '*' when missing
	bool has_signal = false;
	double signal_dbm = 0;
	bool has_time = false;
	int64_t rcv_time = 0;         // from TIME, seconds since 1970
	std::vector<std::string> faults; // what was missing or malformed
};

enum reply_kind { REPLY_GARBAGE = -1, REPLY_EMPTY = 0, REPLY_MESSAGE = 1 };

// Reads a GETMSG reply.  REPLY_EMPTY for the bare header, REPLY_MESSAGE with
// *m filled, REPLY_GARBAGE (reason in m->faults) when it does not start with
// the header.
reply_kind reply_parse_getmsg(const std::string &reply, taken_msg *m);

// Reads a GETSTATUS reply ("FREQ:%d,ST:%s,DBM:%f" lines; SIG: as some test
// servers write it is read as well).  The count of channels read, -1 when
// it is not a status reply.
int reply_parse_status(const std::string &reply, int64_t now, std::vector<channel_state> *out);

// 1 when reply is a whole GETMSG/GETSTATUS reply that needs nothing more
// (the empty header alone is reported 0: it may be a first fragment).
int reply_complete(const std::string &reply);

// A readable identifier: two capital letters and two figures.
bool ident_readable(const std::string &id);

#endif
