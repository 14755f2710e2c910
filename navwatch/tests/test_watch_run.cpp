// navwatch as a program: against a scripted server (faults, reconnects,
// a burst cut by kill -9), against filefeed, restarts and settings.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "run_program.h"
#include "jsonl.h"
#include "nmea.h"
#include "store.h"

namespace {

using namespace std::chrono;

std::string temp_dir()
{
	char tmpl[] = "/tmp/navwatch-run-XXXXXX";
	return mkdtemp(tmpl);
}

std::string slurp(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::stringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

std::vector<std::string> lines_of(const std::string &text)
{
	std::vector<std::string> v;
	std::istringstream is(text);
	for (std::string l; std::getline(is, l);)
		v.push_back(l);
	return v;
}

// Waits (60 s at most) until pred holds.
bool wait_for(const std::function<bool()> &pred)
{
	auto end = steady_clock::now() + seconds(60);
	while (steady_clock::now() < end) {
		if (pred())
			return true;
		std::this_thread::sleep_for(milliseconds(20));
	}
	return pred();
}

std::string daemon_reply(int freq, const std::string &id, const std::string &text, int n)
{
	return "GETMSG:\n" + std::to_string(freq) + "\nZCZC\n" + id + "\n" + text +
	       "\nNNNN\nERROR:0.00\nSIGNAL:-80.00\nTIME:" + std::to_string(1700000000 + n) + "\n";
}

// A protocol server on loopback whose GETMSG replies come from a script.
// An entry "<close>" closes the connection instead of replying, one ending
// in "<cut>" sends its text and closes.  An exhausted script answers the
// bare header.
struct script_server {
	int lfd = -1;
	int port = 0;
	std::mutex lock;
	std::deque<std::string> script;
	std::atomic<int> connections{0};
	std::atomic<bool> stop{false};
	std::thread th;

	script_server()
	{
		lfd = socket(AF_INET, SOCK_STREAM, 0);
		int one = 1;
		setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
		sockaddr_in a{};
		a.sin_family = AF_INET;
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a);
		socklen_t l = sizeof a;
		getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &l);
		port = ntohs(a.sin_port);
		listen(lfd, 4);
		th = std::thread([this] { run(); });
	}
	~script_server()
	{
		stop = true;
		th.join();
		close(lfd);
	}
	void add(const std::string &r)
	{
		std::lock_guard<std::mutex> g(lock);
		script.push_back(r);
	}
	size_t left()
	{
		std::lock_guard<std::mutex> g(lock);
		return script.size();
	}
	void run()
	{
		while (!stop) {
			pollfd p{lfd, POLLIN, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			int fd = accept(lfd, nullptr, nullptr);
			if (fd < 0)
				continue;
			++connections;
			serve(fd);
			close(fd);
		}
	}
	void serve(int fd)
	{
		char buf[1024];
		while (!stop) {
			pollfd p{fd, POLLIN, 0};
			if (poll(&p, 1, 50) <= 0)
				continue;
			ssize_t n = recv(fd, buf, sizeof buf - 1, 0);
			if (n <= 0)
				return;
			buf[n] = 0;
			std::string reply;
			if (strstr(buf, "GETMSG")) {
				std::lock_guard<std::mutex> g(lock);
				reply = "GETMSG:\n";
				if (!script.empty()) {
					reply = script.front();
					script.pop_front();
				}
			} else if (strstr(buf, "GETSTATUS")) {
				reply = "GETSTATUS:\nFREQ:490,ST:IDLE,DBM:-120.00\nFREQ:518,ST:RCV,DBM:-80.00\n";
			}
			if (reply == "<close>")
				return;
			bool cut = reply.size() >= 5 && reply.compare(reply.size() - 5, 5, "<cut>") == 0;
			if (cut)
				reply.resize(reply.size() - 5);
			send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
			if (cut)
				return;
		}
	}
};

// navwatch in the foreground as a child process.
struct watcher {
	pid_t pid = -1;
	std::string err_path;
	watcher(const std::vector<std::string> &args, const std::string &err_file)
	{
		err_path = err_file;
		pid = fork();
		if (pid == 0) {
			int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			dup2(fd, 2);
			dup2(fd, 1);
			std::vector<char *> argv;
			static std::string bin = NAVWATCH_BIN;
			argv.push_back(bin.data());
			for (auto &a : args)
				argv.push_back(const_cast<char *>(a.c_str()));
			argv.push_back(nullptr);
			execv(argv[0], argv.data());
			_exit(127);
		}
	}
	int stop(int sig = SIGTERM)
	{
		if (pid <= 0)
			return -1;
		kill(pid, sig);
		int st = 0;
		waitpid(pid, &st, 0);
		pid = -1;
		return st;
	}
	~watcher() { stop(SIGKILL); }
	std::string log() const { return slurp(err_path); }
};

program_result view(const std::string &db, std::vector<std::string> args)
{
	args.insert(args.begin(), {NAVWATCH_BIN, "-D", db});
	return run_program(args, "", 60);
}

void write_settings(const std::string &path, const std::string &stations518)
{
	std::ofstream(path) << "[general]\nalarm-sound-enabled=true\n[coast-stations]\nfilter-490=\nfilter-518="
			    << stations518 << "\nfilter-4209=\n[message-filter]\nfilter-490=\nfilter-518=\nfilter-4209=\n";
}

} // namespace

