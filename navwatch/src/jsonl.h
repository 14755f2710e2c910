// JSON Lines output (-J file|-): one object per message taken from the
// server, written after the message is committed.  Keys: seq (store id),
// freq (kHz or null), id (B1B2B3B4 or null), time (reception, ISO 8601
// UTC), error_pct, signal_dbm (null when the server sent none), text (the
// shown, possibly mended, text), decision, alarm, merged.  Text bytes
// outside printable ASCII are escaped, so every line is valid UTF-8.
#ifndef NAVWATCH_JSONL_H
#define NAVWATCH_JSONL_H

#include <cstdint>
#include <string>

#include "store.h"

// The object for m, with its line feed.
std::string jsonl_line(const stored_msg &m, bool has_signal);

// "2026-12-09T04:21:15Z".
std::string jsonl_time(int64_t t);

// A JSON string literal for arbitrary bytes.
std::string jsonl_string(const std::string &s);

struct jsonl_out {
	std::string path;
	int fd = -1;
	bool failing = false; // a write failure was said
};

// Opens path for appending ("-" is standard output).  0 or -1.
int jsonl_open(jsonl_out *o, const std::string &path, std::string *err);
// Writes one line; a failure is said once (returns -1) until writing works again.
int jsonl_write(jsonl_out *o, const std::string &line, std::string *err);
void jsonl_close(jsonl_out *o);

#endif
