// The store's reading side and its flags: lists with filters and paging,
// one message with its copies, counts, read/alarm/keep flags.
#include "store_db.h"

namespace {

#define MSG_COLUMNS                                                                              \
	"id, freq, ident, rcv_time, taken_time, error_pct, signal_dbm, text, decision, alarm, acked," \
	" read, kept, merged, merged_text, merged_error_pct, grp, superseded"

std::string column_text(sqlite3_stmt *st, int i)
{
	const void *p = sqlite3_column_blob(st, i);
	int n = sqlite3_column_bytes(st, i);
	return p ? std::string(static_cast<const char *>(p), static_cast<size_t>(n)) : std::string();
}

stored_msg read_row(sqlite3_stmt *st)
{
	stored_msg m;
	m.id = sqlite3_column_int64(st, 0);
	m.freq = sqlite3_column_int(st, 1);
	m.ident = column_text(st, 2);
	m.rcv_time = sqlite3_column_int64(st, 3);
	m.taken_time = sqlite3_column_int64(st, 4);
	m.error_pct = sqlite3_column_double(st, 5);
	m.signal_dbm = sqlite3_column_double(st, 6);
	m.text = column_text(st, 7);
	int d = sqlite3_column_int(st, 8);
	m.decision = d == 1 ? msg_decision::repeat : d == 2 ? msg_decision::deselected : msg_decision::shown;
	m.alarm = sqlite3_column_int(st, 9);
	m.acked = sqlite3_column_int(st, 10);
	m.read = sqlite3_column_int(st, 11);
	m.kept = sqlite3_column_int(st, 12);
	m.merged = sqlite3_column_int(st, 13);
	m.merged_text = column_text(st, 14);
	m.merged_error_pct = sqlite3_column_double(st, 15);
	m.group = sqlite3_column_int64(st, 16);
	m.superseded = sqlite3_column_int(st, 17);
	return m;
}

// A statement built for one query (its text varies with the filters).
struct query_stmt {
	sqlite3_stmt *st = nullptr;
	~query_stmt() { sqlite3_finalize(st); }
};

// WHERE clause and its text bindings, in order.
std::string where_clause(const store_query &q, std::vector<std::string> *binds)
{
	std::string w = " WHERE 1";
	if (!q.all)
		w += " AND decision=0 AND superseded=0";
	if (q.freq)
		w += " AND freq=" + std::to_string(q.freq);
	if (!q.stations.empty()) {
		w += " AND length(ident)=4 AND instr(?, substr(ident,1,1))>0";
		binds->push_back(q.stations);
	}
	if (!q.types.empty()) {
		w += " AND length(ident)=4 AND instr(?, substr(ident,2,1))>0";
		binds->push_back(q.types);
	}
	if (!q.text.empty()) {
		w += " AND instr(upper(CASE merged WHEN 1 THEN merged_text ELSE text END), upper(?))>0";
		binds->push_back(q.text);
	}
	if (q.unread_only)
		w += " AND read=0";
	if (q.alarm_only)
		w += " AND alarm=1 AND acked=0";
	if (q.kept_only)
		w += " AND kept=1";
	return w;
}

int prepare(store *s, const std::string &sql, const std::vector<std::string> &binds, query_stmt *qs,
	    std::string *err)
{
	if (sqlite3_prepare_v2(s->db, sql.c_str(), -1, &qs->st, nullptr) != SQLITE_OK)
		return store_fail(s, "preparing a list", err);
	for (size_t i = 0; i < binds.size(); ++i)
		sqlite3_bind_text(qs->st, static_cast<int>(i + 1), binds[i].c_str(), -1, SQLITE_TRANSIENT);
	return 0;
}

int update(store *s, const char *sql, int64_t id, std::string *err)
{
	sqlite3_stmt *st = store_stmt(s, sql, err);
	if (!st)
		return -1;
	sqlite3_bind_int64(st, 1, id);
	if (sqlite3_step(st) != SQLITE_DONE)
		return store_fail(s, "updating", err);
	return id != 0 && sqlite3_changes(s->db) == 0 ? 1 : 0;
}

} // namespace

int store_list(store *s, const store_query &q, std::vector<stored_msg> *out, std::string *err)
{
	std::vector<std::string> binds;
	std::string sql = "SELECT " MSG_COLUMNS " FROM messages" + where_clause(q, &binds);
	if (q.before_id > 0)
		sql += " AND id<" + std::to_string(q.before_id);
	int limit = q.limit < 0 ? 0 : q.limit > 1000 ? 1000 : q.limit;
	sql += " ORDER BY id DESC LIMIT " + std::to_string(limit) + " OFFSET " +
	       std::to_string(q.offset < 0 ? 0 : q.offset);
	query_stmt qs;
	if (prepare(s, sql, binds, &qs, err) < 0)
		return -1;
	out->clear();
	int rc;
	while ((rc = sqlite3_step(qs.st)) == SQLITE_ROW)
		out->push_back(read_row(qs.st));
	if (rc != SQLITE_DONE)
		return store_fail(s, "listing", err);
	return static_cast<int>(out->size());
}

