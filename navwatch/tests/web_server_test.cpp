// The web page over HTTP: assets and nothing else, the write rules by
// address, method, type and size, and a page that stays up for others (and
// a store that keeps taking messages) under huge headers, slow clients and
// a thousand open connections.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "store.h"
#include "web_http.h"
#include "web_rules.h"
#include "web_server.h"

namespace {

class WebServerTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/navwatch-web-XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
		web_context ctx;
		ctx.listen = "127.0.0.1:0";
		ctx.writers = { "127.0.0.1" };
		ctx.db_path = dir + "/navtex.db";
		std::string err;
		db = store_open(ctx.db_path, STORE_OPEN_CREATE, &err);
		ASSERT_NE(db, nullptr) << err;
		ctx.status = [] { return server_state {}; };
		ctx.get_selections = [] { return std::vector<freq_selection> {}; };
		ctx.set_selections = [](const freq_selection &, std::string *) { return 0; };
		ASSERT_EQ(web_start(ctx, &err), 0) << err;
		port = web_port();
		ASSERT_GT(port, 0);
	}
	void TearDown() override
	{
		web_stop();
		store_close(db);
		std::filesystem::remove_all(dir);
	}
	int64_t put(const std::string &ident)
	{
		stored_msg m;
		m.freq = 518;
		m.ident = ident;
		m.rcv_time = m.taken_time = time(nullptr);
		m.text = "ZCZC " + ident + "\nTEST\nNNNN";
		m.alarm = ident[1] == 'D';
		std::string err;
		int64_t id = store_put(db, m, true, &err);
		EXPECT_GT(id, 0) << err;
		return id;
	}
	std::string dir;
	store *db = nullptr;
	int port = 0;
};

} // namespace

TEST_F(WebServerTest, ServesThePageAndOnlyThePage)
{
	http_reply r = http_get(port, "/");
	ASSERT_EQ(r.status, 200);
	EXPECT_NE(r.body.find("<script src=\"/app.js\""), std::string::npos);
	EXPECT_NE(r.headers.find("Content-Security-Policy: default-src 'none'; script-src 'self'"), std::string::npos);
	EXPECT_NE(r.headers.find("text/html"), std::string::npos);
	r = http_get(port, "/app.js");
	EXPECT_EQ(r.status, 200);
	EXPECT_NE(r.body.find("textContent"), std::string::npos);
	EXPECT_EQ(http_get(port, "/style.css").status, 200);
	for (const char *p : { "/../../etc/passwd", "/%2e%2e/etc/passwd", "/web/app.js", "/app.js/",
			       "/CMakeLists.txt", "/navtex.db", "//etc/passwd" })
		EXPECT_EQ(http_get(port, p).status, 404) << p;
	put("AA01");
	r = http_get(port, "/api/messages?limit=5");
	EXPECT_EQ(r.status, 200);
	EXPECT_NE(r.body.find("\"ident\":\"AA01\""), std::string::npos);
	EXPECT_NE(r.headers.find("application/json"), std::string::npos);
	EXPECT_EQ(http_get(port, "/api/messages?limit=x").status, 400);
}

TEST_F(WebServerTest, ChangesOnlyFromAllowedAddressesAsJson)
{
	int64_t id = put("AD01");
	const std::string keep = "/api/messages/" + std::to_string(id) + "/keep";
	http_reply r = http_send(port, "POST", "/api/ack", "{}", "127.0.0.2");
	EXPECT_EQ(r.status, 403);
	EXPECT_NE(r.body.find("not accepted from this address"), std::string::npos);
	EXPECT_NE(http_get(port, "/api/status", "127.0.0.2").body.find("\"alarms\":1"), std::string::npos);
	EXPECT_NE(http_get(port, "/api/status", "127.0.0.2").body.find("\"can_write\":false"), std::string::npos);

	EXPECT_EQ(http_send(port, "POST", keep, "keep=true", "127.0.0.1",
			    "application/x-www-form-urlencoded").status, 400);
	EXPECT_EQ(http_send(port, "DELETE", keep, "{}").status, 400);
	EXPECT_EQ(http_send(port, "POST", "/", "{}").status, 400);
	EXPECT_EQ(http_raw(port, "POST /api/ack HTTP/1.0\r\nContent-Type: application/json\r\n\r\n{}").status, 400);
	// Too large: refused from its length; without a length, refused too.
	std::string big = "{\"keep\":true,\"x\":\"" + std::string(web_max_body, 'x') + "\"}";
	EXPECT_EQ(http_send(port, "POST", keep, big).status, 400);
	http_reply chunked = http_raw(port, "POST " + keep + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
				  "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
				  "2000\r\n" + std::string(0x2000, ' ') + "\r\n0\r\n\r\n");
	EXPECT_EQ(chunked.status, 400);

	EXPECT_EQ(http_send(port, "POST", keep, "{\"keep\":true}").status, 200);
	EXPECT_EQ(http_send(port, "PUT", "/api/ack", "{\"id\":" + std::to_string(id) + "}").status, 200);
	stored_msg m;
	std::string err;
	ASSERT_EQ(store_get(db, id, &m, nullptr, &err), 0);
	EXPECT_TRUE(m.kept);
	EXPECT_TRUE(m.acked);
}

TEST_F(WebServerTest, StaysUpUnderAbuseWhileMessagesAreKept)
{
	// A thousand connections and the test's own ends need descriptors.
	rlimit rl {};
	getrlimit(RLIMIT_NOFILE, &rl);
	if (rl.rlim_cur < 2600 && rl.rlim_max >= 2600) {
		rl.rlim_cur = 2600;
		setrlimit(RLIMIT_NOFILE, &rl);
	}
	if (rl.rlim_cur < 2600)
		GTEST_SKIP() << "needs 2600 open files, the limit is " << rl.rlim_cur;

	// Headers far beyond the library's memory for them.
	http_reply huge = http_raw(port, "GET / HTTP/1.0\r\nX-Big: " + std::string(200000, 'a') + "\r\n\r\n");
	EXPECT_TRUE(huge.status == 0 || huge.status >= 400) << huge.status;
	EXPECT_EQ(http_raw(port, "GARBAGE\r\n\r\n").status == 200, false);

	// A thousand idle connections from one address, and slow ones from
	// others that send half a request and stop.
	std::vector<int> fds;
	for (int i = 0; i < 1000; i++) {
		int fd = http_connect(port, "127.0.0.3", 61000 + i);
		if (fd >= 0)
			fds.push_back(fd);
	}
	EXPECT_GE(fds.size(), 900u);
	for (int i = 0; i < 40; i++) {
		std::string from = "127.0.1." + std::to_string(i + 1);
		int fd = http_connect(port, from.c_str(), 62000 + i);
		if (fd >= 0) {
			send(fd, "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ", 33, MSG_NOSIGNAL);
			fds.push_back(fd);
		}
	}
	// Messages go on being committed, and the page answers others.
	for (int i = 0; i < 20; i++)
		put("AB" + std::string(1, char('0' + i / 10)) + char('0' + i % 10));
	http_reply page = http_get(port, "/", "127.0.0.9");
	EXPECT_EQ(page.status, 200);
	http_reply list = http_get(port, "/api/messages?limit=1", "127.0.0.9");
	EXPECT_EQ(list.status, 200);
	EXPECT_NE(list.body.find("AB19"), std::string::npos);
	for (int fd : fds)
		close(fd);
	EXPECT_EQ(http_get(port, "/api/status").status, 200);
}
