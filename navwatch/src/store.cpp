// The message store on SQLite: schema and its checks, writes, flags,
// identifier memory and pruning.  The list queries live in store_query.cpp.
#include "store_db.h"

#include <sys/statfs.h>
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>

namespace {

// 'NAVW': marks a file as this program's store.
constexpr int kApplicationId = 0x4E415657;
constexpr int kSchemaVersion = 1;
constexpr long kJffs2Magic = 0x72b6;

const char *kSchema =
	"CREATE TABLE messages("
	" id INTEGER PRIMARY KEY, freq INTEGER NOT NULL, ident TEXT NOT NULL,"
	" rcv_time INTEGER NOT NULL, taken_time INTEGER NOT NULL,"
	" error_pct REAL NOT NULL, signal_dbm REAL NOT NULL, text TEXT NOT NULL,"
	" decision INTEGER NOT NULL, alarm INTEGER NOT NULL, acked INTEGER NOT NULL,"
	" read INTEGER NOT NULL, kept INTEGER NOT NULL, merged INTEGER NOT NULL,"
	" merged_text TEXT NOT NULL, merged_error_pct REAL NOT NULL, grp INTEGER NOT NULL,"
	" superseded INTEGER NOT NULL);"
	"CREATE INDEX messages_freq ON messages(freq, id);"
	"CREATE INDEX messages_ident ON messages(freq, ident, id);"
	"CREATE INDEX messages_grp ON messages(grp);"
	// The counts the indication and the alarm ask for after every message.
	"CREATE INDEX messages_unread ON messages(taken_time) WHERE decision=0 AND superseded=0 AND read=0;"
	"CREATE INDEX messages_alarm ON messages(id) WHERE alarm=1 AND acked=0;"
	"CREATE INDEX messages_kept ON messages(freq) WHERE kept=1;"
	"CREATE TABLE idmem(freq INTEGER NOT NULL, ident TEXT NOT NULL,"
	" stored INTEGER NOT NULL, PRIMARY KEY(freq, ident));"
	"CREATE INDEX idmem_age ON idmem(freq, stored);";

int64_t one_int(store *s, const char *sql, std::string *err, int64_t fallback = -1)
{
	sqlite3_stmt *st = store_stmt(s, sql, err);
	if (!st)
		return fallback;
	int64_t v = fallback;
	int rc = sqlite3_step(st);
	if (rc == SQLITE_ROW)
		v = sqlite3_column_int64(st, 0);
	else if (rc != SQLITE_DONE)
		store_fail(s, "reading", err);
	sqlite3_reset(st);
	return v;
}

// A file system without shared writable mappings (jffs2) cannot hold the
// write-ahead log's index; it gets the rollback journal instead.
bool wal_possible(const std::string &path)
{
	std::string dir = path;
	size_t slash = dir.rfind('/');
	dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
	struct statfs fs {};
	if (statfs(dir.c_str(), &fs) != 0)
		return true;
	return static_cast<long>(fs.f_type) != kJffs2Magic;
}

} // namespace

const char *decision_name(msg_decision d)
{
	switch (d) {
	case msg_decision::shown: return "shown";
	case msg_decision::repeat: return "repeat";
	case msg_decision::deselected: return "deselected";
	}
	return "shown";
}

int store_schema_version() { return kSchemaVersion; }

store::~store()
{
	for (auto &kv : stmts)
		sqlite3_finalize(kv.second);
	if (db)
		sqlite3_close(db);
}

sqlite3_stmt *store_stmt(store *s, const char *sql, std::string *err)
{
	auto it = s->stmts.find(sql);
	if (it != s->stmts.end()) {
		sqlite3_reset(it->second);
		sqlite3_clear_bindings(it->second);
		return it->second;
	}
	sqlite3_stmt *st = nullptr;
	if (sqlite3_prepare_v2(s->db, sql, -1, &st, nullptr) != SQLITE_OK) {
		store_fail(s, "preparing a query", err);
		return nullptr;
	}
	s->stmts.emplace(sql, st);
	return st;
}

int store_fail(store *s, const char *what, std::string *err)
{
	if (err)
		*err = s->path + ": " + what + ": " + sqlite3_errmsg(s->db);
	return -1;
}

