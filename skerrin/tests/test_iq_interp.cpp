// Front end: filter steps, offset tracking, discriminator sign and range.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "iq_interp.h"

namespace {

std::vector<int> filter_steps(int in, int n)
{
	struct filter f;
	filter_init(&f);
	std::vector<int> out;
	for (int k = 0; k < n; k++)
		out.push_back(filter_run(&f, in));
	return out;
}

struct FrontEnd : ::testing::Test {
	void TestBody() override {}
	s_interp_iq s{};
	void SetUp() override
	{
		testing::internal::CaptureStdout();
		interp_iq_init(&s, 1700);
		init_text = testing::internal::GetCapturedStdout();
	}
	// A tone `hz` from the centre at 1700 samples per second, centred on
	// the converter's mid level.
	int feed_tone(int n, double hz, double peak)
	{
		int last = 0;
		for (int k = 0; k < n; k++, t++) {
			double ph = 2 * M_PI * hz * t / 1700.0;
			last = interp_iq(&s, icomplex{16384 + (int)std::lround(peak * std::cos(ph)),
						      16384 + (int)std::lround(peak * std::sin(ph))});
		}
		return last;
	}
	std::string init_text;
	int t = 0;
};

} // namespace

TEST(Filter, StepResponseIsSymmetricAndSettlesAtTen)
{
	EXPECT_EQ(filter_steps(1, 8), (std::vector<int>{1, 4, 7, 9, 10, 10, 10, 10}));
	EXPECT_EQ(filter_steps(-1, 8), (std::vector<int>{-1, -4, -7, -9, -10, -10, -10, -10}));
}

TEST(Filter, InitClearsAllHistory)
{
	struct filter f;
	for (int k = 0; k < 5; k++)
		f.x[k] = f.y[k] = 1234;
	filter_init(&f);
	for (int k = 0; k < 5; k++) {
		EXPECT_EQ(f.x[k], 0);
		EXPECT_EQ(f.y[k], 0);
	}
	// A cleared filter answers an impulse with the numerator taps first.
	EXPECT_EQ(filter_run(&f, 1024), 1024);
	EXPECT_EQ(filter_run(&f, 0), 2048 + 1025);
}

TEST(Filter, LargeStepStaysNearDcGain)
{
	// Mean-level steps reach 11.3 times the input; nothing may wrap.
	auto out = filter_steps(32767, 60);
	EXPECT_GT(out.back(), 32767 * 11);
	EXPECT_LT(out.back(), 32767 * 12);
	for (int v : out)
		EXPECT_GT(v, 0);
}

TEST_F(FrontEnd, InitSetsStartStateAndPrintsDelay)
{
	EXPECT_EQ(init_text, "idelay : 5\n");
	EXPECT_EQ(s.idelay, 5);
	EXPECT_EQ(s.sig_amp_fac, 64);
	EXPECT_EQ(s.off_i, 0);
	EXPECT_EQ(s.off_r, 0);
	EXPECT_EQ(s.amp_i, 0);
	EXPECT_EQ(s.amp_r, 0);
}

TEST_F(FrontEnd, OffsetTracksConstantInputAndStopsShort)
{
	std::vector<int> off;
	for (int k = 1; k <= 200; k++) {
		interp_iq(&s, icomplex{16384, 16384});
		EXPECT_EQ(s.off_r, s.off_i);
		off.push_back(s.off_r);
	}
	EXPECT_EQ(off[0], 1489);
	EXPECT_EQ(off[10], 10638);
	EXPECT_EQ(off[49], 16239);
	for (int k = 99; k < 200; k++)
		EXPECT_EQ(off[k], 16374) << "sample " << k + 1;
}

TEST_F(FrontEnd, NegativeConstantStopsShortFromAbove)
{
	for (int k = 0; k < 200; k++)
		interp_iq(&s, icomplex{-16384, -100});
	EXPECT_EQ(s.off_r, -16374);
	EXPECT_EQ(s.off_i, -90);
}

