// navwatch's message store: every message taken from the protocol server,
// its decision, read/kept/alarm flags, the copies a mended repeat was
// built from, and the identifier memory per frequency.  One SQLite file.
//
// Takes stored_msg records (times in seconds since 1970 UTC, error rates
// in percent, signal levels in dBm, frequencies 490, 518 or 4209 kHz) and
// gives them back newest first.  Every write is one transaction with
// synchronous=FULL on a WAL journal: once a call returns 0 the change
// survives kill -9 and power cuts.
//
// Threads: a `store` handle is used by one thread at a time.  Other threads
// (the web page) open their own handle on the same file; readers never
// block the writer, and a writer waits up to five seconds for another.
//
// Results: 0 (or a count/id) on success, negative on failure with a
// readable reason in *err when err is not null.
//
// The web page (-H) is started by the main loop through web_hook.h, which
// hands it the store's path; the page opens its own handle with
// store_open(path, STORE_OPEN_EXISTING, ...).
#ifndef NAVWATCH_STORE_H
#define NAVWATCH_STORE_H

#include <cstdint>
#include <string>
#include <vector>

// What became of a message when it was taken.
enum class msg_decision { shown = 0, repeat = 1, deselected = 2 };

// "shown", "repeat" or "deselected".
const char *decision_name(msg_decision d);

struct stored_msg {
	int64_t id = 0;         // row id, set by store_put; grows with each take
	int freq = 0;           // kHz: 490, 518, 4209
	std::string ident;      // B1B2B3B4, empty when unreadable
	int64_t rcv_time = 0;   // reception time from the server
	int64_t taken_time = 0; // when navwatch took it from the server
	double error_pct = 0;   // of the copy as received
	double signal_dbm = 0;
	std::string text;       // as received, '*' for each error
	msg_decision decision = msg_decision::shown;
	bool alarm = false;     // a shown type D message
	bool acked = false;     // its alarm was reset by a person
	bool read = false;
	bool kept = false;      // exempt from pruning
	// Mended repeats: when earlier copies filled this copy's '*', the
	// mended text and its error rate; `group` is the id of the first copy of
	// the message (this row's own id when it is the first), so the copies
	// of a message are the rows of its group.
	bool merged = false;
	std::string merged_text;      // empty unless merged
	double merged_error_pct = 0;  // equal to error_pct unless merged
	int64_t group = 0;            // 0 before store_put: the row's own id
	bool superseded = false;      // a later copy carries a better text

	// The text to show: the mended one when there is one.
	const std::string &shown_text() const { return merged ? merged_text : text; }
	double shown_error_pct() const { return merged ? merged_error_pct : error_pct; }
};

struct store;  // opaque handle

enum store_open_mode {
	STORE_OPEN_CREATE = 0,   // create the file and schema when absent
	STORE_OPEN_EXISTING = 1, // the file must exist
	STORE_OPEN_READONLY = 2, // existing, never written
};

// Opens (creating when asked) the store at path.  A file from a newer
// schema or another application is refused, never touched.  Null on
// failure with the reason in *err.
store *store_open(const std::string &path, store_open_mode mode, std::string *err);
void store_close(store *s);
// Schema version this program writes.
int store_schema_version();

// Limits applied by store_put and store_prune.
struct store_limits {
	int per_freq = 2000;           // messages kept per frequency
	int64_t ident_hold_s = 72 * 3600; // identifier memory time
	int ident_per_freq = 1000;     // identifiers remembered per frequency (>= 200)
};
void store_set_limits(store *s, const store_limits &lim);
store_limits store_get_limits(const store *s);

// Commits a taken message; when remember_ident, its identifier goes into
// the memory of its frequency at m.taken_time in the same transaction.
// Fills m.id (and m.group when 0).  A shown later copy of a group marks
// the earlier ones superseded.  Prunes the oldest unkept messages of the
// frequency beyond the limit.  Returns m.id (> 0) or -1.
int64_t store_put(store *s, stored_msg &m, bool remember_ident, std::string *err);

// Several puts in one transaction, so one disk sync: store_begin, puts,
// store_commit (0 when all of them are safe; on -1 none is stored).
// store_abort undoes the open batch.
int store_begin(store *s, std::string *err);
int store_commit(store *s, std::string *err);
void store_abort(store *s);

// Filters for store_list/store_count.  Empty strings and zeros match all.
struct store_query {
	int freq = 0;                // kHz
	std::string stations;        // B1 letters, any of them
	std::string types;           // B2 letters, any of them
	std::string text;            // substring of the shown text, case-insensitive
	bool all = false;            // include repeats, deselected and superseded copies
	bool unread_only = false;
	bool alarm_only = false;     // shown type D not yet acknowledged
	bool kept_only = false;
	int64_t before_id = 0;       // keyset paging: only ids below this
	int offset = 0;
	int limit = 50;              // at most 1000
};
// Newest (highest id) first.  Returns the count listed or -1.
int store_list(store *s, const store_query &q, std::vector<stored_msg> *out, std::string *err);
// Number of messages the query matches, ignoring offset/limit/before_id.
int64_t store_count(store *s, const store_query &q, std::string *err);

// One message; *copies (when not null) receives the other rows of its group,
// oldest first.  0, 1 when there is no such id, -1 on error.
int store_get(store *s, int64_t id, stored_msg *m, std::vector<stored_msg> *copies, std::string *err);
// Earlier copies of a message within the identifier hold time (any
// decision), oldest first: what a repeat is mended from.
int store_copies_of(store *s, int freq, const std::string &ident, int64_t now,
		    std::vector<stored_msg> *out, std::string *err);

// Flags.  id 0 means every message.  Return 0, 1 for no such id, -1 on error.
int store_mark_read(store *s, int64_t id, std::string *err);
int store_ack_alarm(store *s, int64_t id, std::string *err);
// Resets every alarm and marks everything read (the person's "ack").
int store_ack_all(store *s, std::string *err);
// Keeping is refused (-2, reason in *err) when the frequency's kept
// messages would pass a quarter of its limit.
int store_keep(store *s, int64_t id, bool keep, std::string *err);

struct store_counts {
	int64_t total = 0;
	int64_t unread = 0;        // shown, unread, taken within the last 24 h
	int64_t alarms = 0;        // unacknowledged alarms
	int64_t kept = 0;
	int64_t newest_id = 0;     // for "anything new since" polling
};
int store_get_counts(store *s, int64_t now, store_counts *c, std::string *err);

// Identifier memory.  1 when (freq, ident) was remembered within hold_s
// of now, 0 when not, -1 on error.
int store_ident_known(store *s, int freq, const std::string &ident, int64_t now, std::string *err);
int store_ident_remember(store *s, int freq, const std::string &ident, int64_t now, std::string *err);
// Identifiers older than the hold time go; beyond the per-frequency count
// the oldest go first.  Messages beyond per_freq (oldest unkept) go.
// Returns the rows removed or -1.
int store_prune(store *s, int64_t now, std::string *err);

#endif
