// The whole decoding chain on a synthetic NAVTEX broadcast: phasing, a
// framed message with letters/figures shifts, every character sent twice
// (the repetition five character positions after the first copy), the
// end-of-emission idle signal.  Modulated as ideal I/Q samples at the
// board's real rate of 1707.65 samples per second and run sample by sample
// through the front end, the phasing detector, the bit sampler, the
// character decoder and the message assembler.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "bit_sample.h"
#include "decode_char.h"
#include "get_msg.h"
#include "iq_interp.h"
#include "phase_det.h"
#include "skerrin.h"

namespace {

constexpr double kBoardRate = 1707.65;
constexpr int kLtrs = 28;
constexpr int kFigs = 29;
constexpr int kIdleA = 33; // sent in repetition slots while phasing, and at the end
constexpr int kIdleC = 34; // sent in first-copy slots while phasing
constexpr int kNoCharacter = -1;

// Alphabet numbers of a text, with the case shifts it needs (letters
// first).  Carriage return, line feed and space exist in both cases.
std::vector<int> encode_text(const std::string &text)
{
	std::vector<int> out;
	bool figures = false;
	for (char ch : text) {
		if (ch == '\r') {
			out.push_back(26);
			continue;
		}
		int letters_at = -1, figures_at = -1;
		for (int k = 0; k < ALPHABET_SIZE; k++) {
			if (Alphabet[k].lettercase == ch && letters_at < 0)
				letters_at = k;
			if (Alphabet[k].figurecase == ch && figures_at < 0)
				figures_at = k;
		}
		if (letters_at >= 0 && figures_at == letters_at) {
			out.push_back(letters_at);
		} else if (letters_at >= 0) {
			if (figures)
				out.push_back(kLtrs);
			figures = false;
			out.push_back(letters_at);
		} else {
			EXPECT_GE(figures_at, 0) << "no code for " << ch;
			if (!figures)
				out.push_back(kFigs);
			figures = true;
			out.push_back(figures_at);
		}
	}
	return out;
}

// Groups in order of transmission: first copies and repetitions alternate,
// each repetition carrying the first copy sent two slots (five character
// positions) earlier.
std::vector<int> broadcast(const std::vector<int> &text, int phasing_pairs, int idle_after)
{
	std::vector<int> dx(phasing_pairs, kIdleC);
	dx.insert(dx.end(), text.begin(), text.end());
	dx.insert(dx.end(), idle_after, kIdleA);
	std::vector<int> stream;
	for (size_t j = 0; j < dx.size(); j++) {
		stream.push_back(dx[j]);
		const long first = static_cast<long>(j) - 2;
		stream.push_back(first >= phasing_pairs ? dx[first] : kIdleA);
	}
	return stream;
}

// Continuous-phase FSK at +-85 Hz around the channel centre: a 1 bit is the
// upper tone.  Unsigned 15-bit words around 16384, silence before and after.
std::vector<icomplex> modulate(const std::vector<int> &stream, const std::set<size_t> &spoiled,
			       double rate = kBoardRate, double amplitude = 780.0)
{
	std::vector<int> bits;
	for (size_t g = 0; g < stream.size(); g++) {
		for (int j = 0; j < 7; j++) {
			// A spoiled group is sent with all seven bits at 1: no character.
			const int b = spoiled.count(g) ? 1
				: stream[g] == kNoCharacter ? 1
							    : Alphabet[stream[g]].sevenbit[j];
			bits.push_back(b);
		}
	}
	const long lead = static_cast<long>(rate / 2);
	const long body = static_cast<long>(bits.size() * rate / 100.0);
	std::vector<icomplex> iq;
	double phase = 0.0;
	for (long k = 0; k < lead + body + lead; k++) {
		double a = 0.0;
		if (k >= lead && k < lead + body) {
			const size_t bit = static_cast<size_t>((k - lead) * 100.0 / rate);
			const double f = bits[bit < bits.size() ? bit : bits.size() - 1] ? 85.0 : -85.0;
			phase += 2.0 * M_PI * f / rate;
			a = amplitude;
		}
		iq.push_back({static_cast<int>(std::lround(16384 + a * std::cos(phase))),
			      static_cast<int>(std::lround(16384 + a * std::sin(phase)))});
	}
	return iq;
}

void drain_queue()
{
	while (MessageObj *m = message_list_get())
		message_remove(&m);
}

// One channel's chain, called in the order of the daemon's dispatch.
struct Chain {
	s_interp_iq s_iq{};
	pha_obj det_obj{};
	sample_bit_obj bit_obj{};
	gt_msg_obj msg_obj{};
	int locks = 0, eots = 0;
	int samp_add_at_eot = -1;
	std::string delivered;