TEST_F(FrontEnd, FirstFiveSamplesGiveZero)
{
	for (int k = 0; k < 5; k++)
		EXPECT_EQ(feed_tone(1, -85, 500), 0) << "sample " << k;
	// The sixth sees the first filtered sample in the delay slot.
	EXPECT_NE(feed_tone(1, -85, 500), 0);
}

TEST_F(FrontEnd, ConstantInputSettlesToZero)
{
	for (int k = 0; k < 400; k++)
		interp_iq(&s, icomplex{20000, 12000});
	for (int k = 0; k < 50; k++)
		EXPECT_EQ(interp_iq(&s, icomplex{20000, 12000}), 0);
}

TEST_F(FrontEnd, ToneBelowCentreIsPositive)
{
	feed_tone(300, -85, 500);
	for (int k = 0; k < 200; k++)
		EXPECT_GT(feed_tone(1, -85, 500), 0);
	// Mean absolute value of a sine of peak 500 is 318; the offset
	// tracker takes 0.8 dB at 85 Hz and each truncated update up to 64/65
	// more, so the averages settle somewhat below.
	EXPECT_GT(s.amp_i, 230);
	EXPECT_LT(s.amp_i, 300);
	EXPECT_NEAR(s.amp_i, s.amp_r, 10);
}

TEST_F(FrontEnd, ToneAboveCentreIsNegative)
{
	feed_tone(300, 85, 500);
	for (int k = 0; k < 200; k++)
		EXPECT_LT(feed_tone(1, 85, 500), 0);
}

TEST_F(FrontEnd, DetectGrowsWithSquareOfAmplitude)
{
	feed_tone(400, -85, 250);
	long small = 0;
	for (int k = 0; k < 100; k++)
		small += feed_tone(1, -85, 250);
	FrontEnd louder;
	louder.SetUp();
	louder.feed_tone(400, -85, 1000);
	long big = 0;
	for (int k = 0; k < 100; k++)
		big += louder.feed_tone(1, -85, 1000);
	EXPECT_NEAR(static_cast<double>(big) / small, 16.0, 1.0);
}

TEST_F(FrontEnd, FullScaleToneKeepsItsSign)
{
	// Peak products of two filtered full-scale components pass 2^31;
	// the value must saturate, never wrap to the other sign.
	feed_tone(300, -85, 16383);
	for (int k = 0; k < 300; k++) {
		int d = feed_tone(1, -85, 16383);
		EXPECT_GT(d, 0);
		EXPECT_LE(d, INT_MAX / 9);
	}
	feed_tone(300, 85, 16383);
	for (int k = 0; k < 300; k++) {
		int d = feed_tone(1, 85, 16383);
		EXPECT_LT(d, 0);
		EXPECT_GE(d, -(INT_MAX / 9));
	}
}

TEST_F(FrontEnd, BufferAgesNewestFirst)
{
	for (int k = 0; k < 20; k++)
		interp_iq(&s, icomplex{16384 + 40 * k, 16384 - 30 * k});
	icomplex before[8];
	for (int k = 0; k < 8; k++)
		before[k] = s.iqbuffer[k];
	interp_iq(&s, icomplex{16384, 16384});
	for (int k = 1; k < 8; k++) {
		EXPECT_EQ(s.iqbuffer[k].real, before[k - 1].real);
		EXPECT_EQ(s.iqbuffer[k].imag, before[k - 1].imag);
	}
	EXPECT_EQ(s.iqbuffer[0].real, s.real.y[2]);
	EXPECT_EQ(s.iqbuffer[0].imag, s.imag.y[2]);
	// The value is the delay-line product of entries 0 and 5, scaled.
	long long expect = (static_cast<long long>(s.iqbuffer[0].real) * s.iqbuffer[5].imag -
			    static_cast<long long>(s.iqbuffer[0].imag) * s.iqbuffer[5].real) / 128;
	EXPECT_EQ(s.detect, expect);
}
