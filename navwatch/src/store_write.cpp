// The store's writing side: batches, a taken message with its copies' links, the
// identifier memory, and pruning to the limits.
#include "store_db.h"

namespace {

int64_t count_where(store *s, const char *sql, int freq, std::string *err)
{
	sqlite3_stmt *st = store_stmt(s, sql, err);
	if (!st)
		return -1;
	sqlite3_bind_int(st, 1, freq);
	if (sqlite3_step(st) != SQLITE_ROW)
		return store_fail(s, "counting", err);
	int64_t n = sqlite3_column_int64(st, 0);
	sqlite3_reset(st);
	return n;
}

int remember(store *s, int freq, const std::string &ident, int64_t now, std::string *err)
{
	sqlite3_stmt *st = store_stmt(s, "INSERT OR REPLACE INTO idmem(freq, ident, stored) VALUES(?,?,?)", err);
	if (!st)
		return -1;
	sqlite3_bind_int(st, 1, freq);
	sqlite3_bind_text(st, 2, ident.c_str(), -1, SQLITE_TRANSIENT);
	sqlite3_bind_int64(st, 3, now);
	if (sqlite3_step(st) != SQLITE_DONE)
		return store_fail(s, "remembering an identifier", err);
	// Full: the oldest go first.  The count is only walked when the bound
	// says the limit may be passed.
	auto b = s->ident_bound.find(freq);
	if (b != s->ident_bound.end() && ++b->second <= s->limits.ident_per_freq)
		return 0;
	int64_t n = count_where(s, "SELECT count(*) FROM idmem WHERE freq=?", freq, err);
	if (n < 0)
		return -1;
	if (n > s->limits.ident_per_freq) {
		st = store_stmt(s, "DELETE FROM idmem WHERE rowid IN (SELECT rowid FROM idmem"
				   " WHERE freq=? ORDER BY stored LIMIT ?)", err);
		if (!st)
			return -1;
		sqlite3_bind_int(st, 1, freq);
		sqlite3_bind_int64(st, 2, n - s->limits.ident_per_freq);
		if (sqlite3_step(st) != SQLITE_DONE)
			return store_fail(s, "forgetting old identifiers", err);
		n = s->limits.ident_per_freq;
	}
	s->ident_bound[freq] = n;
	return 0;
}

// Removes the oldest unkept messages of freq beyond the limit; the count.
int prune_freq(store *s, int freq, std::string *err)
{
	auto c = s->freq_count.find(freq);
	int64_t n = c != s->freq_count.end()
			    ? c->second
			    : count_where(s, "SELECT count(*) FROM messages WHERE freq=?", freq, err);
	if (n < 0)
		return -1;
	int removed = 0;
	if (n > s->limits.per_freq) {
		sqlite3_stmt *st = store_stmt(s, "DELETE FROM messages WHERE id IN (SELECT id FROM messages"
				   " WHERE freq=? AND kept=0 ORDER BY id LIMIT ?)", err);
		if (!st)
			return -1;
		sqlite3_bind_int(st, 1, freq);
		sqlite3_bind_int64(st, 2, n - s->limits.per_freq);
		if (sqlite3_step(st) != SQLITE_DONE)
			return store_fail(s, "pruning", err);
		removed = sqlite3_changes(s->db);
	}
	s->freq_count[freq] = n - removed;
	return removed;
}

// Inside an open batch a put is a savepoint, else a transaction of its own.
int put_begin(store *s, bool *own, std::string *err)
{
	*own = sqlite3_get_autocommit(s->db);
	return store_exec(s, *own ? "BEGIN IMMEDIATE" : "SAVEPOINT put", err);
}

int put_end(store *s, bool own, bool ok, std::string *err)
{
	if (ok && store_exec(s, own ? "COMMIT" : "RELEASE put", err) == 0)
		return 0;
	if (own) {
		store_rollback(s);
	} else {
		sqlite3_exec(s->db, "ROLLBACK TO put; RELEASE put", nullptr, nullptr, nullptr);
		s->freq_count.clear();
		s->ident_bound.clear();
	}
	return -1;
}

} // namespace

int store_begin(store *s, std::string *err)
{
	return store_exec(s, "BEGIN IMMEDIATE", err);
}

int store_commit(store *s, std::string *err)
{
	if (store_exec(s, "COMMIT", err) < 0) {
		store_rollback(s);
		return -1;
	}
	return 0;
}

void store_abort(store *s) { store_rollback(s); }

