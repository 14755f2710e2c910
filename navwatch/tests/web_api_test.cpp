// The web page's rules and JSON API against a real store: paging, filters,
// status codes, the write rules and texts that look like markup.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "store.h"
#include "web_api.h"
#include "web_rules.h"

using nlohmann::json;

TEST(WebRules, ListenWritersAndChangeRequests)
{
	sockaddr_in a {};
	std::string err;
	ASSERT_EQ(web_parse_listen("8080", &a, &err), 0);
	EXPECT_EQ(ntohs(a.sin_port), 8080);
	EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_ANY));
	ASSERT_EQ(web_parse_listen("192.168.1.5:80", &a, &err), 0);
	EXPECT_EQ(ntohl(a.sin_addr.s_addr), 0xc0a80105u);
	for (const char *bad : { "", "65536", "host:80", "1.2.3.4:", "80x" })
		EXPECT_EQ(web_parse_listen(bad, &a, &err), -1) << bad;

	auto allowed = [](const std::vector<web_net> &nets, const char *ip) {
		sockaddr_in c {};
		c.sin_family = AF_INET;
		inet_pton(AF_INET, ip, &c.sin_addr);
		return web_writer_allowed(nets, reinterpret_cast<sockaddr *>(&c));
	};
	std::vector<web_net> nets;
	ASSERT_EQ(web_parse_writers({}, &nets, &err), 0);
	EXPECT_TRUE(allowed(nets, "127.0.0.1"));
	EXPECT_TRUE(allowed(nets, "127.3.0.9"));
	EXPECT_FALSE(allowed(nets, "192.168.1.5"));
	ASSERT_EQ(web_parse_writers({ "10.1.0.0/16,192.168.1.5", "172.16.0.1" }, &nets, &err), 0);
	EXPECT_TRUE(allowed(nets, "10.1.200.3"));
	EXPECT_FALSE(allowed(nets, "10.2.0.1"));
	EXPECT_TRUE(allowed(nets, "192.168.1.5"));
	EXPECT_FALSE(allowed(nets, "192.168.1.6"));
	EXPECT_FALSE(allowed(nets, "127.0.0.1")); // given -W, loopback is not added
	for (const char *bad : { "10.0.0.0/33", "10.0.0", "any", "1.2.3.4/", "" })
		EXPECT_EQ(web_parse_writers({ bad }, &nets, &err), -1) << bad;

	int status = 0;
	EXPECT_EQ(web_check_write(true, "POST", "application/json; charset=utf-8", 10, &status), "");
	EXPECT_EQ(web_check_write(true, "PUT", "Application/JSON", 0, &status), "");
	EXPECT_NE(web_check_write(false, "POST", "application/json", 10, &status), "");
	EXPECT_EQ(status, 403);
	EXPECT_NE(web_check_write(true, "DELETE", "application/json", 10, &status), "");
	EXPECT_EQ(status, 400);
	EXPECT_NE(web_check_write(true, "POST", "application/x-www-form-urlencoded", 10, &status), "");
	EXPECT_NE(web_check_write(true, "POST", nullptr, 10, &status), "");
	EXPECT_NE(web_check_write(true, "POST", "application/json", -1, &status), "");
	EXPECT_NE(web_check_write(true, "POST", "application/json", web_max_body + 1, &status), "");
	EXPECT_EQ(status, 400);
}

namespace {

class WebApiTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/navwatch-web-XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
		ctx.db_path = dir + "/navtex.db";
		std::string err;
		db = store_open(ctx.db_path, STORE_OPEN_CREATE, &err);
		ASSERT_NE(db, nullptr) << err;
		for (int f : { 490, 518, 4209 }) {
			freq_selection s;
			s.freq = f;
			sels.push_back(s);
		}
		ctx.status = [] {
			server_state s;
			s.address = "127.0.0.1:9968";
			s.connected = true;
			s.channels.push_back({ 518, "RCV", -87.5, 1700000000 });
			return s;
		};
		ctx.get_selections = [this] { return sels; };
		ctx.set_selections = [this](const freq_selection &s, std::string *) {
			for (freq_selection &x : sels)
				if (x.freq == s.freq)
					x = s;
			return 0;
		};
		api = web_api_new(ctx, &err);
		ASSERT_TRUE(api) << err;
	}
	void TearDown() override
	{
		api.reset();
		store_close(db);
		std::filesystem::remove_all(dir);
	}
	int64_t put(int freq, const std::string &ident, const std::string &text, bool alarm = false)
	{
		stored_msg m;
		m.freq = freq;
		m.ident = ident;
		m.rcv_time = m.taken_time = 1700000000 + ++n;
		m.text = text;
		m.alarm = alarm;
		std::string err;
		int64_t id = store_put(db, m, true, &err);
		EXPECT_GT(id, 0) << err;
		return id;
	}
	json call(const std::string &method, const std::string &path,
		  std::map<std::string, std::string> args = {}, const std::string &body = "",
		  bool may_write = true)
	{
		web_request req;
		req.method = method;
		req.path = path;
		req.args = std::move(args);
		req.body = body;
		req.may_write = may_write;
		web_response res;
		web_api_handle(api.get(), req, &res);
		last_status = res.status;
		json j = json::parse(res.body, nullptr, false);
		EXPECT_FALSE(j.is_discarded()) << res.body;
		if (res.status >= 400) {
			EXPECT_TRUE(j.contains("error")) << res.body;
		}
		return j;
	}

	std::string dir;
	web_context ctx;
	store *db = nullptr;
	std::vector<freq_selection> sels;
	std::unique_ptr<web_api, void (*)(web_api *)> api { nullptr, [](web_api *) {} };
	int n = 0;
	int last_status = 0;
};

} // namespace

