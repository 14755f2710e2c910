// Bit sampler: bit decisions on the middle samples, the sync window and the
// alignment of seven-bit groups on the phasing pattern.
#include <gtest/gtest.h>

#include <vector>

#include "bit_sample.h"

namespace {

struct Sampler {
	sample_bit_obj obj{};

	Sampler()
	{
		sample_bit_init(&obj, 0);
		sample_bit_reset(&obj);
	}

	// One bit at a constant level, decided at once: its positions 1 onward,
	// then position 0 of the next bit (whose value takes no part).
	// Returns sample_bit's result for that decision.
	int bit(int level, int length = 17)
	{
		for (int pos = 1; pos < length; pos++)
			EXPECT_EQ(sample_bit(&obj, level, pos > 17 ? 17 : pos), 0);
		return sample_bit(&obj, -level, 0);
	}

	// A bit decision in the sync window's polarity: 1 positive, 0 negative.
	int decision(int one) { return bit(one ? 500 : -500); }
};

} // namespace

TEST(SampleBit, ResetKeepsWindowRingAndGroupAndSetsLetters)
{
	sample_bit_obj obj{};
	sample_bit_init(&obj, 1);
	obj.syncbuff[3] = 1;
	obj.charsbuf[2] = 17;
	obj.charsptr = 3;
	obj.unit.bits[4] = -77;
	obj.char_num = 15;
	obj.bitcnt = 5;
	obj.bytcnt = 9;
	obj.samples[6] = 123;
	sample_bit_reset(&obj);
	EXPECT_EQ(obj.char_num, 14);
	EXPECT_EQ(obj.bitcnt, -4);
	EXPECT_EQ(obj.bytcnt, -1);
	EXPECT_EQ(obj.samples[6], 0);
	EXPECT_EQ(obj.syncbuff[3], 1);
	EXPECT_EQ(obj.charsbuf[2], 17);
	EXPECT_EQ(obj.charsptr, 3);
	EXPECT_EQ(obj.unit.bits[4], -77);
	EXPECT_EQ(obj.dbg_print, 1);
}

TEST(SampleBit, NegativeAndOutOfRangePositionsAreIgnored)
{
	Sampler s;
	EXPECT_EQ(sample_bit(&s.obj, 999, -1), 0);
	EXPECT_EQ(sample_bit(&s.obj, 999, 18), 0);
	EXPECT_EQ(s.obj.bitcnt, -4);
	for (int v : s.obj.samples)
		EXPECT_EQ(v, 0);
}

TEST(SampleBit, LockingSampleDecidesAZeroBitAndStoresNothing)
{
	Sampler s;
	for (int k = 0; k < 15; k++)
		s.obj.syncbuff[k] = 1;
	s.obj.unit.bits[0] = 4242;
	EXPECT_EQ(sample_bit(&s.obj, 800, 0), 0);
	EXPECT_EQ(s.obj.syncbuff[14], 0);
	EXPECT_EQ(s.obj.syncbuff[13], 1);
	EXPECT_EQ(s.obj.bitcnt, -3);
	EXPECT_EQ(s.obj.unit.bits[0], 4242);
	EXPECT_EQ(s.obj.samples[0], 800);
}

TEST(SampleBit, DecidesOnTheNineMiddleSamplesTruncatingTowardZero)
{
	Sampler s;
	s.obj.bitcnt = 0;
	// Positions 0..3 and 13..17 must not count.
	const int values[18] = {-9000, 9000, 9000, 9000, 10, 20, 30, 40, 50, 60, 70, 80, 91,
				-9000, -9000, -9000, -9000, -9000};
	for (int pos = 1; pos < 18; pos++)
		sample_bit(&s.obj, values[pos], pos);
	sample_bit(&s.obj, 0, 0);
	EXPECT_EQ(s.obj.unit.bits[0], 451 / 9);

	// -17 / 9 truncates to -1, 8 / 9 to 0 (a 0 decision, read as 0).
	for (int pos = 1; pos < 18; pos++)
		sample_bit(&s.obj, pos == 4 ? -17 : 0, pos);
	sample_bit(&s.obj, 0, 0);
	EXPECT_EQ(s.obj.unit.bits[1], -1);
	EXPECT_EQ(s.obj.syncbuff[14], 0);
	for (int pos = 1; pos < 18; pos++)
		sample_bit(&s.obj, pos == 12 ? 8 : 0, pos);
	sample_bit(&s.obj, 0, 0);
	EXPECT_EQ(s.obj.unit.bits[2], 0);
	EXPECT_EQ(s.obj.syncbuff[14], 0);
	for (int pos = 1; pos < 18; pos++)
		sample_bit(&s.obj, pos == 12 ? 9 : 0, pos);
	sample_bit(&s.obj, 0, 0);
	EXPECT_EQ(s.obj.unit.bits[3], 1);
	EXPECT_EQ(s.obj.syncbuff[14], 1);
}

