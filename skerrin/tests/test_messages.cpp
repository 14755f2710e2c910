// Message record (identifier rules, growth, error rate, client text) and
// the message queue (order, listing).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "messages.h"

namespace {

struct Msg {
	MessageObj *m;
	Msg(int freq = 518, time_t t = 1636200000) : m(message_create(freq, t)) {}
	~Msg() { message_remove(&m); }
	// Offers each character, '*' as an error mark; returns the last result.
	int add(const std::string &s)
	{
		int r = 0;
		for (char c : s)
			r = message_addchr(m, c, c == '*');
		return r;
	}
	std::string text() const { return std::string(m->buffer, m->length); }
	std::string socket(int max_size = 10240)
	{
		std::string buf(max_size + 16, '#');
		int n = message_print_socket(m, buf.data(), max_size);
		EXPECT_EQ(buf.find('#'), static_cast<size_t>(std::min(n + 1, max_size)))
			<< "wrote past the returned length or its terminator";
		EXPECT_EQ(buf.substr(max_size), std::string(16, '#')) << "wrote past max_size";
		return buf.substr(0, n);
	}
};

// Empties the process-wide queue (and frees what was in it).
void drain()
{
	while (MessageObj *m = message_list_get())
		message_remove(&m);
}

} // namespace

TEST(MessageRecord, CreateGivesEmptyRecord)
{
	Msg a(490, 12345);
	ASSERT_NE(a.m, nullptr);
	EXPECT_EQ(a.m->freq, 490);
	EXPECT_EQ(a.m->rcv_time, 12345);
	EXPECT_EQ(a.m->buf_size, 1024);
	EXPECT_EQ(a.m->length, 0);
	EXPECT_EQ(a.m->errors, 0);
	EXPECT_EQ(a.m->msg_id_len, 0);
	EXPECT_EQ(a.m->msg_id[4], 0);
	EXPECT_EQ(a.m->signal, 0.0);
}

TEST(MessageRecord, StandardIdentifierLine)
{
	Msg a;
	EXPECT_EQ(a.add(" FA01r\nTEST MESSAGE 123r\nNNNN"), 0);
	EXPECT_STREQ(a.m->msg_id, "FA01");
	EXPECT_EQ(a.text(), "TEST MESSAGE 123\nNNNN");
	EXPECT_EQ(a.m->length, 21);
	EXPECT_EQ(a.m->errors, 0);
}

TEST(MessageRecord, MarksAreNeverStored)
{
	Msg a;
	a.add("aF bA c0 s1 r\nXaYbZcWrVs");
	EXPECT_STREQ(a.m->msg_id, "FA01");
	EXPECT_EQ(a.text(), "XYZWV");
}

TEST(MessageRecord, SpacesSkippedUntilTextThenKept)
{
	Msg a;
	a.add("  F A 0 1  \n A B ");
	EXPECT_STREQ(a.m->msg_id, "FA01");
	EXPECT_EQ(a.text(), " A B ");
}

TEST(MessageRecord, IdentifierLineWithoutLineFeedSkipsTwo)
{
	Msg a;
	a.add("AB12XYTEXT");
	EXPECT_STREQ(a.m->msg_id, "AB12");
	EXPECT_EQ(a.text(), "TEXT");
}

TEST(MessageRecord, LineFeedEndsIdentifierLineAtOnce)
{
	Msg a;
	a.add("AB12\nXY");
	EXPECT_EQ(a.text(), "XY");
	Msg b;
	b.add("AB12Q\nXY");
	EXPECT_EQ(b.text(), "XY");
}

TEST(MessageRecord, ErrorMarkInIdentifierIsStoredAndReported)
{
	Msg a;
	EXPECT_EQ(a.add("AB"), 0);
	EXPECT_EQ(message_addchr(a.m, '*', 1), -1);
	EXPECT_EQ(a.m->msg_id[2], '*');
	EXPECT_EQ(a.m->msg_id_len, 3);
}

TEST(MessageRecord, ErrorMarksAfterIdentifierAreNotCounted)
{
	Msg a;
	a.add("AB12**XY*");
	EXPECT_EQ(a.text(), "XY*");
	EXPECT_EQ(a.m->errors, 1);
}

TEST(MessageRecord, TextGrowsAtThe1025thCharacter)
{
	Msg a;
	a.add("AB12\n");
	for (int k = 0; k < 1024; k++)
		ASSERT_EQ(message_addchr(a.m, 'A' + k % 26, 0), 0);
	EXPECT_EQ(a.m->buf_size, 1024);
	EXPECT_EQ(message_addchr(a.m, 'Z', 0), 0);
	EXPECT_EQ(a.m->buf_size, 2048);
	EXPECT_EQ(a.m->length, 1025);
	for (int k = 0; k < 1024; k++)
		ASSERT_EQ(a.m->buffer[k], 'A' + k % 26) << "text lost in the growth";
	EXPECT_EQ(a.m->buffer[1024], 'Z');
	for (int k = 0; k < 1024; k++)
		message_addchr(a.m, 'x', 0);
	EXPECT_EQ(a.m->buf_size, 3072);
}

TEST(MessageRecord, ErrorPercentage)
{
	Msg a;
	a.add("AB12\n");
	for (int k = 0; k < 200; k++)
		message_addchr(a.m, k % 20 == 0 ? '*' : 'T', k % 20 == 0);
	EXPECT_DOUBLE_EQ(message_get_err(a.m), 5.0);
	EXPECT_NE(a.socket().find("\nERROR:5.00\n"), std::string::npos);
	Msg empty;
	EXPECT_TRUE(std::isnan(message_get_err(empty.m)));
}