int store_exec(store *s, const char *sql, std::string *err)
{
	char *msg = nullptr;
	if (sqlite3_exec(s->db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
		if (err)
			*err = s->path + ": " + (msg ? msg : sqlite3_errmsg(s->db));
		sqlite3_free(msg);
		return -1;
	}
	return 0;
}

void store_rollback(store *s)
{
	if (!sqlite3_get_autocommit(s->db))
		sqlite3_exec(s->db, "ROLLBACK", nullptr, nullptr, nullptr);
}

store *store_open(const std::string &path, store_open_mode mode, std::string *err)
{
	struct stat sb {};
	bool exists = stat(path.c_str(), &sb) == 0;
	if (!exists && mode != STORE_OPEN_CREATE) {
		if (err)
			*err = path + ": no such store";
		return nullptr;
	}
	auto s = std::make_unique<store>();
	s->path = path;
	int flags = mode == STORE_OPEN_READONLY ? SQLITE_OPEN_READONLY
						: SQLITE_OPEN_READWRITE | (mode == STORE_OPEN_CREATE ? SQLITE_OPEN_CREATE : 0);
	if (sqlite3_open_v2(path.c_str(), &s->db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
		store_fail(s.get(), "cannot open", err);
		return nullptr;
	}
	sqlite3_busy_timeout(s->db, 5000);

	// A foreign or newer file is refused before anything is written to it.
	int64_t app = one_int(s.get(), "PRAGMA application_id", err);
	if (app < 0) {
		if (err)
			*err = path + ": not a navwatch store (" + sqlite3_errmsg(s->db) + ")";
		return nullptr;
	}
	int64_t version = one_int(s.get(), "PRAGMA user_version", err);
	int64_t objects = one_int(s.get(), "SELECT count(*) FROM sqlite_master", err);
	if (version < 0 || objects < 0)
		return nullptr;
	if (app != kApplicationId && (app != 0 || objects != 0 || version != 0)) {
		if (err) {
			char buf[64];
			snprintf(buf, sizeof buf, "%" PRIx64, app);
			*err = path + ": not a navwatch store (application id 0x" + buf +
			       "); left as it is";
		}
		return nullptr;
	}
	if (version > kSchemaVersion) {
		if (err)
			*err = path + ": written by a newer navwatch (schema " + std::to_string(version) +
			       ", this one knows " + std::to_string(kSchemaVersion) + "); left as it is";
		return nullptr;
	}
	if (mode == STORE_OPEN_READONLY) {
		if (objects == 0) {
			if (err)
				*err = path + ": empty store";
			return nullptr;
		}
		return s.release();
	}
	if (store_exec(s.get(), wal_possible(path) ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=TRUNCATE",
		       err) < 0 ||
	    store_exec(s.get(), "PRAGMA synchronous=FULL", err) < 0)
		return nullptr;
	if (objects == 0) {
		std::string sql = std::string("BEGIN IMMEDIATE;") + kSchema +
				  "PRAGMA application_id=" + std::to_string(kApplicationId) +
				  ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";COMMIT;";
		if (store_exec(s.get(), sql.c_str(), err) < 0) {
			store_rollback(s.get());
			return nullptr;
		}
	}
	return s.release();
}

void store_close(store *s) { delete s; }

void store_set_limits(store *s, const store_limits &lim) { s->limits = lim; }
store_limits store_get_limits(const store *s) { return s->limits; }

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
	// Full: the oldest go first.  Counting first keeps the usual case
	// (nothing to drop) to one index walk.
	int64_t n = count_where(s, "SELECT count(*) FROM idmem WHERE freq=?", freq, err);
	if (n < 0)
		return -1;
	if (n <= s->limits.ident_per_freq)
		return 0;
	st = store_stmt(s, "DELETE FROM idmem WHERE rowid IN (SELECT rowid FROM idmem"
			   " WHERE freq=? ORDER BY stored LIMIT ?)", err);
	if (!st)
		return -1;
	sqlite3_bind_int(st, 1, freq);
	sqlite3_bind_int64(st, 2, n - s->limits.ident_per_freq);
	if (sqlite3_step(st) != SQLITE_DONE)
		return store_fail(s, "forgetting old identifiers", err);
	return 0;
}

// Removes the oldest unkept messages of freq beyond the limit; the count.
int prune_freq(store *s, int freq, std::string *err)
{
	int64_t n = count_where(s, "SELECT count(*) FROM messages WHERE freq=?", freq, err);
	if (n < 0)
		return -1;
	if (n <= s->limits.per_freq)
		return 0;
	sqlite3_stmt *st = store_stmt(s, "DELETE FROM messages WHERE id IN (SELECT id FROM messages"
			   " WHERE freq=? AND kept=0 ORDER BY id LIMIT ?)", err);
	if (!st)
		return -1;
	sqlite3_bind_int(st, 1, freq);
	sqlite3_bind_int64(st, 2, n - s->limits.per_freq);
	if (sqlite3_step(st) != SQLITE_DONE)
		return store_fail(s, "pruning", err);
	return sqlite3_changes(s->db);
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
	if (own)
		store_rollback(s);
	else
		sqlite3_exec(s->db, "ROLLBACK TO put; RELEASE put", nullptr, nullptr, nullptr);
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