TEST(WatchRun, FaultyServerRestartAndSettings)
{
	std::string dir = temp_dir();
	std::string db = dir + "/m.db", conf = dir + "/s.conf", json = dir + "/m.jsonl";
	write_settings(conf, "K;");
	script_server srv;
	srv.add(daemon_reply(518, "FA01", "FIRST", 1));
	srv.add("HELLO THERE\n");                               // garbage: reconnect
	srv.add(daemon_reply(518, "KE02", "DESELECTED", 2));
	srv.add(daemon_reply(518, "FA03", "CUT SHORT", 3).substr(0, 30) + "<cut>"); // vanishes mid-reply
	srv.add("<close>");
	srv.add("GETMSG:\n518\nZCZC\nFD04\nMAYDAY NO TRAILER\nNNNN");  // no trailer lines
	srv.add(daemon_reply(518, "FA01", "FIRST", 5));         // repeat
	std::string alarm_out = dir + "/alarm.txt";
	std::vector<std::string> args = {"-f", "-S", "127.0.0.1:" + std::to_string(srv.port), "-c", conf, "-D", db,
					 "-J", json, "-i", "20", "-a", "echo $NAVWATCH_ID $NAVWATCH_FREQ >> " + alarm_out};
	{
		watcher w(args, dir + "/log1.txt");
		ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 5; })) << w.log();
		ASSERT_TRUE(wait_for([&] { return slurp(alarm_out) == "FD04 518\n"; })) << w.log();
		EXPECT_EQ(w.stop(), 0);
		std::string log = w.log();
		EXPECT_NE(log.find("not a GETMSG reply"), std::string::npos) << log;
		EXPECT_NE(log.find("in the middle of a reply"), std::string::npos) << log;
		EXPECT_GE(srv.connections.load(), 3);
	}
	auto j = lines_of(slurp(json));
	ASSERT_EQ(j.size(), 5u);
	EXPECT_NE(j[0].find("\"id\":\"FA01\",\"time\":\"2023-11-14T22:13:21Z\""), std::string::npos) << j[0];
	EXPECT_NE(j[1].find("\"decision\":\"deselected\""), std::string::npos) << j[1];
	EXPECT_NE(j[2].find("\"id\":\"FA03\""), std::string::npos) << j[2];
	EXPECT_NE(j[2].find("\"text\":\"CUT SHOR\""), std::string::npos) << j[2];
	EXPECT_NE(j[3].find("\"alarm\":true"), std::string::npos) << j[3];
	EXPECT_NE(j[3].find("\"signal_dbm\":null"), std::string::npos) << j[3];
	EXPECT_NE(j[4].find("\"decision\":\"repeat\""), std::string::npos) << j[4];

	// The list shows what was shown, -a everything; ack resets the alarm.
	program_result r = view(db, {"list"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("FD04"), std::string::npos);
	EXPECT_EQ(r.out.find("KE02"), std::string::npos);
	EXPECT_NE(r.out.find("1 alarm(s) not reset"), std::string::npos) << r.out;
	r = view(db, {"list", "-a", "-f", "518"});
	EXPECT_NE(r.out.find("KE02"), std::string::npos);
	EXPECT_NE(r.out.find("repeat"), std::string::npos);
	EXPECT_EQ(view(db, {"ack"}).status, 0);
	r = view(db, {"list"});
	EXPECT_NE(r.out.find("0 new, 0 alarm(s) not reset"), std::string::npos) << r.out;
	r = view(db, {"show", "4"});
	EXPECT_NE(r.out.find("MAYDAY NO TRAILER"), std::string::npos) << r.out;
	EXPECT_EQ(view(db, {"keep", "4"}).status, 0);
	EXPECT_NE(view(db, {"show", "99"}).status, 0);

	// Restarted: the identifier memory holds; the settings file changes
	// while it runs and station K is shown from then on.
	srv.add(daemon_reply(518, "FA01", "FIRST", 6));
	{
		watcher w(args, dir + "/log2.txt");
		ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 6; })) << w.log();
		write_settings(conf, "");
		ASSERT_TRUE(wait_for([&] { return w.log().find("settings re-read") != std::string::npos; })) << w.log();
		srv.add(daemon_reply(518, "KE07", "NOW SHOWN", 7));
		ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 7; })) << w.log();
	}
	j = lines_of(slurp(json));
	EXPECT_NE(j[5].find("\"decision\":\"repeat\""), std::string::npos) << j[5];
	EXPECT_NE(j[6].find("\"id\":\"KE07\""), std::string::npos) << j[6];
	EXPECT_NE(j[6].find("\"decision\":\"shown\""), std::string::npos) << j[6];
	system(("rm -rf " + dir).c_str());
}