int64_t store_count(store *s, const store_query &q, std::string *err)
{
	std::vector<std::string> binds;
	std::string sql = "SELECT count(*) FROM messages" + where_clause(q, &binds);
	query_stmt qs;
	if (prepare(s, sql, binds, &qs, err) < 0)
		return -1;
	if (sqlite3_step(qs.st) != SQLITE_ROW)
		return store_fail(s, "counting", err);
	return sqlite3_column_int64(qs.st, 0);
}

int store_get(store *s, int64_t id, stored_msg *m, std::vector<stored_msg> *copies, std::string *err)
{
	sqlite3_stmt *st = store_stmt(s, "SELECT " MSG_COLUMNS " FROM messages WHERE id=?", err);
	if (!st)
		return -1;
	sqlite3_bind_int64(st, 1, id);
	int rc = sqlite3_step(st);
	if (rc == SQLITE_DONE)
		return 1;
	if (rc != SQLITE_ROW)
		return store_fail(s, "reading a message", err);
	*m = read_row(st);
	sqlite3_reset(st);
	if (!copies)
		return 0;
	copies->clear();
	st = store_stmt(s, "SELECT " MSG_COLUMNS " FROM messages WHERE grp=? AND id<>? ORDER BY id", err);
	if (!st)
		return -1;
	sqlite3_bind_int64(st, 1, m->group);
	sqlite3_bind_int64(st, 2, id);
	while ((rc = sqlite3_step(st)) == SQLITE_ROW)
		copies->push_back(read_row(st));
	return rc == SQLITE_DONE ? 0 : store_fail(s, "reading copies", err);
}

int store_copies_of(store *s, int freq, const std::string &ident, int64_t now,
		    std::vector<stored_msg> *out, std::string *err)
{
	sqlite3_stmt *st = store_stmt(s, "SELECT " MSG_COLUMNS " FROM messages WHERE freq=? AND ident=?"
				      " AND taken_time>=? ORDER BY id", err);
	if (!st)
		return -1;
	sqlite3_bind_int(st, 1, freq);
	sqlite3_bind_text(st, 2, ident.c_str(), -1, SQLITE_TRANSIENT);
	sqlite3_bind_int64(st, 3, now - s->limits.ident_hold_s);
	out->clear();
	int rc;
	while ((rc = sqlite3_step(st)) == SQLITE_ROW)
		out->push_back(read_row(st));
	return rc == SQLITE_DONE ? static_cast<int>(out->size()) : store_fail(s, "reading copies", err);
}

int store_mark_read(store *s, int64_t id, std::string *err)
{
	return update(s, "UPDATE messages SET read=1 WHERE ?1=0 OR id=?1", id, err);
}

int store_ack_alarm(store *s, int64_t id, std::string *err)
{
	return update(s, "UPDATE messages SET acked=1, read=1 WHERE alarm=1 AND (?1=0 OR id=?1)", id, err);
}

int store_ack_all(store *s, std::string *err)
{
	if (store_exec(s, "BEGIN IMMEDIATE;UPDATE messages SET acked=1 WHERE alarm=1 AND acked=0;"
			  "UPDATE messages SET read=1 WHERE read=0;COMMIT", err) < 0) {
		store_rollback(s);
		return -1;
	}
	return 0;
}

int store_keep(store *s, int64_t id, bool keep, std::string *err)
{
	stored_msg m;
	int rc = store_get(s, id, &m, nullptr, err);
	if (rc != 0)
		return rc;
	if (keep && !m.kept) {
		sqlite3_stmt *st = store_stmt(s, "SELECT count(*) FROM messages WHERE freq=? AND kept=1", err);
		if (!st)
			return -1;
		sqlite3_bind_int(st, 1, m.freq);
		if (sqlite3_step(st) != SQLITE_ROW)
			return store_fail(s, "counting kept messages", err);
		int64_t kept = sqlite3_column_int64(st, 0);
		sqlite3_reset(st);
		if ((kept + 1) * 4 > s->limits.per_freq) {
			if (err)
				*err = "keeping refused: " + std::to_string(kept) + " messages on " +
				       std::to_string(m.freq) + " kHz are kept already, a quarter of the " +
				       std::to_string(s->limits.per_freq) + " the store holds";
			return -2;
		}
	}
	return update(s, keep ? "UPDATE messages SET kept=1 WHERE id=?1" : "UPDATE messages SET kept=0 WHERE id=?1",
		      id, err);
}

int store_get_counts(store *s, int64_t now, store_counts *c, std::string *err)
{
	// One query per figure, each answered from an index.
	static const char *const sql[] = {
		"SELECT count(*) FROM messages",
		"SELECT count(*) FROM messages WHERE decision=0 AND superseded=0 AND read=0 AND taken_time>=?1",
		"SELECT count(*) FROM messages WHERE alarm=1 AND acked=0",
		"SELECT count(*) FROM messages WHERE kept=1",
		"SELECT coalesce(max(id),0) FROM messages",
	};
	int64_t *out[] = {&c->total, &c->unread, &c->alarms, &c->kept, &c->newest_id};
	for (int i = 0; i < 5; ++i) {
		sqlite3_stmt *st = store_stmt(s, sql[i], err);
		if (!st)
			return -1;
		if (i == 1)
			sqlite3_bind_int64(st, 1, now - 24 * 3600);
		if (sqlite3_step(st) != SQLITE_ROW)
			return store_fail(s, "counting", err);
		*out[i] = sqlite3_column_int64(st, 0);
		sqlite3_reset(st);
	}
	return 0;
}
