// The JSON API of the web page; see web_api.h.  Every answer is a JSON
// object; failures are {"error": "short reason"} with 400, 403, 404, 409
// or 500.
#include "web_api.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "web_json.h"
#include "web_selections.h"

using nlohmann::json;

struct web_api {
	web_context ctx;
	std::mutex lock; // guards idle and last_taken_time
	std::vector<store *> idle;
	// Plain values under the lock: the board's ARMv5 has no 64-bit atomics.
	int64_t last_taken_time = 0;
	~web_api()
	{
		for (store *s : idle)
			store_close(s);
	}
};

void web_answer(web_response *res, int status, const json &j)
{
	res->status = status;
	res->type = "application/json";
	res->body = web_dump(j);
}

void web_fail(web_response *res, int status, const std::string &why)
{
	web_answer(res, status, json { { "error", why } });
}

namespace {

// A store handle for one call, back to the pool afterwards.
class borrowed_store {
public:
	borrowed_store(web_api *api, std::string *err) : api_(api)
	{
		{
			std::lock_guard<std::mutex> g(api->lock);
			if (!api->idle.empty()) {
				s_ = api->idle.back();
				api->idle.pop_back();
				return;
			}
		}
		s_ = store_open(api->ctx.db_path, STORE_OPEN_EXISTING, err);
	}
	~borrowed_store()
	{
		if (!s_)
			return;
		std::lock_guard<std::mutex> g(api_->lock);
		api_->idle.push_back(s_);
	}
	borrowed_store(const borrowed_store &) = delete;
	borrowed_store &operator=(const borrowed_store &) = delete;
	store *get() const { return s_; }

private:
	web_api *api_;
	store *s_ = nullptr;
};

// A decimal integer within [lo, hi]; false for anything else.
bool to_int(const std::string &s, int64_t lo, int64_t hi, int64_t *v)
{
	if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
		return false;
	*v = std::strtoll(s.c_str(), nullptr, 10);
	return *v >= lo && *v <= hi;
}

int64_t now() { return static_cast<int64_t>(time(nullptr)); }

void list_messages(web_api *api, const web_request &req, web_response *res)
{
	store_query q;
	int64_t v = 0;
	for (const auto &[key, value] : req.args) {
		if (key == "freq") {
			if (!to_int(value, 0, 9999, &v) || !web_valid_freq(v))
				return web_fail(res, 400, "freq is 490, 518 or 4209");
			q.freq = static_cast<int>(v);
		} else if (key == "station" || key == "type") {
			if (value.size() > 26 || !web_letters_in(value, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"))
				return web_fail(res, 400, key + " is one or more capital letters");
			(key == "station" ? q.stations : q.types) = value;
		} else if (key == "q") {
			if (value.size() > 100)
				return web_fail(res, 400, "q is at most 100 characters");
			q.text = value;
		} else if (key == "before") {
			if (!to_int(value, 1, INT64_MAX, &v))
				return web_fail(res, 400, "before is a message id");
			q.before_id = v;
		} else if (key == "limit") {
			if (!to_int(value, 1, 200, &v))
				return web_fail(res, 400, "limit is 1 to 200");
			q.limit = static_cast<int>(v);
		} else if (key == "all" || key == "unread" || key == "alarm" || key == "kept") {
			if (value != "0" && value != "1")
				return web_fail(res, 400, key + " is 0 or 1");
			bool on = value == "1";
			(key == "all" ? q.all : key == "unread" ? q.unread_only
				  : key == "alarm" ? q.alarm_only : q.kept_only) = on;
		} else {
			return web_fail(res, 400, "unknown argument " + key.substr(0, 40));
		}
	}
	std::string err;
	borrowed_store s(api, &err);
	if (!s.get())
		return web_fail(res, 500, err);
	std::vector<stored_msg> msgs;
	int64_t total = store_count(s.get(), q, &err);
	if (total < 0 || store_list(s.get(), q, &msgs, &err) < 0)
		return web_fail(res, 500, err);
	json list = json::array();
	for (const stored_msg &m : msgs)
		list.push_back(web_message_json(m, false));
	json out { { "messages", list }, { "total", total } };
	// Keyset paging: the next page holds the ids below the last one.
	out["next_before"] = static_cast<int>(msgs.size()) == q.limit && !msgs.empty()
		? json(msgs.back().id) : json(nullptr);
	web_answer(res, 200, out);
}

void one_message(web_api *api, int64_t id, web_response *res)
{
	std::string err;
	borrowed_store s(api, &err);
	if (!s.get())
		return web_fail(res, 500, err);
	stored_msg m;
	std::vector<stored_msg> copies;
	int rc = store_get(s.get(), id, &m, &copies, &err);
	if (rc == 1)
		return web_fail(res, 404, "no message " + std::to_string(id));
	if (rc < 0)
		return web_fail(res, 500, err);
	json c = json::array();
	for (const stored_msg &x : copies)
		c.push_back(web_message_json(x, true));
	web_answer(res, 200, json { { "message", web_message_json(m, true) }, { "copies", c } });
}

// The JSON object of a change, or a discarded value after answering 400.
json body_object(const web_request &req, web_response *res)
{
	json j = json::parse(req.body, nullptr, false);
	if (j.is_discarded() || !j.is_object()) {
		web_fail(res, 400, "the body must be a JSON object");
		return json(json::value_t::discarded);
	}
	return j;
}

void change_message(web_api *api, int64_t id, const std::string &what, const web_request &req,
		    web_response *res)
{
	json j = body_object(req, res);
	if (j.is_discarded())
		return;
	bool keep = false;
	if (what == "keep") {
		if (!j.contains("keep") || !j["keep"].is_boolean())
			return web_fail(res, 400, "keep is true or false");
		keep = j["keep"].get<bool>();
	}
	std::string err;
	borrowed_store s(api, &err);
	if (!s.get())
		return web_fail(res, 500, err);
	int rc = what == "keep" ? store_keep(s.get(), id, keep, &err) : store_mark_read(s.get(), id, &err);
	if (rc == 1)
		return web_fail(res, 404, "no message " + std::to_string(id));
	if (rc == -2)
		return web_fail(res, 409, err);
	if (rc < 0)
		return web_fail(res, 500, err);
	one_message(api, id, res);
}

void acknowledge(web_api *api, const web_request &req, web_response *res)
{
	json j = body_object(req, res);
	if (j.is_discarded())
		return;
	int64_t id = 0;
	if (j.contains("id")) {
		if (!j["id"].is_number_integer() || j["id"].get<int64_t>() < 1)
			return web_fail(res, 400, "id is a message id");
		id = j["id"].get<int64_t>();
	}
	std::string err;
	borrowed_store s(api, &err);
	if (!s.get())
		return web_fail(res, 500, err);
	int rc = store_ack_alarm(s.get(), id, &err);
	if (rc == 1)
		return web_fail(res, 404, "no message " + std::to_string(id));
	if (rc < 0)
		return web_fail(res, 500, err);
	web_answer(res, 200, json { { "acknowledged", id == 0 ? json("all") : json(id) } });
}

void status(web_api *api, const web_request &req, web_response *res)
{
	std::string err;
	borrowed_store s(api, &err);
	if (!s.get())
		return web_fail(res, 500, err);
	store_counts c;
	store_query q;
	q.alarm_only = true;
	q.limit = 20;
	std::vector<stored_msg> alarms;
	if (store_get_counts(s.get(), now(), &c, &err) < 0 || store_list(s.get(), q, &alarms, &err) < 0)
		return web_fail(res, 500, err);
	json a = json::array();
	for (const stored_msg &m : alarms)
		a.push_back(web_message_json(m, false));
	server_state st = api->ctx.status ? api->ctx.status() : server_state {};
	json ch = json::array();
	for (const channel_state &x : st.channels)
		ch.push_back({ { "freq", x.freq }, { "state", x.state }, { "dbm", x.dbm },
			       { "time", x.time ? json(web_iso_time(x.time)) : json(nullptr) } });
	json out {
		{ "time", web_iso_time(now()) },
		{ "server", { { "address", st.address }, { "connected", st.connected },
			      { "last_error", st.last_error }, { "channels", ch } } },
		{ "counts", { { "total", c.total }, { "unread", c.unread }, { "alarms", c.alarms },
			      { "kept", c.kept }, { "newest_id", c.newest_id } } },
		{ "alarms", a },
		{ "can_write", req.may_write },
	};
	int64_t t = 0;
	{
		std::lock_guard<std::mutex> g(api->lock);
		t = api->last_taken_time;
	}
	out["last_taken"] = t ? json(web_iso_time(t)) : json(nullptr);
	web_answer(res, 200, out);
}

} // namespace

std::unique_ptr<web_api, void (*)(web_api *)> web_api_new(const web_context &ctx, std::string *err)
{
	std::unique_ptr<web_api, void (*)(web_api *)> api(new web_api, [](web_api *a) { delete a; });
	api->ctx = ctx;
	store *s = store_open(ctx.db_path, STORE_OPEN_EXISTING, err);
	if (!s)
		return { nullptr, [](web_api *) {} };
	api->idle.push_back(s);
	return api;
}

void web_api_taken(web_api *api, const stored_msg &m)
{
	std::lock_guard<std::mutex> g(api->lock);
	api->last_taken_time = m.taken_time;
}

void web_api_handle(web_api *api, const web_request &req, web_response *res)
{
	const std::string &p = req.path;
	bool read = req.method == "GET" || req.method == "HEAD";
	bool change = req.method == "POST" || req.method == "PUT";
	// What a path allows: reading, changing, or (for a message) both.
	auto wrong_method = [&](bool for_change) {
		web_fail(res, 400, for_change ? "changes are made with POST or PUT" : "this is read with GET");
	};
	auto may_change = [&]() {
		if (!req.may_write)
			web_fail(res, 403, "changes are not accepted from this address");
		return req.may_write;
	};
	if (p == "/api/messages") {
		return read ? list_messages(api, req, res) : wrong_method(false);
	}
	if (p == "/api/status")
		return read ? status(api, req, res) : wrong_method(false);
	if (p == "/api/ack")
		return change ? (may_change() ? acknowledge(api, req, res) : void()) : wrong_method(true);
	if (p == "/api/selections") {
		if (read)
			return web_selections_get(api->ctx, res);
		if (!change)
			return wrong_method(true);
		if (!may_change())
			return;
		json j = body_object(req, res);
		return j.is_discarded() ? void() : web_selections_set(api->ctx, j, res);
	}
	const std::string prefix = "/api/messages/";
	if (p.compare(0, prefix.size(), prefix) == 0) {
		std::string rest = p.substr(prefix.size());
		std::string what;
		size_t slash = rest.find('/');
		if (slash != std::string::npos) {
			what = rest.substr(slash + 1);
			rest.resize(slash);
		}
		int64_t id = 0;
		if (!to_int(rest, 1, INT64_MAX, &id) || (what != "" && what != "read" && what != "keep"))
			return web_fail(res, 404, "no such resource");
		if (what.empty())
			return read ? one_message(api, id, res) : wrong_method(false);
		return change ? (may_change() ? change_message(api, id, what, req, res) : void())
			      : wrong_method(true);
	}
	web_fail(res, 404, "no such resource");
}