	explicit Chain(int echo = 0)
	{
		interp_iq_init(&s_iq, 1700);
		detect_pha_init(&det_obj, 1700, 0);
		sample_bit_init(&bit_obj, echo);
		gt_msg_init(&msg_obj, 518, 0);
	}

	~Chain() { gt_msg_reset(&msg_obj); }

	void run(const std::vector<icomplex> &iq)
	{
		unsigned n = 0;
		for (const icomplex &s : iq) {
			const int detect = interp_iq(&s_iq, s);
			const int was = det_obj.status;
			const int b = detect_pha(&det_obj, detect, static_cast<int>(++n));
			locks += det_obj.status && !was;
			if (b < 0) {
				sample_bit_reset(&bit_obj);
				gt_msg_reset(&msg_obj);
				continue;
			}
			if (!sample_bit(&bit_obj, detect, b))
				continue;
			const char ch = decode_char(&bit_obj, det_obj.bitsampleno);
			if (ch == 0)
				continue;
			delivered += ch;
			if (gt_msg(&msg_obj, ch, -80.0) == -1) {
				eots++;
				samp_add_at_eot = det_obj.samp_add;
				detect_pha_eos(&det_obj);
			}
		}
	}
};

const std::string kMessage = "ZCZC FA01\r\nTEST MESSAGE 123 POS 12-34N 005-06E.\r\nNNNN";
const std::string kText = "TEST MESSAGE 123 POS 12-34N 005-06E.\nNNNN";

class ChainTest : public testing::Test {
protected:
	void SetUp() override { drain_queue(); }
	void TearDown() override { drain_queue(); }
};

} // namespace

TEST_F(ChainTest, CleanBroadcastIsQueuedAndEndsTheLock)
{
	Chain chain(1);
	testing::internal::CaptureStdout();
	chain.run(modulate(broadcast(encode_text(kMessage), 40, 12), {}));
	const std::string echo = testing::internal::GetCapturedStdout();

	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr) << "delivered: " << chain.delivered;
	EXPECT_STREQ(m->msg_id, "FA01");
	EXPECT_EQ(std::string(m->buffer, m->length), kText);
	EXPECT_EQ(m->errors, 0);
	EXPECT_EQ(m->freq, 518);
	EXPECT_EQ(m->signal, -80.0);
	message_remove(&m);
	EXPECT_EQ(message_list_get(), nullptr);

	EXPECT_EQ(chain.locks, 1);
	EXPECT_EQ(chain.eots, 1); // "aaaa" dropped the lock
	EXPECT_EQ(chain.det_obj.status, 0);
	// The phasing pair, then the message as echoed, shifts shown as l/f.
	EXPECT_NE(echo.find("ssZCZC FAf01r\nlTEST MESSAGE f123 lPOS f12-34lN f005-06lEf.r\nlNNNNaaaa"),
		  std::string::npos)
		<< echo;
	// The bit clock had to lengthen bits for the faster sampling.
	EXPECT_GT(chain.samp_add_at_eot, 0);
}

TEST_F(ChainTest, OneLostCopyIsRecoveredFromTheOther)
{
	const std::vector<int> stream = broadcast(encode_text(kMessage), 40, 12);
	// Spoil first copies and repetitions of different characters of the text.
	std::set<size_t> spoiled;
	for (size_t g = 80 + 10; g < stream.size() - 30; g += 7)
		spoiled.insert(g);
	Chain chain;
	chain.run(modulate(stream, spoiled));
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr) << "delivered: " << chain.delivered;
	EXPECT_EQ(std::string(m->buffer, m->length), kText);
	EXPECT_EQ(m->errors, 0);
	message_remove(&m);
}

