// Memory running out inside the decoder: the allocation functions are
// wrapped at link time (-Wl,--wrap) so a test can make the next calls of
// one of them fail.  What may be lost is only what cannot be stored: a
// message that cannot be opened (until the next start sequence), a
// character the text cannot grow for, a reply the server cannot build
// (the message then stays queued).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "get_msg.h"
#include "messages.h"
#include "skerrin.h"

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t n, size_t size);
void *__real_realloc(void *p, size_t size);
}

namespace {

// Failures to inject, per allocation function and only in the thread that
// armed them (gtest's own allocations elsewhere are never touched).
struct injection {
	int skip = 0; // calls that still succeed before the failures
	int fail = 0; // calls that fail after them
	int calls = 0;
};
thread_local injection inject_malloc, inject_calloc, inject_realloc;

bool should_fail(injection &in)
{
	++in.calls;
	if (in.fail == 0)
		return false;
	if (in.skip > 0) {
		--in.skip;
		return false;
	}
	--in.fail;
	return true;
}

void arm(injection &in, int skip, int fail)
{
	in = injection{skip, fail, 0};
}

void disarm()
{
	arm(inject_malloc, 0, 0);
	arm(inject_calloc, 0, 0);
	arm(inject_realloc, 0, 0);
}

} // namespace

extern "C" void *__wrap_malloc(size_t size)
{
	return should_fail(inject_malloc) ? nullptr : __real_malloc(size);
}

extern "C" void *__wrap_calloc(size_t n, size_t size)
{
	return should_fail(inject_calloc) ? nullptr : __real_calloc(n, size);
}

extern "C" void *__wrap_realloc(void *p, size_t size)
{
	return should_fail(inject_realloc) ? nullptr : __real_realloc(p, size);
}

