// navwatch -D db list [-a] [-f freq] | show ID | ack | keep ID | unkeep ID
#include "view.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "jsonl.h"
#include "store.h"

namespace {

std::string utc(int64_t t)
{
	std::string s = jsonl_time(t);
	s[10] = ' ';
	s.pop_back();
	return s;
}

std::string flags(const stored_msg &m)
{
	std::string f;
	auto add = [&f](const char *w) { f += (f.empty() ? "" : " ") + std::string(w); };
	if (m.decision != msg_decision::shown)
		add(decision_name(m.decision));
	if (m.alarm)
		add(m.acked ? "alarm(reset)" : "ALARM");
	if (m.decision == msg_decision::shown && !m.read)
		add("new");
	if (m.kept)
		add("kept");
	if (m.merged)
		add("mended");
	if (m.superseded)
		add("superseded");
	return f;
}

void print_row(const stored_msg &m)
{
	const std::string &t = m.shown_text();
	std::string first = t.substr(0, t.find('\n'));
	if (first.size() > 40)
		first = first.substr(0, 40);
	printf("%6lld %5d  %-5s %s %6.2f %7.2f  %-32s %s\n", static_cast<long long>(m.id), m.freq,
	       m.ident.empty() ? "----" : m.ident.c_str(), utc(m.rcv_time).c_str(), m.shown_error_pct(),
	       m.signal_dbm, first.c_str(), flags(m).c_str());
}

bool to_id(const std::string &s, int64_t *id)
{
	char *end = nullptr;
	long long v = strtoll(s.c_str(), &end, 10);
	if (s.empty() || *end != '\0' || v <= 0)
		return false;
	*id = v;
	return true;
}

int usage()
{
	fprintf(stderr, "usage: navwatch [-D db] list [-a] [-f freq] | show ID | ack | keep ID | unkeep ID\n");
	return 2;
}

int list(store *s, const std::vector<std::string> &a)
{
	store_query q;
	q.limit = 1000;
	for (size_t i = 1; i < a.size(); ++i) {
		if (a[i] == "-a") {
			q.all = true;
		} else if (a[i] == "-f" && i + 1 < a.size()) {
			q.freq = atoi(a[++i].c_str());
			if (q.freq != 490 && q.freq != 518 && q.freq != 4209) {
				fprintf(stderr, "navwatch: -f: 490, 518 or 4209\n");
				return 2;
			}
		} else {
			return usage();
		}
	}
	std::vector<stored_msg> v;
	std::string err;
	store_counts c;
	if (store_list(s, q, &v, &err) < 0 || store_get_counts(s, time(nullptr), &c, &err) < 0) {
		fprintf(stderr, "navwatch: %s\n", err.c_str());
		return 1;
	}
	printf("%6s %5s  %-5s %-19s %6s %7s  %-32s %s\n", "SEQ", "kHz", "ID", "RECEIVED (UTC)", "ERR%", "dBm",
	       "TEXT", "");
	for (const auto &m : v)
		print_row(m);
	printf("%zu listed; %lld new, %lld alarm(s) not reset, %lld kept\n", v.size(),
	       static_cast<long long>(c.unread), static_cast<long long>(c.alarms), static_cast<long long>(c.kept));
	return 0;
}

int show(store *s, int64_t id)
{
	stored_msg m;
	std::vector<stored_msg> copies;
	std::string err;
	int rc = store_get(s, id, &m, &copies, &err);
	if (rc != 0) {
		fprintf(stderr, "navwatch: %s\n", rc > 0 ? ("no message " + std::to_string(id)).c_str() : err.c_str());
		return 1;
	}
	printf("Message %lld: %d kHz, %s, received %s UTC, %.2f %% errors, %.2f dBm\n",
	       static_cast<long long>(m.id), m.freq, m.ident.empty() ? "no identifier" : m.ident.c_str(),
	       utc(m.rcv_time).c_str(), m.shown_error_pct(), m.signal_dbm);
	printf("Taken %s UTC; %s%s\n\n", utc(m.taken_time).c_str(), decision_name(m.decision),
	       flags(m).empty() ? "" : ("; " + flags(m)).c_str());
	printf("ZCZC %s\n%s\n", m.ident.c_str(), m.shown_text().c_str());
	if (m.merged)
		printf("\nAs received (%.2f %% errors):\n%s\n", m.error_pct, m.text.c_str());
	for (const auto &c : copies)
		printf("\nCopy %lld, taken %s UTC, %s, %.2f %% errors:\n%s\n", static_cast<long long>(c.id),
		       utc(c.taken_time).c_str(), decision_name(c.decision), c.error_pct, c.text.c_str());
	if (!m.read)
		store_mark_read(s, id, &err);
	return 0;
}

} // namespace

int view_command(const std::string &db, const std::vector<std::string> &a)
{
	if (a.empty())
		return usage();
	const std::string &cmd = a[0];
	int64_t id = 0;
	bool needs_id = cmd == "show" || cmd == "keep" || cmd == "unkeep";
	if (needs_id && (a.size() != 2 || !to_id(a[1], &id)))
		return usage();
	if (cmd != "list" && !needs_id && !(cmd == "ack" && a.size() == 1))
		return usage();
	std::string err;
	store *s = store_open(db, STORE_OPEN_EXISTING, &err);
	if (!s) {
		fprintf(stderr, "navwatch: %s\n", err.c_str());
		return 1;
	}
	int rc = 0;
	if (cmd == "list") {
		rc = list(s, a);
	} else if (cmd == "show") {
		rc = show(s, id);
	} else if (cmd == "ack") {
		rc = store_ack_all(s, &err) < 0 ? 1 : 0;
		if (rc == 0)
			printf("Alarm reset; every message marked read.\n");
	} else {
		int k = store_keep(s, id, cmd == "keep", &err);
		rc = k == 0 ? 0 : 1;
		if (k == 0)
			printf("Message %lld %s.\n", static_cast<long long>(id), cmd == "keep" ? "kept" : "no longer kept");
		else if (k == 1)
			err = "no message " + std::to_string(id);
	}
	if (rc != 0 && !err.empty())
		fprintf(stderr, "navwatch: %s\n", err.c_str());
	store_close(s);
	return rc;
}