TEST_F(WebApiTest, ListsNewestFirstWithPagingAndFilters)
{
	std::vector<int64_t> ids;
	for (int i = 0; i < 7; i++)
		ids.push_back(put(518, std::string("A") + (i % 2 ? "E" : "A") + "0" + char('1' + i),
				  "ZCZC\nWIND " + std::to_string(i) + "\nNNNN"));
	put(490, "SE01", "ZCZC\nWIND AND ICE\nNNNN");

	json j = call("GET", "/api/messages", { { "freq", "518" }, { "limit", "3" } });
	ASSERT_EQ(last_status, 200);
	EXPECT_EQ(j["total"], 7);
	ASSERT_EQ(j["messages"].size(), 3u);
	EXPECT_EQ(j["messages"][0]["id"], ids[6]);
	EXPECT_EQ(j["messages"][2]["id"], ids[4]);
	EXPECT_EQ(j["messages"][0]["type_name"], "navigational warning");
	j = call("GET", "/api/messages", { { "freq", "518" }, { "limit", "3" },
					   { "before", std::to_string(j["next_before"].get<int64_t>()) } });
	ASSERT_EQ(j["messages"].size(), 3u);
	EXPECT_EQ(j["messages"][0]["id"], ids[3]);
	j = call("GET", "/api/messages", { { "freq", "518" }, { "limit", "3" }, { "before", std::to_string(ids[1]) } });
	ASSERT_EQ(j["messages"].size(), 1u);
	EXPECT_TRUE(j["next_before"].is_null());

	EXPECT_EQ(call("GET", "/api/messages", { { "type", "E" } })["total"], 4);
	EXPECT_EQ(call("GET", "/api/messages", { { "station", "S" } })["total"], 1);
	EXPECT_EQ(call("GET", "/api/messages", { { "q", "ice" } })["messages"][0]["ident"], "SE01");
	EXPECT_EQ(call("GET", "/api/messages", { { "freq", "4209" } })["total"], 0);

	for (auto bad : std::vector<std::map<std::string, std::string>> {
		     { { "freq", "500" } }, { { "limit", "0" } }, { { "limit", "201" } }, { { "before", "-1" } },
		     { { "station", "a" } }, { { "type", "<" } }, { { "all", "yes" } }, { { "sort", "x" } },
		     { { "q", std::string(101, 'x') } } }) {
		call("GET", "/api/messages", bad);
		EXPECT_EQ(last_status, 400) << bad.begin()->first;
	}
	call("POST", "/api/messages", {}, "{}");
	EXPECT_EQ(last_status, 400);
	call("GET", "/api/nothing");
	EXPECT_EQ(last_status, 404);
	call("GET", "/api/messages/12x");
	EXPECT_EQ(last_status, 404);
	call("GET", "/api/messages/999");
	EXPECT_EQ(last_status, 404);
}