TEST(WatchRun, KilledDuringBurstLosesNothingThatWasOutput)
{
	std::string dir = temp_dir();
	std::string db = dir + "/m.db", json = dir + "/m.jsonl";
	script_server srv;
	for (int i = 0; i < 3000; ++i)
		srv.add(daemon_reply(i % 2 ? 518 : 490, "F" + std::string(1, 'A' + i % 20) + std::to_string(10 + i % 90),
				     "BURST " + std::to_string(i), i));
	{
		watcher w({"-f", "-S", "127.0.0.1:" + std::to_string(srv.port), "-c", dir + "/none.conf", "-D", db, "-J",
			   json},
			  dir + "/log.txt");
		ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 300; })) << w.log();
		w.stop(SIGKILL);
	}
	std::string err;
	store *s = store_open(db, STORE_OPEN_EXISTING, &err);
	ASSERT_NE(s, nullptr) << err;
	auto j = lines_of(slurp(json));
	int checked = 0;
	for (const auto &l : j) {
		if (l.empty() || l.back() != '}')
			continue; // a line the kill cut short
		long long seq = atoll(l.c_str() + strlen("{\"seq\":"));
		stored_msg m;
		ASSERT_EQ(store_get(s, seq, &m, nullptr, &err), 0) << l;
		EXPECT_NE(l.find("\"text\":" + jsonl_string(m.text)), std::string::npos) << l;
		++checked;
	}
	EXPECT_GE(checked, 300);
	store_close(s);
	system(("rm -rf " + dir).c_str());
}

#ifdef FILEFEED_BIN
TEST(WatchRun, AgainstFilefeed)
{
	// filefeed answers GETMSG only when it has a message, after status
	// requests, and sends it without trailer lines, over and over.
	std::string dir = temp_dir();
	std::ofstream(dir + "/navtexMsg.txt") << "518\nZCZC\nFA01\nNAVAREA I 123\nNNNN\n"
					      << "518\nZCZC\nFD02\nMAYDAY RELAY\nNNNN\n"
					      << "518\nZCZC\nFA00\nNO MESSAGES ON HAND\nNNNN\n";
	int port = 0;
	{
		script_server probe; // a free port: taken and given back
		port = probe.port;
	}
	pid_t ff = fork();
	if (ff == 0) {
		int fd = open("/dev/null", O_WRONLY);
		dup2(fd, 1);
		execl(FILEFEED_BIN, "filefeed", "-p", std::to_string(port).c_str(), "-f",
		      (dir + "/navtexMsg.txt").c_str(), "-i", "1", static_cast<char *>(nullptr));
		_exit(127);
	}
	std::string json = dir + "/m.jsonl";
	{
		watcher w({"-f", "-S", "127.0.0.1:" + std::to_string(port), "-c", dir + "/none.conf", "-D",
			   dir + "/m.db", "-J", json, "-i", "20"},
			  dir + "/log.txt");
		EXPECT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 5; })) << w.log();
	}
	kill(ff, SIGKILL);
	waitpid(ff, nullptr, 0);
	auto j = lines_of(slurp(json));
	ASSERT_GE(j.size(), 5u);
	const char *want[5][2] = {{"FA01", "shown"}, {"FD02", "shown"}, {"FA00", "shown"}, {"FA01", "repeat"},
				  {"FD02", "repeat"}};
	for (int i = 0; i < 5; ++i) {
		EXPECT_NE(j[i].find(std::string("\"id\":\"") + want[i][0]), std::string::npos) << j[i];
		EXPECT_NE(j[i].find(std::string("\"decision\":\"") + want[i][1]), std::string::npos) << j[i];
	}
	EXPECT_NE(j[1].find("\"alarm\":true"), std::string::npos);
	EXPECT_NE(j[0].find("\"text\":\"NAVAREA I 123\\n\\nNNNN\""), std::string::npos) << j[0];
	system(("rm -rf " + dir).c_str());
}
#endif

