// Inside the store: the handle and the helpers its two files share.  Not
// for use outside store*.cpp.
#ifndef NAVWATCH_STORE_DB_H
#define NAVWATCH_STORE_DB_H

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>

#include "store.h"

struct store {
	sqlite3 *db = nullptr;
	std::string path;
	store_limits limits;
	// Prepared statements by their (static) text, made once.
	std::map<const char *, sqlite3_stmt *> stmts;
	// Messages per frequency as this handle last knew them (only the
	// keeper's handle adds or removes messages), and an upper bound of the
	// identifiers per frequency: the limits are checked without walking an
	// index after every message.  Forgotten when a transaction fails.
	std::map<int, int64_t> freq_count;
	std::map<int, int64_t> ident_bound;
	~store();
};

// The statement for sql, reset and unbound; null on failure.
sqlite3_stmt *store_stmt(store *s, const char *sql, std::string *err);
// Sets *err to the path, what failed and SQLite's reason; returns -1.
int store_fail(store *s, const char *what, std::string *err);
int store_exec(store *s, const char *sql, std::string *err);
void store_rollback(store *s);

#endif
