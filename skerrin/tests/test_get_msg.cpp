// Message assembler: start, end and end-of-transmission sequences, the
// identifier, the error limit and reception times, with the real message
// record and queue.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "get_msg.h"

namespace {

void drain_queue()
{
	while (MessageObj *m = message_list_get())
		message_remove(&m);
}

class GtMsg : public testing::Test {
protected:
	gt_msg_obj obj{};

	void SetUp() override
	{
		drain_queue();
		gt_msg_init(&obj, 518, 0);
	}

	void TearDown() override
	{
		gt_msg_reset(&obj);
		drain_queue();
	}

	// Feeds every character; returns the last non-zero result, or 0.
	int feed(const std::string &chars, double signal = -80.0)
	{
		int last = 0;
		for (char c : chars) {
			const int r = gt_msg(&obj, c, signal);
			if (r != 0)
				last = r;
		}
		return last;
	}

	static std::string text(const MessageObj *m) { return std::string(m->buffer, m->length); }
};

} // namespace

TEST_F(GtMsg, CompleteMessageIsQueuedWithIdTextFrequencyTimeAndLevel)
{
	obj.time = 1600000000;
	EXPECT_EQ(feed("ZCZC"), 0);
	ASSERT_NE(obj.message, nullptr);
	obj.time = 1600000099; // later clock ticks do not change the stamp
	EXPECT_EQ(feed(" FA01r\nTEST MESSAGE 123r\nNNNN", -71.5), 0);
	EXPECT_EQ(obj.message, nullptr);
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_STREQ(m->msg_id, "FA01");
	EXPECT_EQ(text(m), "TEST MESSAGE 123\nNNNN");
	EXPECT_EQ(m->freq, 518);
	EXPECT_EQ(m->rcv_time, 1600000000);
	EXPECT_EQ(m->signal, -71.5);
	EXPECT_EQ(m->errors, 0);
	EXPECT_EQ(message_list_get(), nullptr);
	message_remove(&m);
}

TEST_F(GtMsg, WithoutAPresetTimeTheClockStampsTheStart)
{
	const time_t before = time(nullptr);
	feed("ZCZC FA02\nX\nNNNN");
	const time_t after = time(nullptr);
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_GE(m->rcv_time, before);
	EXPECT_LE(m->rcv_time, after);
	message_remove(&m);
}

TEST_F(GtMsg, SecondStartRestartsTheMessageWithANewTime)
{
	obj.time = 1000;
	feed("ZCZC AB12\nLOST TEXT ");
	MessageObj *first = obj.message;
	obj.time = 2000;
	feed("ZCZC CD34\nKEPT\nNNNN");
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_EQ(m, first); // restarted in place
	EXPECT_STREQ(m->msg_id, "CD34");
	// "ZCZ" of the second start sequence were text of the first message
	// and went away with it.
	EXPECT_EQ(text(m), "KEPT\nNNNN");
	EXPECT_EQ(m->rcv_time, 2000);
	EXPECT_EQ(message_list_get(), nullptr);
	message_remove(&m);
}

TEST_F(GtMsg, EndWithoutMessageQueuesNothingButIsReported)
{
	obj.dbg_print = 1;
	testing::internal::CaptureStderr();
	EXPECT_EQ(feed("XYNNNN"), 0);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "gt_msg: Message end\n\n");
	EXPECT_EQ(message_list_get(), nullptr);
}

TEST_F(GtMsg, StartSequenceMustBeFourConsecutiveCharacters)
{
	EXPECT_EQ(feed("ZsCZC"), 0);
	EXPECT_EQ(obj.message, nullptr);
	EXPECT_EQ(feed("ZCZ*C"), 0);
	EXPECT_EQ(obj.message, nullptr);
	EXPECT_EQ(feed("ZCZC"), 0);
	EXPECT_NE(obj.message, nullptr);
}