#if defined(SKERRIN_BIN) && defined(NAVSYNTH_BIN)
TEST(WatchRun, KeepsWhatSkerrinDecodes)
{
	// 518 kHz: a warning, a deselected station, a type D, serial 00 and the
	// warning's repeat; 490 kHz, weak: one gale warning sent twice, its first
	// copy received with errors (this seed and noise give 6.9 %).
	std::string dir = temp_dir();
	std::ofstream(dir + "/c1.txt") << "ZCZC FA01\nNAVAREA I 123 BUOY UNLIT\nNNNN\nZCZC KE02\nFORECAST\nNNNN\n"
				       << "ZCZC FD03\nMAYDAY RELAY VESSEL ON FIRE\nNNNN\nZCZC FA00\nNO MESSAGES ON HAND\nNNNN\n"
				       << "ZCZC FA01\nNAVAREA I 123 BUOY UNLIT\nNNNN\n";
	const std::string gale = "ZCZC EA05\nGALE WARNING NORTH UTSIRA SOUTH UTSIRA NW 8 VEERING N\nNNNN\n";
	std::ofstream(dir + "/c0.txt") << gale << gale;
	std::string rec = dir + "/rec.raw";
	program_result syn = run_program({NAVSYNTH_BIN, "-s", "4", "-g", "1", "-k", "0", "-m", dir + "/c0.txt", "-n", "1",
					  "-k", "1", "-m", dir + "/c1.txt", "-o", rec},
					 "", 120);
	ASSERT_EQ(syn.status, 0) << syn.err;
	write_settings(dir + "/s.conf", "K;");
	int port = 0;
	{
		script_server probe;
		port = probe.port;
	}
	std::string json = dir + "/m.jsonl", db = dir + "/m.db";
	watcher w({"-f", "-S", "127.0.0.1:" + std::to_string(port), "-c", dir + "/s.conf", "-D", db, "-J", json, "-i",
		   "20"},
		  dir + "/log.txt");
	// Ten times real time; navwatch takes each message as it is queued.
	program_result dec = run_program({SKERRIN_BIN, "-f", "-i", rec, "-p", std::to_string(port), "-s", "100"}, "", 300);
	ASSERT_EQ(dec.status, 0) << dec.err;
	ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 7; })) << w.log() << dec.out;
	w.stop();
	std::map<std::string, std::vector<std::string>> by_id;
	for (const auto &l : lines_of(slurp(json))) {
		size_t at = l.find("\"id\":\"");
		ASSERT_NE(at, std::string::npos) << l;
		by_id[l.substr(at + 6, 4)].push_back(l);
	}
	auto has = [](const std::string &l, const std::string &what) { return l.find(what) != std::string::npos; };
	ASSERT_EQ(by_id["FA01"].size(), 2u);
	EXPECT_TRUE(has(by_id["FA01"][0], "\"decision\":\"shown\""));
	EXPECT_TRUE(has(by_id["FA01"][1], "\"decision\":\"repeat\""));
	EXPECT_TRUE(has(by_id["KE02"].at(0), "\"decision\":\"deselected\""));
	EXPECT_TRUE(has(by_id["FD03"].at(0), "\"alarm\":true"));
	EXPECT_TRUE(has(by_id["FA00"].at(0), "\"decision\":\"shown\""));
	ASSERT_EQ(by_id["EA05"].size(), 2u);
	// Both copies shown: the first had too many errors to be remembered.
	EXPECT_TRUE(has(by_id["EA05"][0], "\"freq\":490"));
	EXPECT_TRUE(has(by_id["EA05"][1], "\"decision\":\"shown\"")) << by_id["EA05"][1];
	double first = atof(by_id["EA05"][0].c_str() + by_id["EA05"][0].find("\"error_pct\":") + 12);
	double second = atof(by_id["EA05"][1].c_str() + by_id["EA05"][1].find("\"error_pct\":") + 12);
	EXPECT_GE(first, 4.0);
	EXPECT_LT(second, 4.0);
	std::string err;
	store *s = store_open(db, STORE_OPEN_READONLY, &err);
	ASSERT_NE(s, nullptr) << err;
	EXPECT_EQ(store_ident_known(s, 490, "EA05", time(nullptr), &err), 1);
	store_close(s);
	system(("rm -rf " + dir).c_str());
}
#endif