int64_t store_put(store *s, stored_msg &m, bool remember_ident, std::string *err)
{
	bool own = true;
	if (put_begin(s, &own, err) < 0)
		return -1;
	sqlite3_stmt *st = store_stmt(s, "INSERT INTO messages(freq, ident, rcv_time, taken_time, error_pct,"
			   " signal_dbm, text, decision, alarm, acked, read, kept, merged, merged_text,"
			   " merged_error_pct, grp, superseded) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,0)", err);
	if (!st) {
		put_end(s, own, false, err);
		return -1;
	}
	sqlite3_bind_int(st, 1, m.freq);
	sqlite3_bind_text(st, 2, m.ident.c_str(), -1, SQLITE_TRANSIENT);
	sqlite3_bind_int64(st, 3, m.rcv_time);
	sqlite3_bind_int64(st, 4, m.taken_time);
	sqlite3_bind_double(st, 5, m.error_pct);
	sqlite3_bind_double(st, 6, m.signal_dbm);
	sqlite3_bind_text(st, 7, m.text.data(), static_cast<int>(m.text.size()), SQLITE_TRANSIENT);
	sqlite3_bind_int(st, 8, static_cast<int>(m.decision));
	sqlite3_bind_int(st, 9, m.alarm);
	sqlite3_bind_int(st, 10, m.acked);
	sqlite3_bind_int(st, 11, m.read);
	sqlite3_bind_int(st, 12, m.kept);
	sqlite3_bind_int(st, 13, m.merged);
	sqlite3_bind_text(st, 14, m.merged_text.data(), static_cast<int>(m.merged_text.size()), SQLITE_TRANSIENT);
	sqlite3_bind_double(st, 15, m.merged ? m.merged_error_pct : m.error_pct);
	sqlite3_bind_int64(st, 16, m.group);
	if (sqlite3_step(st) != SQLITE_DONE) {
		store_fail(s, "storing a message", err);
		put_end(s, own, false, err);
		return -1;
	}
	int64_t id = sqlite3_last_insert_rowid(s->db);
	auto fc = s->freq_count.find(m.freq);
	if (fc != s->freq_count.end())
		++fc->second;
	bool ok = true;
	if (m.group == 0) {
		st = store_stmt(s, "UPDATE messages SET grp=id WHERE id=?", err);
		ok = st;
		if (ok) {
			sqlite3_bind_int64(st, 1, id);
			ok = sqlite3_step(st) == SQLITE_DONE;
		}
	} else if (m.decision == msg_decision::shown) {
		st = store_stmt(s, "UPDATE messages SET superseded=1 WHERE grp=? AND id<?", err);
		ok = st;
		if (ok) {
			sqlite3_bind_int64(st, 1, m.group);
			sqlite3_bind_int64(st, 2, id);
			ok = sqlite3_step(st) == SQLITE_DONE;
		}
	}
	if (!ok)
		store_fail(s, "linking copies", err);
	if (ok && remember_ident && !m.ident.empty())
		ok = remember(s, m.freq, m.ident, m.taken_time, err) == 0;
	if (ok)
		ok = prune_freq(s, m.freq, err) >= 0;
	if (put_end(s, own, ok, err) < 0)
		return -1;
	m.id = id;
	if (m.group == 0)
		m.group = id;
	return id;
}

int store_ident_known(store *s, int freq, const std::string &ident, int64_t now, std::string *err)
{
	sqlite3_stmt *st = store_stmt(s, "SELECT 1 FROM idmem WHERE freq=? AND ident=? AND stored>=?", err);
	if (!st)
		return -1;
	sqlite3_bind_int(st, 1, freq);
	sqlite3_bind_text(st, 2, ident.c_str(), -1, SQLITE_TRANSIENT);
	sqlite3_bind_int64(st, 3, now - s->limits.ident_hold_s);
	int rc = sqlite3_step(st);
	sqlite3_reset(st);
	if (rc == SQLITE_ROW)
		return 1;
	return rc == SQLITE_DONE ? 0 : store_fail(s, "looking up an identifier", err);
}

int store_ident_remember(store *s, int freq, const std::string &ident, int64_t now, std::string *err)
{
	if (store_exec(s, "BEGIN IMMEDIATE", err) < 0)
		return -1;
	if (remember(s, freq, ident, now, err) < 0 || store_exec(s, "COMMIT", err) < 0) {
		store_rollback(s);
		return -1;
	}
	return 0;
}

int store_prune(store *s, int64_t now, std::string *err)
{
	if (store_exec(s, "BEGIN IMMEDIATE", err) < 0)
		return -1;
	int removed = 0;
	sqlite3_stmt *st = store_stmt(s, "DELETE FROM idmem WHERE stored<?", err);
	bool ok = st;
	if (ok) {
		sqlite3_bind_int64(st, 1, now - s->limits.ident_hold_s);
		ok = sqlite3_step(st) == SQLITE_DONE;
		removed += sqlite3_changes(s->db);
	}
	for (int f : {490, 518, 4209}) {
		int n = ok ? prune_freq(s, f, err) : -1;
		ok = n >= 0;
		removed += ok ? n : 0;
	}
	if (!ok || store_exec(s, "COMMIT", err) < 0) {
		store_rollback(s);
		return -1;
	}
	return removed;
}