TEST_F(WebApiTest, ChangesFollowTheWriteRules)
{
	int64_t d = put(518, "AD01", "ZCZC AD01\nMAYDAY RELAY\nNNNN", true);
	int64_t a = put(518, "AA02", "ZCZC AA02\nBUOY ADRIFT\nNNNN");
	const std::string msg = "/api/messages/" + std::to_string(a);

	json s = call("GET", "/api/status", {}, "", false);
	EXPECT_EQ(s["counts"]["alarms"], 1);
	EXPECT_EQ(s["alarms"][0]["id"], d);
	EXPECT_EQ(s["server"]["channels"][0]["state"], "RCV");
	EXPECT_EQ(s["can_write"], false);

	// From an address that may not write, nothing changes.
	call("POST", "/api/ack", {}, "{}", false);
	EXPECT_EQ(last_status, 403);
	call("POST", msg + "/keep", {}, "{\"keep\":true}", false);
	EXPECT_EQ(last_status, 403);
	call("PUT", "/api/selections", {}, "{\"freq\":490,\"stations\":\"\"}", false);
	EXPECT_EQ(last_status, 403);
	EXPECT_EQ(call("GET", "/api/status")["counts"]["alarms"], 1);

	// Reading methods on changes and bad bodies are 400.
	call("GET", "/api/ack");
	EXPECT_EQ(last_status, 400);
	for (const char *body : { "", "[]", "{", "{\"keep\":1}", "{\"keep\":\"true\"}" }) {
		call("POST", msg + "/keep", {}, body);
		EXPECT_EQ(last_status, 400) << body;
	}
	call("POST", "/api/ack", {}, "{\"id\":\"x\"}");
	EXPECT_EQ(last_status, 400);
	call("POST", "/api/messages/999/keep", {}, "{\"keep\":true}");
	EXPECT_EQ(last_status, 404);

	json m = call("POST", msg + "/keep", {}, "{\"keep\":true}");
	EXPECT_EQ(last_status, 200);
	EXPECT_EQ(m["message"]["kept"], true);
	EXPECT_EQ(call("POST", msg + "/keep", {}, "{\"keep\":false}")["message"]["kept"], false);
	EXPECT_EQ(call("POST", msg + "/read", {}, "{}")["message"]["read"], true);
	call("POST", "/api/ack", {}, "{}");
	EXPECT_EQ(last_status, 200);
	s = call("GET", "/api/status");
	EXPECT_EQ(s["counts"]["alarms"], 0);
	EXPECT_TRUE(s["alarms"].empty());
	EXPECT_EQ(call("GET", "/api/messages/" + std::to_string(d))["message"]["acked"], true);
}

TEST_F(WebApiTest, SelectionsHoldTheProtectedTypesOn)
{
	json j = call("GET", "/api/selections");
	ASSERT_EQ(j["selections"].size(), 3u);
	EXPECT_EQ(j["selections"][1]["freq"], 518);
	EXPECT_EQ(j["selections"][1]["fixed_types"], "ABDL");
	EXPECT_EQ(j["selections"][2]["fixed_types"], "ABDL"); // navwatch holds them on everywhere
	EXPECT_EQ(j["selections"][0]["stations"], "ABCDEFGHIJKLMNOPQRSTUVWX");

	// Off on the page is listed in the settings; A, B, D, L stay on at 518.
	j = call("PUT", "/api/selections", {}, "{\"freq\":518,\"stations\":\"AB\",\"types\":\"E\"}");
	ASSERT_EQ(last_status, 200);
	EXPECT_EQ(j["selections"][1]["stations"], "AB");
	EXPECT_EQ(j["selections"][1]["types"], "ABDEL");
	EXPECT_EQ(sels[1].stations[0], 0);
	EXPECT_EQ(sels[1].stations[2], 1);
	EXPECT_EQ(sels[1].types['A' - 'A'], 0);
	EXPECT_EQ(sels[1].types['C' - 'A'], 1);
	EXPECT_EQ(sels[1].types['E' - 'A'], 0);
	EXPECT_EQ(sels[0].stations[2], 0); // other frequencies untouched
	// Only the given kind changes.
	call("POST", "/api/selections", {}, "{\"freq\":518,\"types\":\"ABCDEFGHJKLVWXYZ\"}");
	EXPECT_EQ(sels[1].stations[2], 1);
	EXPECT_EQ(sels[1].types['C' - 'A'], 0);
	for (const char *body : { "{\"freq\":500}", "{\"stations\":\"A\"}", "{\"freq\":518,\"stations\":\"Y\"}",
				  "{\"freq\":518,\"types\":\"I\"}", "{\"freq\":518,\"types\":7}",
				  "{\"freq\":\"518\"}" }) {
		call("PUT", "/api/selections", {}, body);
		EXPECT_EQ(last_status, 400) << body;
	}
}

TEST_F(WebApiTest, TextsThatLookLikeMarkupComeBackUnchanged)
{
	const std::string text = "ZCZC EA01\n<script>alert(1)</script>\n\"><img src=x onerror=alert(2)>\n"
				 "back\\slash \x01 & done\nNNNN";
	int64_t id = put(518, "EA01", text);
	json j = call("GET", "/api/messages/" + std::to_string(id));
	EXPECT_EQ(j["message"]["text"], text);
	EXPECT_EQ(call("GET", "/api/messages")["messages"][0]["text"], text);
	// Bytes that are not UTF-8 come as the JSON Lines output writes them.
	put(490, "AB02", "ZCZC\n\xff\xfe bad\nNNNN");
	j = call("GET", "/api/messages", { { "freq", "490" } });
	EXPECT_EQ(j["messages"][0]["text"], "ZCZC\n\u00ff\u00fe bad\nNNNN");
}
