// JSON Lines records of taken messages.
#include "jsonl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "write_all.h"

std::string jsonl_time(int64_t t)
{
	time_t tt = static_cast<time_t>(t);
	struct tm tm {};
	gmtime_r(&tt, &tm);
	char buf[32];
	strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
	return buf;
}

std::string jsonl_string(const std::string &s)
{
	std::string o = "\"";
	for (unsigned char c : s) {
		if (c == '"' || c == '\\') {
			o += '\\';
			o += static_cast<char>(c);
		} else if (c == '\n') {
			o += "\\n";
		} else if (c < 0x20 || c >= 0x7f) {
			char buf[8];
			snprintf(buf, sizeof buf, "\\u%04x", c);
			o += buf;
		} else {
			o += static_cast<char>(c);
		}
	}
	return o + "\"";
}

namespace {

std::string number(double v)
{
	if (!std::isfinite(v))
		return "null";
	char buf[32];
	snprintf(buf, sizeof buf, "%.2f", v);
	return buf;
}

} // namespace

std::string jsonl_line(const stored_msg &m, bool has_signal)
{
	std::string o = "{\"seq\":" + std::to_string(m.id);
	o += ",\"freq\":" + (m.freq > 0 ? std::to_string(m.freq) : std::string("null"));
	o += ",\"id\":" + (m.ident.empty() ? std::string("null") : jsonl_string(m.ident));
	o += ",\"time\":\"" + jsonl_time(m.rcv_time) + "\"";
	o += ",\"error_pct\":" + number(m.shown_error_pct());
	o += ",\"signal_dbm\":" + (has_signal ? number(m.signal_dbm) : std::string("null"));
	o += ",\"text\":" + jsonl_string(m.shown_text());
	o += ",\"decision\":\"" + std::string(decision_name(m.decision)) + "\"";
	o += std::string(",\"alarm\":") + (m.alarm ? "true" : "false");
	o += std::string(",\"merged\":") + (m.merged ? "true" : "false");
	return o + "}\n";
}

int jsonl_open(jsonl_out *o, const std::string &path, std::string *err)
{
	o->path = path;
	if (path == "-") {
		o->fd = STDOUT_FILENO;
		return 0;
	}
	o->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
	if (o->fd < 0) {
		*err = "cannot open " + path + " for the JSON lines: " + strerror(errno);
		return -1;
	}
	return 0;
}

int jsonl_write(jsonl_out *o, const std::string &line, std::string *err)
{
	if (o->fd < 0)
		return 0;
	if (write_all(o->fd, line.data(), line.size())) {
		o->failing = false;
		return 0;
	}
	if (o->failing)
		return 0;
	o->failing = true;
	*err = "writing the JSON lines to " + o->path + ": " + strerror(errno);
	return -1;
}

void jsonl_close(jsonl_out *o)
{
	if (o->fd > STDOUT_FILENO)
		close(o->fd);
	o->fd = -1;
}
