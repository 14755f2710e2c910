// The message store on SQLite: schema and its checks, opening.
// Writes are in store_write.cpp, lists and flags in store_query.cpp.
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
	s->freq_count.clear();
	s->ident_bound.clear();
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
