// navwatch as a program: against a scripted server (faults, reconnects,
// a burst cut by kill -9), against filefeed, restarts and settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "watch_support.h"

using namespace watch_test;
using namespace std::chrono;

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

TEST(WatchRun, FullDiskHoldsMessagesUntilWritable)
{
	// A file size limit stands in for a full disk: the store's writes fail
	// once its files reach 160 KiB, until the limit is lifted.
	std::string dir = temp_dir();
	std::string db = dir + "/m.db", json = dir + "/m.jsonl";
	script_server srv;
	const int n = 120;
	for (int i = 0; i < n; ++i)
		srv.add(daemon_reply(518, "F" + std::string(1, 'A' + i % 20) + std::to_string(10 + i / 20),
				     std::string(1500, 'A' + i % 26), i));
	watcher w({"-f", "-S", "127.0.0.1:" + std::to_string(srv.port), "-c", dir + "/none.conf", "-D", db, "-J",
		   json, "-i", "20"},
		  dir + "/log.txt", 160 * 1024);
	ASSERT_TRUE(wait_for([&] { return w.log().find("cannot write the store") != std::string::npos; })) << w.log();
	size_t before = lines_of(slurp(json)).size();
	EXPECT_LT(before, static_cast<size_t>(n));
	// Nothing more is taken while messages are held.
	size_t left = srv.left();
	std::this_thread::sleep_for(milliseconds(300));
	EXPECT_EQ(srv.left(), left);
	rlimit r{RLIM_INFINITY, RLIM_INFINITY};
	ASSERT_EQ(prlimit(w.pid, RLIMIT_FSIZE, &r, nullptr), 0);
	ASSERT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() >= static_cast<size_t>(n); })) << w.log();
	EXPECT_EQ(w.stop(), 0);
	std::string log = w.log();
	EXPECT_EQ(log.find("cannot write the store"), log.rfind("cannot write the store")) << log; // said once
	EXPECT_NE(log.find("writable again"), std::string::npos) << log;
	std::string err;
	store *s = store_open(db, STORE_OPEN_READONLY, &err);
	ASSERT_NE(s, nullptr) << err;
	store_query q;
	q.all = true;
	EXPECT_EQ(store_count(s, q, &err), n);
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
		if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && !self_connected(fd))
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

TEST(WatchRun, DetachesUnlessForeground)
{
	std::string dir = temp_dir();
	std::string json = dir + "/m.jsonl";
	script_server srv;
	srv.add(daemon_reply(518, "FA01", "DETACHED", 1));
	// Relative paths still name the same files once it has left the folder.
	program_result r = run_program({NAVWATCH_BIN, "-S", "127.0.0.1:" + std::to_string(srv.port), "-c", "none.conf",
					"-D", "m.db", "-J", "m.jsonl", "-i", "20"},
				       dir, 60);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_FALSE(r.timed_out);
	EXPECT_TRUE(wait_for([&] { return lines_of(slurp(json)).size() == 1; }));
	// The detached keeper is found by its store's path and ended.
	pid_t found = -1;
	for (int tries = 0; tries < 100 && found < 0; ++tries)
		for (const auto &e : std::filesystem::directory_iterator("/proc")) {
			std::string cmd = slurp(e.path().string() + "/cmdline");
			std::replace(cmd.begin(), cmd.end(), '\0', ' ');
			std::error_code ec;
			// (Under emulation the command line starts with the emulator.)
			if (cmd.find(NAVWATCH_BIN) != std::string::npos &&
			    cmd.find(std::to_string(srv.port)) != std::string::npos &&
			    std::filesystem::equivalent(e.path() / "cwd", "/", ec))
				found = atoi(e.path().filename().c_str());
		}
	ASSERT_GT(found, 0);
	EXPECT_TRUE(std::filesystem::exists(dir + "/m.db"));
	kill(found, SIGTERM);
	system(("rm -rf " + dir).c_str());
}