TEST(WatchRun, NrxOutputMatchesJsonAndNrmChangesSettings)
{
	std::string dir = temp_dir();
	std::string conf = dir + "/s.conf", json = dir + "/m.jsonl";
	write_settings(conf, "");
	script_server srv;
	int nmea_port = 0;
	{
		script_server probe;
		nmea_port = probe.port;
	}
	watcher w({"-f", "-S", "127.0.0.1:" + std::to_string(srv.port), "-c", conf, "-D", dir + "/m.db", "-J", json,
		   "-N", "tcp:" + std::to_string(nmea_port), "-i", "20"},
		  dir + "/log.txt");
	int fd = -1;
	ASSERT_TRUE(wait_for([&] {
		fd = socket(AF_INET, SOCK_STREAM, 0);
		sockaddr_in a{};
		a.sin_family = AF_INET;
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		a.sin_port = htons(static_cast<uint16_t>(nmea_port));
		if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
			return true;
		close(fd);
		return false;
	})) << w.log();
	// Sentences go to the clients accepted when a message is sent.
	ASSERT_TRUE(wait_for([&] { return w.log().find(" client ") != std::string::npos; })) << w.log();
	// A long text with reserved characters: several sentences, escapes.
	std::string body = "NAVAREA I 123/26, DOVER*STRAIT ^ $ ! ~\n";
	for (int i = 0; i < 6; ++i)
		body += "BUOY 51-02.3N 001-31.6E UNLIT. LIGHT 5 NM.\n";
	srv.add(daemon_reply(518, "FA01", body + "NNNN", 1));
	srv.add(daemon_reply(490, "KB02", "GALE", 2));
	std::string got;
	auto sentences = [&] {
		char buf[4096];
		pollfd p{fd, POLLIN, 0};
		while (poll(&p, 1, 0) > 0) {
			ssize_t n = recv(fd, buf, sizeof buf, 0);
			if (n <= 0)
				break;
			got.append(buf, static_cast<size_t>(n));
		}
		std::vector<std::string> v;
		for (size_t at = 0, nl; (nl = got.find('\n', at)) != std::string::npos; at = nl + 1)
			v.push_back(got.substr(at, nl + 1 - at));
		return v;
	};
	std::vector<nmea_nrx_read> msgs;
	ASSERT_TRUE(wait_for([&] {
		msgs.clear();
		std::vector<std::string> group;
		for (const auto &l : sentences()) {
			nmea_fields f;
			if (!nmea_parse_sentence(l, f) || f.formatter != "NRX")
				continue;
			group.push_back(l);
			nmea_nrx_read r;
			if (nmea_nrx_parse(group, r)) {
				msgs.push_back(r);
				group.clear();
			}
		}
		return msgs.size() >= 2;
	})) << got << w.log() << slurp(json);
	auto j = lines_of(slurp(json));
	ASSERT_EQ(j.size(), 2u);
	for (size_t i = 0; i < 2; ++i) {
		EXPECT_NE(j[i].find("\"id\":\"" + msgs[i].ident + "\""), std::string::npos) << j[i];
		// Line ends come back as CR LF; the JSON text has LF.
		std::string text;
		for (char c : msgs[i].text)
			if (c != '\r')
				text += c;
		EXPECT_NE(j[i].find("\"text\":" + jsonl_string(text)), std::string::npos) << j[i] << "\n" << text;
	}
	EXPECT_EQ(msgs[0].freq_index, 2);
	EXPECT_EQ(msgs[1].freq_index, 1);
	EXPECT_EQ(msgs[0].status, 'V'); // the text holds a '*'
	EXPECT_EQ(msgs[1].status, 'A');

	// An NRM command: on 490 kHz take no station K messages.
	nmea_nrm cmd;
	cmd.function = 1;
	cmd.freq_index = 1;
	cmd.area = NMEA_MASK_LETTERS & ~(1u << ('K' - 'A'));
	cmd.type = NMEA_MASK_LETTERS;
	cmd.status = 'C';
	std::string line = nmea_nrm_sentence(cmd);
	ASSERT_EQ(send(fd, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
	ASSERT_TRUE(wait_for([&] { return slurp(conf).find("filter-490=K;") != std::string::npos; })) << slurp(conf);
	srv.add(daemon_reply(490, "KE03", "NOT FOR US", 3));
	ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= 3; })) << w.log();
	EXPECT_NE(lines_of(slurp(json))[2].find("\"decision\":\"deselected\""), std::string::npos);
	close(fd);
	system(("rm -rf " + dir).c_str());
}
