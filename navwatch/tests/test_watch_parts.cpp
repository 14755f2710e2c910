// navwatch's parts on their own: reply parsing, mending, the store's
// rules, and the decision per message.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "keeper.h"
#include "mend.h"
#include "reply.h"
#include "store.h"

namespace {

std::string temp_dir()
{
	char tmpl[] = "/tmp/navwatch-test-XXXXXX";
	return mkdtemp(tmpl);
}

std::string file_bytes(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::stringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

stored_msg msg(int freq, const std::string &id, const std::string &text, int64_t t)
{
	stored_msg m;
	m.freq = freq;
	m.ident = id;
	m.text = text;
	m.rcv_time = m.taken_time = t;
	m.error_pct = mend_error_pct(text);
	return m;
}

} // namespace

TEST(WatchReply, ReadsWholeCutAndBrokenReplies)
{
	taken_msg m;
	EXPECT_EQ(reply_parse_getmsg("GETMSG:\n", &m), REPLY_EMPTY);
	EXPECT_EQ(reply_parse_getmsg("ERR:Command not supported\n", &m), REPLY_GARBAGE);

	const std::string whole =
		"GETMSG:\n518\nZCZC\nFA01\nTEST MESSAGE 123\nERROR: NOT TRAILER\nNNNN\nERROR:5.00\nSIGNAL:-80.00\nTIME:1700000000\n";
	ASSERT_EQ(reply_parse_getmsg(whole, &m), REPLY_MESSAGE);
	EXPECT_EQ(m.freq, 518);
	EXPECT_EQ(m.ident, "FA01");
	// A line of the text that looks like the trailer stays in the text.
	EXPECT_EQ(m.text, "TEST MESSAGE 123\nERROR: NOT TRAILER\nNNNN");
	EXPECT_DOUBLE_EQ(m.error_pct, 5.0);
	EXPECT_TRUE(m.has_signal);
	EXPECT_DOUBLE_EQ(m.signal_dbm, -80.0);
	EXPECT_EQ(m.rcv_time, 1700000000);
	EXPECT_TRUE(m.faults.empty());
	EXPECT_EQ(reply_complete(whole), 1);

	// Cut in the trailer: the text is kept, the errors counted.
	ASSERT_EQ(reply_parse_getmsg("GETMSG:\n490\nZCZC\nKA2*\nAB*D\nNNNN\nERR", &m), REPLY_MESSAGE);
	EXPECT_EQ(m.freq, 490);
	EXPECT_EQ(m.ident, "");
	EXPECT_EQ(m.raw_ident, "KA2*");
	EXPECT_EQ(m.text, "AB*D\nNNNN\nERR");
	EXPECT_NEAR(m.error_pct, 100.0 / 13, 1e-9);
	EXPECT_FALSE(m.has_time);
	EXPECT_FALSE(m.faults.empty());

	// No frequency, one-line identifier, no trailer (a test server's form).
	ASSERT_EQ(reply_parse_getmsg("GETMSG:\nZCZC LB07\nGALE\n\nNNNN", &m), REPLY_MESSAGE);
	EXPECT_EQ(m.freq, 0);
	EXPECT_EQ(m.ident, "LB07");
	EXPECT_EQ(m.text, "GALE\n\nNNNN");

	// Garbage after the header is still a message, not lost.
	ASSERT_EQ(reply_parse_getmsg(std::string("GETMSG:\n\x01\xff junk", 14), &m), REPLY_MESSAGE);
	EXPECT_EQ(m.text.size(), 6u);

	std::vector<channel_state> ch;
	EXPECT_EQ(reply_parse_status("GETSTATUS:\nFREQ:490,ST:IDLE,DBM:-101.50\nFREQ:518,ST:RCV,SIG:0.0\n", 5, &ch), 2);
	EXPECT_EQ(ch[1].state, "RCV");
	EXPECT_DOUBLE_EQ(ch[0].dbm, -101.5);
	EXPECT_EQ(reply_parse_status("GETMSG:\n", 5, &ch), -1);
}

TEST(WatchMend, FillsFromCopiesAlignedAcrossLostCharacters)
{
	// Two copies: the gaps of the better one are filled from the other,
	// which lost a character early on (so positions shift by one).
	mend_result r = mend_copies({"GALE WARNING*NORTH UTSIRA NW 8", "GALE WRNING N*RTH UTSIRA N* 8"});
	EXPECT_EQ(r.text, "GALE WARNING NORTH UTSIRA NW 8");
	EXPECT_EQ(r.error_pct, 0);
	EXPECT_EQ(r.filled, 1);

	// Three copies: the majority decides, also against the best copy.
	r = mend_copies({"BUOY UNLIT", "BUOY UNL*T", "BXOY UNLIT"});
	EXPECT_EQ(r.text, "BUOY UNLIT");
	r = mend_copies({"BUOY **LIT", "BUOZ U*LIT", "BUOZ UNLI*"});
	EXPECT_EQ(r.text, "BUOZ UNLIT");

	// Nothing to take: the '*' stays and counts.
	r = mend_copies({"AB*D", "AB*D"});
	EXPECT_EQ(r.text, "AB*D");
	EXPECT_DOUBLE_EQ(r.error_pct, 25.0);
	// Copies too different to be one message give nothing.
	r = mend_copies({"*" + std::string(4999, 'X'), "A*"});
	EXPECT_EQ(r.text[0], '*');
}

TEST(WatchStore, RefusesForeignAndNewerFilesAndKeepsItsRules)
{
	std::string dir = temp_dir(), err;
	// A file that is not a store, another program's database, a newer schema.
	std::ofstream(dir + "/text.db") << "hello, not a database at all............................................";
	EXPECT_EQ(store_open(dir + "/text.db", STORE_OPEN_CREATE, &err), nullptr);
	EXPECT_NE(err.find("not a navwatch store"), std::string::npos) << err;
	sqlite3 *db;
	ASSERT_EQ(sqlite3_open((dir + "/other.db").c_str(), &db), SQLITE_OK);
	sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
	sqlite3_close(db);
	std::string before = file_bytes(dir + "/other.db");
	EXPECT_EQ(store_open(dir + "/other.db", STORE_OPEN_CREATE, &err), nullptr);
	EXPECT_EQ(file_bytes(dir + "/other.db"), before);

	store *s = store_open(dir + "/n.db", STORE_OPEN_CREATE, &err);
	ASSERT_NE(s, nullptr) << err;
	store_close(s);
	ASSERT_EQ(sqlite3_open((dir + "/n.db").c_str(), &db), SQLITE_OK);
	sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
	sqlite3_close(db);
	EXPECT_EQ(store_open(dir + "/n.db", STORE_OPEN_EXISTING, &err), nullptr);
	EXPECT_NE(err.find("newer"), std::string::npos) << err;
	EXPECT_EQ(store_open(dir + "/absent.db", STORE_OPEN_EXISTING, &err), nullptr);

	s = store_open(dir + "/s.db", STORE_OPEN_CREATE, &err);
	ASSERT_NE(s, nullptr);
	store_limits lim;
	lim.per_freq = 8;
	lim.ident_per_freq = 3;
	lim.ident_hold_s = 100;
	store_set_limits(s, lim);
	for (int i = 0; i < 10; ++i) {
		stored_msg m = msg(i % 2 ? 518 : 490, "FA1" + std::to_string(i), "TEXT " + std::to_string(i), 1000 + i);
		ASSERT_GT(store_put(s, m, true, &err), 0) << err;
		if (i == 0) {
			EXPECT_EQ(store_keep(s, m.id, true, &err), 0) << err;
		}
	}
	// A quarter of 8 per frequency: one more keep on 490 kHz, then refused.
	EXPECT_EQ(store_keep(s, 2, true, &err), 0); // 518 kHz
	EXPECT_EQ(store_keep(s, 3, true, &err), 0);
	EXPECT_EQ(store_keep(s, 5, true, &err), -2);
	EXPECT_NE(err.find("refused"), std::string::npos);
	EXPECT_EQ(store_keep(s, 999, true, &err), 1);

	// Beyond 8 per frequency the oldest unkept go, kept ones stay.
	for (int i = 10; i < 30; ++i) {
		stored_msg m = msg(490, "GB" + std::to_string(10 + i % 90), "X", 2000 + i);
		ASSERT_GT(store_put(s, m, false, &err), 0);
	}
	store_query q;
	q.freq = 490;
	q.all = true;
	EXPECT_EQ(store_count(s, q, &err), 8);
	std::vector<stored_msg> v;
	q.kept_only = true;
	ASSERT_EQ(store_list(s, q, &v, &err), 2);
	EXPECT_EQ(v[1].id, 1);

	// Identifier memory: hold time and at most three per frequency.
	EXPECT_EQ(store_ident_known(s, 490, "FA18", 1010, &err), 1);
	EXPECT_EQ(store_ident_known(s, 518, "FA18", 1010, &err), 0);
	EXPECT_EQ(store_ident_known(s, 490, "FA18", 1200, &err), 0);
	EXPECT_EQ(store_ident_known(s, 490, "FA10", 1010, &err), 0); // pushed out
	EXPECT_EQ(store_ident_known(s, 490, "FA14", 1010, &err), 1);

	// Newest first with keyset paging and the text filter.
	store_query p;
	p.limit = 3;
	ASSERT_EQ(store_list(s, p, &v, &err), 3);
	EXPECT_GT(v[0].id, v[1].id);
	p.before_id = v[2].id;
	ASSERT_EQ(store_list(s, p, &v, &err), 3);
	EXPECT_LT(v[0].id, p.before_id);
	store_query t;
	t.text = "text 9";
	ASSERT_EQ(store_list(s, t, &v, &err), 1);
	EXPECT_EQ(v[0].ident, "FA19");
	store_close(s);

	// Everything above survives closing.
	s = store_open(dir + "/s.db", STORE_OPEN_EXISTING, &err);
	ASSERT_NE(s, nullptr);
	EXPECT_EQ(store_ident_known(s, 490, "FA14", 1010, &err), 1);
	store_counts c;
	ASSERT_EQ(store_get_counts(s, 2100, &c, &err), 0);
	EXPECT_EQ(c.kept, 3);
	store_close(s);
	system(("rm -rf " + dir).c_str());
}

TEST(WatchKeeper, RepeatsSerialZeroSelectionsMendingAndAlarm)
{
	std::string dir = temp_dir(), err;
	store *s = store_open(dir + "/k.db", STORE_OPEN_CREATE, &err);
	ASSERT_NE(s, nullptr);
	filter_obj f;
	message_filter_init(&f);
	message_filter_add_station(&f, 490, "K");
	message_filter_add_station(&f, 518, "K");

	auto take = [&](int freq, const std::string &id, const std::string &text, int64_t now) {
		taken_msg t;
		t.freq = freq;
		t.ident = t.raw_ident = id;
		t.text = text;
		t.error_pct = mend_error_pct(text);
		keeper_result r;
		EXPECT_EQ(keeper_decide(s, &f, t, now, &r, &err), 0) << err;
		EXPECT_GT(store_put(s, r.msg, r.remember, &err), 0) << err;
		return r;
	};
	keeper_result r = take(518, "FA01", "SOME TEXT\nNNNN", 100);
	EXPECT_EQ(r.msg.decision, msg_decision::shown);
	EXPECT_TRUE(r.remember);
	EXPECT_EQ(take(518, "FA01", "SOME TEXT\nNNNN", 200).msg.decision, msg_decision::repeat);
	// Serial 00: shown every time, never remembered.
	EXPECT_EQ(take(518, "FA00", "A", 300).msg.decision, msg_decision::shown);
	r = take(518, "FA00", "A", 301);
	EXPECT_EQ(r.msg.decision, msg_decision::shown);
	EXPECT_FALSE(r.remember);
	// A deselected station, except for the protected types, on any frequency.
	EXPECT_EQ(take(490, "KE10", "X", 400).msg.decision, msg_decision::deselected);
	EXPECT_EQ(take(518, "KE10", "X", 400).msg.decision, msg_decision::deselected);
	r = take(490, "KD11", "MAYDAY", 401);
	EXPECT_EQ(r.msg.decision, msg_decision::shown);
	EXPECT_TRUE(r.msg.alarm);
	EXPECT_EQ(take(490, "KL12", "X", 402).msg.decision, msg_decision::shown);

	// With errors: shown, not remembered; the repeat mends it and is remembered.
	const std::string good = "NAVAREA I 123 BUOY 51-02.3N 001-31.6E UNLIT\nNNNN";
	std::string bad1 = good, bad2 = good;
	for (int i : {3, 9, 15, 22})
		bad1[i] = '*';
	for (int i : {4, 15, 30})
		bad2[i] = '*';
	r = take(4209, "EA05", bad1, 500);
	EXPECT_EQ(r.msg.decision, msg_decision::shown);
	EXPECT_FALSE(r.remember);
	r = take(4209, "EA05", bad2, 600);
	EXPECT_EQ(r.msg.decision, msg_decision::shown);
	EXPECT_TRUE(r.msg.merged);
	EXPECT_TRUE(r.remember);
	std::string mended = good;
	mended[15] = '*';
	EXPECT_EQ(r.msg.merged_text, mended);
	EXPECT_NEAR(r.msg.merged_error_pct, 100.0 / good.size(), 1e-9);
	EXPECT_EQ(take(4209, "EA05", good, 700).msg.decision, msg_decision::repeat);

	// The mended copy is listed, the earlier one is kept as its copy.
	stored_msg m;
	std::vector<stored_msg> copies;
	ASSERT_EQ(store_get(s, r.msg.id, &m, &copies, &err), 0);
	ASSERT_EQ(copies.size(), 2u);
	EXPECT_EQ(copies[0].text, bad1);
	EXPECT_TRUE(copies[0].superseded);
	store_query q;
	q.freq = 4209;
	std::vector<stored_msg> v;
	ASSERT_EQ(store_list(s, q, &v, &err), 1);
	EXPECT_EQ(v[0].id, r.msg.id);

	message_filter_free(&f);
	store_close(s);
	system(("rm -rf " + dir).c_str());
}