TEST_F(ChainTest, BothCopiesLostGiveOneErrorMark)
{
	const std::vector<int> text = encode_text(kMessage);
	const std::vector<int> stream = broadcast(text, 40, 12);
	// The 'M' of MESSAGE: its first copy and its repetition five positions on.
	size_t m_at = 0;
	for (size_t k = 0; k < text.size(); k++)
		if (text[k] == 12) {
			m_at = k;
			break;
		}
	const size_t dx_slot = 2 * (40 + m_at);
	ASSERT_EQ(stream[dx_slot], 12);
	ASSERT_EQ(stream[dx_slot + 5], 12);
	Chain chain;
	chain.run(modulate(stream, {dx_slot, dx_slot + 5}));
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr) << "delivered: " << chain.delivered;
	EXPECT_EQ(std::string(m->buffer, m->length), "TEST *ESSAGE 123 POS 12-34N 005-06E.\nNNNN");
	EXPECT_EQ(m->errors, 1);
	message_remove(&m);
}

TEST_F(ChainTest, MessageAboveTheErrorLimitIsDropped)
{
	const std::vector<int> text = encode_text(kMessage);
	const std::vector<int> stream = broadcast(text, 40, 12);
	std::set<size_t> spoiled;
	// Both copies of three characters of MESSAGE.
	for (size_t k = 20; k < 23; k++) {
		spoiled.insert(2 * (40 + k));
		spoiled.insert(2 * (40 + k) + 5);
	}
	Chain chain;
	chain.msg_obj.max_err = 5.0; // 3 of 41 is 7.3 %
	chain.run(modulate(stream, spoiled));
	EXPECT_EQ(message_list_get(), nullptr) << "delivered: " << chain.delivered;
	EXPECT_EQ(std::count(chain.delivered.begin(), chain.delivered.end(), '*'), 3 + 1)
		<< chain.delivered; // and the first repetition before the alignment
}

TEST_F(ChainTest, TwoMessagesInOneBroadcast)
{
	const std::string two = kMessage + "\r\n\r\nZCZC QB02\r\nSECOND 7\r\nNNNN";
	Chain chain;
	chain.run(modulate(broadcast(encode_text(two), 30, 12), {}));
	MessageObj *a = message_list_get();
	MessageObj *b = message_list_get();
	ASSERT_NE(a, nullptr);
	ASSERT_NE(b, nullptr);
	EXPECT_STREQ(a->msg_id, "FA01");
	EXPECT_STREQ(b->msg_id, "QB02");
	EXPECT_EQ(std::string(b->buffer, b->length), "SECOND 7\nNNNN");
	message_remove(&a);
	message_remove(&b);
}

TEST_F(ChainTest, DaemonDispatchDecodesTheSameBroadcast)
{
	skerrin_cha ch{};
	interp_iq_init(&ch.s_iq, 1700);
	detect_pha_init(&ch.det_obj, 1700, 0);
	sample_bit_init(&ch.bit_obj, 0);
	gt_msg_init(&ch.msg_obj, 490, 0);
	ch.msg_obj.time = 1234567890;
	unsigned n = 0;
	for (const icomplex &s : modulate(broadcast(encode_text(kMessage), 40, 12), {}))
		decode_chan(&ch, s, ++n);
	MessageObj *m = message_list_get();
	ASSERT_NE(m, nullptr);
	EXPECT_STREQ(m->msg_id, "FA01");
	EXPECT_EQ(std::string(m->buffer, m->length), kText);
	EXPECT_EQ(m->freq, 490);
	EXPECT_EQ(m->rcv_time, 1234567890);
	EXPECT_EQ(ch.det_obj.status, 0);
	message_remove(&m);
	gt_msg_reset(&ch.msg_obj);
}