TEST(MessageRecord, ResetKeepsBufferAndClearsText)
{
	Msg a;
	a.add("AB12\n");
	for (int k = 0; k < 1500; k++)
		message_addchr(a.m, '*', 1);
	a.m->signal = -70.0;
	message_reset(a.m, 4209, 99);
	EXPECT_EQ(a.m->freq, 4209);
	EXPECT_EQ(a.m->rcv_time, 99);
	EXPECT_EQ(a.m->length, 0);
	EXPECT_EQ(a.m->errors, 0);
	EXPECT_EQ(a.m->msg_id_len, 0);
	EXPECT_EQ(a.m->signal, 0.0);
	EXPECT_EQ(a.m->buf_size, 2048);
	EXPECT_STREQ(a.m->msg_id, "");
	a.add("CD34\nOK");
	EXPECT_STREQ(a.m->msg_id, "CD34");
	EXPECT_EQ(a.text(), "OK");
}

TEST(MessageRecord, RemoveClearsPointer)
{
	MessageObj *m = message_create(518, 0);
	message_remove(&m);
	EXPECT_EQ(m, nullptr);
	message_remove(&m); // a second call finds nothing to free
}

TEST(MessageText, ClientTextLineByLine)
{
	Msg a(518, 1636228800);
	a.add(" FA01r\nTEST MESSAGE 123r\nNNNN");
	a.m->signal = -80.0;
	EXPECT_EQ(a.socket(), "518\nZCZC\nFA01\nTEST MESSAGE 123\nNNNN\nERROR:0.00\n"
			      "SIGNAL:-80.00\nTIME:1636228800\n");
}

TEST(MessageText, HeaderLine)
{
	Msg a(490, 0);
	a.add("XY99\nAB*D");
	a.m->signal = -61.5;
	testing::internal::CaptureStdout();
	message_print_hdr(a.m);
	std::string out = testing::internal::GetCapturedStdout();
	EXPECT_EQ(out.rfind("Freq: 490, Message id: XY99, Length 4, Signal -61.500000, "
			    "No of errors 1 (25.00 %) ", 0),
		  0u)
		<< out;
	// The reception time in the 24-character local-time form and a line feed.
	char when[64];
	time_t t = 0;
	ctime_r(&t, when);
	EXPECT_EQ(out.substr(out.size() - 25), when);
}

TEST(MessageText, BoundedWriteCutsBodyKeepsTrailer)
{
	Msg a(518, 42);
	a.add("AB12\n");
	for (int k = 0; k < 5000; k++)
		message_addchr(a.m, 'Q', 0);
	const std::string hdr = "518\nZCZC\nAB12\n";
	const std::string trailer = "\nERROR:0.00\nSIGNAL:0.00\nTIME:42\n";
	EXPECT_EQ(a.socket(10232), hdr + std::string(5000, 'Q') + trailer);

	// Too long for the room: the body is cut, header and trailer stay whole.
	std::string cut = a.socket(1000);
	EXPECT_EQ(cut, hdr + std::string(999 - hdr.size() - trailer.size(), 'Q') + trailer);
}

TEST(MessageText, TinyBoundsNeverOverrun)
{
	Msg a(4209, 7);
	a.add("AB12\nHELLO");
	for (int max : {1, 2, 5, 10, 16, 17, 20, 40, 60})
		EXPECT_LE(static_cast<int>(a.socket(max).size()), max - 1) << "max " << max;
	char c = 'x';
	EXPECT_EQ(message_print_socket(a.m, &c, 0), 0);
	EXPECT_EQ(c, 'x');
}

TEST(MessageQueue, OldestFirstThenEmpty)
{
	message_list_init();
	EXPECT_EQ(message_list_get(), nullptr);
	MessageObj *a = message_create(490, 1);
	MessageObj *b = message_create(518, 2);
	MessageObj *c = message_create(4209, 3);
	message_list_put(a);
	message_list_put(b);
	EXPECT_EQ(message_list_len(), 2);
	EXPECT_EQ(message_list_get(), a);
	message_list_put(c);
	EXPECT_EQ(message_list_get(), b);
	EXPECT_EQ(message_list_get(), c);
	EXPECT_EQ(message_list_get(), nullptr);
	EXPECT_EQ(message_list_len(), 0);
	// Emptied completely, the queue appends at its head again.
	message_list_put(a);
	EXPECT_EQ(message_list_get(), a);
	message_remove(&a);
	message_remove(&b);
	message_remove(&c);
}

TEST(MessageQueue, ListingNumbersFromZero)
{
	message_list_init();
	testing::internal::CaptureStdout();
	msg_list_print();
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

	for (int k = 0; k < 3; k++) {
		MessageObj *m = message_create(518, 0);
		message_addchr(m, 'A', 0);
		message_list_put(m);
	}
	testing::internal::CaptureStdout();
	msg_list_print();
	std::string out = testing::internal::GetCapturedStdout();
	EXPECT_EQ(out.rfind("  0 Freq: 518", 0), 0u) << out;
	EXPECT_NE(out.find("\n  1 Freq: 518"), std::string::npos);
	EXPECT_NE(out.find("\n  2 Freq: 518"), std::string::npos);
	EXPECT_EQ(out.find("  3 "), std::string::npos);
	drain();
}