namespace {

void feed(gt_msg_obj &a, const std::string &chars, std::vector<int> *results = nullptr)
{
	for (char c : chars) {
		int r = gt_msg(&a, c, -75.0);
		if (results)
			results->push_back(r);
	}
}

std::string text_of(const MessageObj *m)
{
	return std::string(m->buffer, static_cast<size_t>(m->length));
}

class MemoryFaults : public ::testing::Test {
protected:
	void SetUp() override
	{
		disarm();
		message_list_init();
		gt_msg_init(&assembler, 518, 0);
		assembler.time = 1700000000;
	}
	void TearDown() override
	{
		disarm();
		gt_msg_reset(&assembler);
		while (MessageObj *m = message_list_get())
			message_remove(&m);
	}
	gt_msg_obj assembler{};
};

TEST_F(MemoryFaults, CreationFailsCleanly)
{
	arm(inject_calloc, 0, 1);
	EXPECT_EQ(message_create(490, 1), nullptr);
	disarm();
	// The record's buffer failing: the record is given back, nothing leaks
	// (the leak checker of the sanitizer build sees it otherwise).
	arm(inject_malloc, 0, 1);
	EXPECT_EQ(message_create(490, 1), nullptr);
	disarm();
	MessageObj *m = message_create(490, 1);
	ASSERT_NE(m, nullptr);
	EXPECT_EQ(m->buf_size, 1024);
	message_remove(&m);
}

TEST_F(MemoryFaults, MessageNotOpenedLosesOnlyItsOwnText)
{
	feed(assembler, "ZCZC FA01\nKEPT BEFORE\nNNNN");
	ASSERT_EQ(message_list_len(), 1);

	// No memory at the second start: its characters are dropped silently,
	// and its end queues nothing.
	arm(inject_calloc, 0, 1);
	std::vector<int> results;
	feed(assembler, "ZCZC FA02\nLOST TEXT\nNNNN", &results);
	disarm();
	EXPECT_EQ(assembler.message, nullptr);
	for (int r : results)
		EXPECT_EQ(r, 0);
	EXPECT_EQ(message_list_len(), 1);

	// Memory back: the next message is whole.
	feed(assembler, "ZCZC FA03\nKEPT AFTER\nNNNN");
	MessageObj *first = message_list_get();
	MessageObj *third = message_list_get();
	ASSERT_NE(first, nullptr);
	ASSERT_NE(third, nullptr);
	EXPECT_STREQ(first->msg_id, "FA01");
	EXPECT_EQ(text_of(first), "KEPT BEFORE\nNNNN");
	EXPECT_STREQ(third->msg_id, "FA03");
	EXPECT_EQ(text_of(third), "KEPT AFTER\nNNNN");
	EXPECT_EQ(third->rcv_time, 1700000000);
	message_remove(&first);
	message_remove(&third);
}

TEST_F(MemoryFaults, GrowthFailureKeepsTheRecordWhole)
{
	MessageObj *m = message_create(518, 5);
	ASSERT_NE(m, nullptr);
	for (char c : std::string(" AB12\n"))
		ASSERT_EQ(message_addchr(m, c, 0), 0);
	std::string text;
	for (int i = 0; i < 1024; ++i) {
		char c = static_cast<char>('A' + i % 26);
		text += c;
		ASSERT_EQ(message_addchr(m, c, 0), 0);
	}
	ASSERT_EQ(m->buf_size, 1024);

	testing::internal::CaptureStderr();
	arm(inject_realloc, 0, 1);
	EXPECT_EQ(message_addchr(m, '*', 1), -2);
	disarm();
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error could not realloc\n");
	// Size, text and error count as before the failed character.
	EXPECT_EQ(m->buf_size, 1024);
	EXPECT_EQ(m->length, 1024);
	EXPECT_EQ(m->errors, 0);
	EXPECT_EQ(text_of(m), text);

	// The next character finds memory again.
	EXPECT_EQ(message_addchr(m, 'Z', 0), 0);
	EXPECT_EQ(m->buf_size, 2048);
	EXPECT_EQ(text_of(m), text + "Z");
	message_remove(&m);
}

TEST_F(MemoryFaults, GrowthFailureInAssemblyLosesOneCharacter)
{
	std::string body;
	for (int i = 0; i < 1100; ++i)
		body += static_cast<char>(i % 50 == 49 ? '\n' : 'A' + i % 26);
	feed(assembler, "ZCZC NA07\n" + body.substr(0, 1024));
	ASSERT_NE(assembler.message, nullptr);
	ASSERT_EQ(assembler.message->length, 1024);

	testing::internal::CaptureStderr();
	arm(inject_realloc, 0, 1);
	EXPECT_EQ(gt_msg(&assembler, body[1024], -75.0), -2);
	disarm();
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_NE(err.find("Error could not realloc\n"), std::string::npos) << err;
	EXPECT_NE(err.find("gt_msg: char add error!!!\n\n"), std::string::npos) << err;

	feed(assembler, body.substr(1025) + "NNNN");
	ASSERT_EQ(message_list_len(), 1);
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_STREQ(m->msg_id, "NA07");
	std::string want = body.substr(0, 1024) + body.substr(1025) + "NNNN";
	EXPECT_EQ(text_of(m), want);
	EXPECT_EQ(m->errors, 0);
	message_remove(&m);
}

TEST_F(MemoryFaults, ReplyBufferMissingKeepsTheMessageQueued)
{
	skerrin_all daemon_obj{}; // no channels: only GETMSG is asked
	skerrin_all *obj = &daemon_obj;
	feed(assembler, "ZCZC WZ99\nSTAYS QUEUED\nNNNN");
	ASSERT_EQ(message_list_len(), 1);

	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
	ASSERT_EQ(send(sv[1], "GETMSG", 6, 0), 6);
	shutdown(sv[1], SHUT_WR);
	arm(inject_malloc, 0, 1);
	EXPECT_EQ(socket_loop(sv[0], obj, 0), -1);
	disarm();
	EXPECT_EQ(message_list_len(), 1) << "the message went with the failed reply";

	// A later connection gets it.
	int sv2[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv2), 0);
	ASSERT_EQ(send(sv2[1], "GETMSG", 6, 0), 6);
	shutdown(sv2[1], SHUT_WR);
	EXPECT_EQ(socket_loop(sv2[0], obj, 0), 0);
	char reply[2048] = {};
	ssize_t n = recv(sv2[1], reply, sizeof reply - 1, 0);
	ASSERT_GT(n, 0);
	EXPECT_EQ(std::string(reply, static_cast<size_t>(n)).rfind("GETMSG:\n518\nZCZC\nWZ99\nSTAYS QUEUED\nNNNN\n", 0), 0u)
		<< reply;
	EXPECT_EQ(message_list_len(), 0);
	for (int fd : {sv[0], sv[1], sv2[0], sv2[1]})
		close(fd);
}

} // namespace