TEST(SampleBit, LargeDetectionValuesDoNotOverflowTheSum)
{
	Sampler s;
	s.obj.bitcnt = 0;
	for (int pos = 1; pos < 18; pos++)
		sample_bit(&s.obj, 2000000000, pos);
	sample_bit(&s.obj, 0, 0);
	EXPECT_EQ(s.obj.unit.bits[0], 2000000000);
	EXPECT_EQ(s.obj.syncbuff[14], 1);
}

TEST(SampleBit, SkipsFourBitsAfterResetThenGroupsBySeven)
{
	Sampler s;
	std::vector<int> completions;
	for (int b = 0; b < 30; b++)
		if (s.decision(b % 3 == 0))
			completions.push_back(b);
	// Decisions 0..3 are skipped.
	EXPECT_EQ(completions, (std::vector<int>{10, 17, 24}));
	EXPECT_EQ(s.obj.bytcnt, 2);
}

TEST(SampleBit, BitsOfSixteenAndEighteenSamplesAreDecidedTheSameWay)
{
	for (int length : {16, 17, 18}) {
		Sampler s;
		s.obj.bitcnt = 0;
		s.bit(-300, length);
		s.bit(700, length);
		EXPECT_EQ(s.obj.unit.bits[0], -300) << length;
		EXPECT_EQ(s.obj.unit.bits[1], 700) << length;
	}
}

TEST(SampleBit, PhasingPatternSynchronisesAndNextGroupIsFirstCopy)
{
	Sampler s;
	// A misaligned start: five stray decisions.
	for (int k = 0; k < 5; k++)
		s.decision(k & 1);
	// The pattern, then one more bit: the match is seen when that bit's
	// decision is made, with the pattern in entries 0..13.
	for (int k = 0; k < 14; k++)
		s.decision(idleseq[k]);
	EXPECT_NE(s.obj.bytcnt, 0);
	// First bit of the next 'c': the match is seen with this decision.
	s.decision(idleseq[0]);
	EXPECT_EQ(s.obj.bytcnt, 0);
	EXPECT_EQ(s.obj.bitcnt, 1);
	EXPECT_EQ(s.obj.unit.bits[0], 500);

	// Continue the phasing pair: the group completed 7 decisions after the
	// match is number 1 and holds the 'c' pattern.
	int done = 0;
	for (int k = 1; k < 6; k++)
		done += s.decision(idleseq[k]);
	EXPECT_EQ(done, 0);
	EXPECT_EQ(s.decision(idleseq[6]), 1);
	EXPECT_EQ(s.obj.bytcnt, 1);
	const int c_bits[7] = {0, 1, 1, 0, 0, 1, 1};
	for (int j = 0; j < 7; j++)
		EXPECT_EQ(s.obj.unit.bits[j] < 0 ? 1 : 0, c_bits[j]) << j;
}

TEST(SampleBit, OneDifferentDecisionLeavesTheAlignmentUnchanged)
{
	for (int flip = 0; flip < 14; flip++) {
		Sampler s;
		for (int k = 0; k < 9; k++)
			s.decision(1);
		const int bitcnt = s.obj.bitcnt;
		const int bytcnt = s.obj.bytcnt;
		for (int k = 0; k < 14; k++)
			s.decision(k == flip ? 1 - idleseq[k] : idleseq[k]);
		s.decision(1);
		// 15 decisions later: two groups completed on the old alignment.
		EXPECT_EQ(s.obj.bytcnt, bytcnt + 2) << "flipped " << flip;
		EXPECT_EQ(s.obj.bitcnt, bitcnt + 1) << "flipped " << flip;
	}
}

TEST(SampleBit, ZeroAverageCountsAsZeroInTheSyncWindow)
{
	Sampler s;
	// The pattern with its 0 bits as averages of exactly 0 still matches.
	for (int k = 0; k < 14; k++)
		s.bit(idleseq[k] ? 500 : 0);
	s.bit(0);
	EXPECT_EQ(s.obj.bytcnt, 0);
	EXPECT_EQ(s.obj.bitcnt, 1);
}
