// Protocol replies: the GETMSG message text (frequency, "ZCZC", identifier,
// body, ERROR/SIGNAL/TIME trailer) and the GETSTATUS channel lines.
#include "reply.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const char kMsgHeader[] = "GETMSG:\n";
const char kStatusHeader[] = "GETSTATUS:\n";

bool starts_with(const std::string &s, size_t at, const char *t)
{
	return s.compare(at, strlen(t), t) == 0;
}

// The whole of s as a number of the given kind.
bool whole_double(const std::string &s, double *v)
{
	if (s.empty() || s.size() > 40)
		return false;
	char *end = nullptr;
	errno = 0;
	double d = strtod(s.c_str(), &end);
	if (*end != '\0' || errno != 0 || !std::isfinite(d))
		return false;
	*v = d;
	return true;
}

bool whole_int64(const std::string &s, int64_t *v)
{
	if (s.empty() || s.size() > 20 || s[0] == '-')
		return false;
	char *end = nullptr;
	errno = 0;
	unsigned long long n = strtoull(s.c_str(), &end, 10);
	if (*end != '\0' || errno != 0 || n > 0x7fffffffffffULL)
		return false;
	*v = static_cast<int64_t>(n);
	return true;
}

// Next line of s from *pos (without its line feed); false at the end.
bool next_line(const std::string &s, size_t *pos, std::string *line, bool *ended)
{
	if (*pos >= s.size())
		return false;
	size_t nl = s.find('\n', *pos);
	*ended = nl != std::string::npos;
	if (!*ended)
		nl = s.size();
	line->assign(s, *pos, nl - *pos);
	*pos = *ended ? nl + 1 : nl;
	return true;
}

double count_errors(const std::string &text)
{
	if (text.empty())
		return 0;
	size_t stars = 0;
	for (char c : text)
		stars += c == '*';
	return 100.0 * static_cast<double>(stars) / static_cast<double>(text.size());
}

// Where the trailer starts (the line feed before "ERROR:"), or npos: the
// last "\nERROR:" followed by nothing but trailer lines.
size_t find_trailer(const std::string &s, size_t from)
{
	size_t at = s.rfind("\nERROR:");
	while (at != std::string::npos && at >= from) {
		size_t pos = at + 1;
		std::string line;
		bool ended, ok = true;
		while (ok && next_line(s, &pos, &line, &ended))
			ok = line.rfind("ERROR:", 0) == 0 || line.rfind("SIGNAL:", 0) == 0 ||
			     line.rfind("TIME:", 0) == 0 || line.empty();
		if (ok)
			return at;
		if (at == 0)
			break;
		at = s.rfind("\nERROR:", at - 1);
	}
	return std::string::npos;
}

} // namespace

bool ident_readable(const std::string &id)
{
	return id.size() == 4 && id[0] >= 'A' && id[0] <= 'Z' && id[1] >= 'A' && id[1] <= 'Z' &&
	       id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9';
}

reply_kind reply_parse_getmsg(const std::string &reply, taken_msg *m)
{
	*m = taken_msg{};
	if (!starts_with(reply, 0, kMsgHeader)) {
		m->faults.push_back("not a GETMSG reply");
		return REPLY_GARBAGE;
	}
	size_t pos = sizeof kMsgHeader - 1;
	if (pos == reply.size())
		return REPLY_EMPTY;

	std::string line;
	bool ended = false;
	// Frequency line; without it the rest is kept as text.
	size_t save = pos;
	next_line(reply, &pos, &line, &ended);
	double f = 0;
	if (whole_double(line, &f) && f >= 0 && f < 100000 && ended) {
		m->freq = static_cast<int>(f);
	} else {
		m->faults.push_back("no frequency line");
		pos = save;
	}
	save = pos;
	bool got = next_line(reply, &pos, &line, &ended);
	if (got && ended && line.size() > 5 && line.compare(0, 5, "ZCZC ") == 0) {
		// "ZCZC B1B2B3B4" on one line, as messages are written by hand.
		std::string id = line.substr(5);
		while (!id.empty() && (id.back() == ' ' || id.back() == '\r'))
			id.pop_back();
		m->raw_ident = id;
		if (ident_readable(id))
			m->ident = id;
		else
			m->faults.push_back("unreadable identifier \"" + id.substr(0, 16) + "\"");
	} else if (got && line == "ZCZC" && ended) {
		if (next_line(reply, &pos, &line, &ended) && ended) {
			m->raw_ident = line;
			if (ident_readable(line))
				m->ident = line;
			else
				m->faults.push_back("unreadable identifier \"" + line.substr(0, 16) + "\"");
		} else {
			m->faults.push_back("no identifier");
			pos = save;
			next_line(reply, &pos, &line, &ended); // ZCZC
		}
	} else {
		m->faults.push_back("no ZCZC line");
		pos = save;
	}

	size_t trailer = find_trailer(reply, pos > 0 ? pos - 1 : 0);
	if (trailer == std::string::npos || trailer + 1 < pos) {
		m->faults.push_back("no ERROR/SIGNAL/TIME lines (cut short?)");
		m->text.assign(reply, pos, std::string::npos);
		m->error_pct = count_errors(m->text);
		return REPLY_MESSAGE;
	}
	m->text.assign(reply, pos, trailer - pos);
	bool have_err = false;
	size_t tp = trailer + 1;
	while (next_line(reply, &tp, &line, &ended)) {
		double v;
		int64_t t;
		if (line.rfind("ERROR:", 0) == 0 && whole_double(line.substr(6), &v) && v >= 0 && v <= 100) {
			m->error_pct = v;
			have_err = true;
		} else if (line.rfind("SIGNAL:", 0) == 0 && whole_double(line.substr(7), &v)) {
			m->signal_dbm = v;
			m->has_signal = true;
		} else if (line.rfind("TIME:", 0) == 0 && whole_int64(line.substr(5), &t)) {
			m->rcv_time = t;
			m->has_time = true;
		}
	}
	if (!have_err) {
		m->faults.push_back("no readable ERROR line");
		m->error_pct = count_errors(m->text);
	}
	if (!m->has_signal)
		m->faults.push_back("no readable SIGNAL line");
	if (!m->has_time)
		m->faults.push_back("no readable TIME line");
	return REPLY_MESSAGE;
}

int reply_parse_status(const std::string &reply, int64_t now, std::vector<channel_state> *out)
{
	out->clear();
	if (!starts_with(reply, 0, kStatusHeader))
		return -1;
	size_t pos = sizeof kStatusHeader - 1;
	std::string line;
	bool ended;
	while (next_line(reply, &pos, &line, &ended)) {
		int freq = 0, n = 0;
		char state[16] = "";
		if (sscanf(line.c_str(), "FREQ:%d,ST:%15[^,],%n", &freq, state, &n) < 2 || n == 0)
			continue;
		std::string rest = line.substr(static_cast<size_t>(n));
		double dbm = 0;
		size_t colon = rest.find(':');
		if (colon == std::string::npos || !whole_double(rest.substr(colon + 1), &dbm))
			dbm = 0;
		channel_state c;
		c.freq = freq;
		c.state = state;
		c.dbm = dbm;
		c.time = now;
		out->push_back(c);
	}
	return static_cast<int>(out->size());
}

int reply_complete(const std::string &r)
{
	if (starts_with(r, 0, kMsgHeader)) {
		size_t t = r.rfind("\nTIME:");
		return t != std::string::npos && r.back() == '\n' && r.find('\n', t + 1) == r.size() - 1;
	}
	if (r == "ERR:Command not supported\n")
		return 1;
	return 0;
}