TEST_F(GtMsg, EndOfTransmissionInsideAMessage)
{
	feed("ZCZC FA01\nTEXT");
	obj.dbg_print = 1;
	testing::internal::CaptureStderr();
	EXPECT_EQ(feed("aaa"), 0);
	EXPECT_EQ(gt_msg(&obj, 'a', -80.0), -1);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "gt_msg: EOT\n\n");
	EXPECT_NE(obj.message, nullptr); // kept until the caller's reset
	// The caller drops the lock; the unlocked samples reset the assembler.
	gt_msg_reset(&obj);
	EXPECT_EQ(obj.message, nullptr);
	EXPECT_EQ(std::string(obj.shrt_buf, 4), std::string(4, '\0'));
	obj.dbg_print = 0;
	feed("NNNN");
	EXPECT_EQ(message_list_get(), nullptr);
}

TEST_F(GtMsg, EndOfTransmissionWithoutMessage)
{
	EXPECT_EQ(feed("ssaaaa"), -1);
	EXPECT_EQ(gt_msg(&obj, 'a', 0.0), -1); // still four 'a' in the window
	EXPECT_EQ(gt_msg(&obj, 'b', 0.0), 0);
}

TEST_F(GtMsg, ErrorLimit)
{
	// 2 errors in 10 characters: 20 %.
	const std::string msg = "ZCZC EE39\nA*CDE*NNNN";
	obj.max_err = 20.0;
	feed(msg);
	EXPECT_EQ(message_list_get(), nullptr); // equal to the limit: dropped
	obj.max_err = 20.01;
	feed(msg);
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_EQ(m->errors, 2);
	EXPECT_EQ(m->length, 10);
	message_remove(&m);

	obj.max_err = 0.0;
	feed("ZCZC EE40\nCLEANNNNN");
	EXPECT_EQ(message_list_get(), nullptr);

	obj.max_err = 100.0;
	feed("ZCZC EE41\n**A**NNNN");
	m = message_list_get();
	ASSERT_NE(m, nullptr);
	message_remove(&m);
	feed("ZCZC EE42\n*****");
	feed("NNNN"); // the N themselves are clean: 5 of 9 wrong
	m = message_list_get();
	ASSERT_NE(m, nullptr);
	message_remove(&m);
}

TEST_F(GtMsg, EmptyTextIsNeverQueued)
{
	// The end sequence arrives while the identifier is still being read.
	feed("ZCZC NNNN");
	EXPECT_EQ(obj.message, nullptr);
	EXPECT_EQ(message_list_get(), nullptr);
}

TEST_F(GtMsg, CorruptedIdentifierDropsTheMessage)
{
	obj.dbg_print = 1;
	testing::internal::CaptureStderr();
	feed("ZCZC F*01\nTEXT NNNN");
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "gt_msg: Message start\n\ngt_msg: Message id corropted\n\ngt_msg: Message end\n\n");
	EXPECT_EQ(obj.message, nullptr);
	EXPECT_EQ(message_list_get(), nullptr);
}

TEST_F(GtMsg, MarksAreKeptOutOfTheTextButTakeTheirPlaceInTheWindow)
{
	feed("ZCZC sFAr01\nAbBcCsD\nNNNrN");
	EXPECT_NE(obj.message, nullptr); // "NNrN" is no end sequence
	feed("NNNN");
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_STREQ(m->msg_id, "FA01");
	EXPECT_EQ(text(m), "ABCD\nNNNNNNN");
	message_remove(&m);
}

TEST_F(GtMsg, DiagnosticsOfACompleteMessage)
{
	obj.dbg_print = 1;
	obj.time = 86400;
	testing::internal::CaptureStderr();
	testing::internal::CaptureStdout();
	feed("ZCZC QQ00\nOKNNNN", -90.25);
	const std::string out = testing::internal::GetCapturedStdout();
	const std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(err, "gt_msg: Message start\n\ngt_msg: Message end\n\n");
	EXPECT_EQ(out.rfind("Freq: 518, Message id: QQ00, Length 6, Signal -90.250000, No of errors 0 (0.00 %) ", 0), 0u)
		<< out;
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	message_remove(&m);
}

TEST_F(GtMsg, ResetFreesAnOpenMessage)
{
	feed("ZCZC AA11\nPARTIAL");
	ASSERT_NE(obj.message, nullptr);
	EXPECT_EQ(gt_msg_reset(&obj), 0);
	EXPECT_EQ(obj.message, nullptr);
	// A fresh start works after it (leaks would show under the sanitizer).
	feed("ZCZC AA12\nXNNNN");
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_STREQ(m->msg_id, "AA12");
	message_remove(&m);
}
