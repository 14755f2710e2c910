// Phasing detector and bit clock: the comb delay line, the search over
// phasing periods, the lock and the bit clock's corrections and quality.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phase_det.h"

namespace {

// The phasing pair as signs of the detection value (true = positive),
// starting at the first bit of its 'c' character.
constexpr bool kPhasingSigns[14] = {true,  false, false, true,  true,  false, false,
				    false, false, false, false, true,  true,  true};

struct Detector {
	pha_obj det{};
	int fed = 0; // calls made

	explicit Detector(int minphasings = 2, int dbg = 0)
	{
		detect_pha_init(&det, 1700, dbg);
		det.minphasings = minphasings;
	}

	int feed(int detect)
	{
		fed++;
		return detect_pha(&det, detect, fed);
	}

	// One sample whose smoothed value becomes exactly +level or -level,
	// so a sign change happens in precisely this call.
	int steer(bool positive, int level = 1200)
	{
		const int target = positive ? level : -level;
		return feed(3 * target - 2 * det.avg_prev);
	}

	// Where the bit clock will stand after the next call.
	int next_position() const
	{
		const int b = det.bitsampleno + 1;
		if (b == 16 && det.accm_offset < -6)
			return 0;
		if (b > 16)
			return det.accm_offset > 6 ? 17 : 0;
		return b;
	}
};

// Ideal phasing as rectangular detection values, bits of exactly 17 samples.
int ideal_phasing_sample(long k, int amplitude = 1000)
{
	return kPhasingSigns[(k / 17) % 14] ? amplitude : -amplitude;
}

struct Period {
	int shifts[4];
	int avgpos;
};

struct SearchTrace {
	std::vector<int> results;
	std::vector<Period> periods; // every period that counted
	long search_start = -1;      // call index of the last search start
	long lock_at = -1;           // call index of the lock
};

// Feeds the ideal phasing until the lock (or max_calls) and records what
// the detector did on the way.
SearchTrace run_ideal_phasing(Detector &d, long max_calls = 20000)
{
	SearchTrace tr;
	for (long k = 0; k < max_calls; k++) {
		const int idle_before = d.det.idle;
		const int phasings_before = d.det.phasings;
		const int r = d.feed(ideal_phasing_sample(k));
		tr.results.push_back(r);
		if (idle_before && !d.det.idle)
			tr.search_start = k;
		if (d.det.phasings == phasings_before + 1)
			tr.periods.push_back({{d.det.shifts[0], d.det.shifts[1], d.det.shifts[2], d.det.shifts[3]},
					      d.det.avgpos});
		if (r >= 0) {
			tr.lock_at = k;
			break;
		}
	}
	return tr;
}

void lock(Detector &d)
{
	const SearchTrace tr = run_ideal_phasing(d);
	ASSERT_GE(tr.lock_at, 0);
}

} // namespace

TEST(DetectDelay, PlainDelayLineReturnsInputLengthCallsLater)
{
	delay_buf buf{};
	detect_delay_init(&buf, 5, 0);
	std::vector<int> out;
	for (int i = 1; i <= 12; i++)
		out.push_back(detect_delay(&buf, i * 10));
	const std::vector<int> expected = {0, 0, 0, 0, 0, 10, 20, 30, 40, 50, 60, 70};
	EXPECT_EQ(out, expected);
}

TEST(DetectDelay, CombAveragesWithWeightThreeTruncatingTowardZero)
{
	delay_buf buf{};
	detect_delay_init(&buf, 1, 3);
	EXPECT_EQ(detect_delay(&buf, 100), 25);
	EXPECT_EQ(detect_delay(&buf, 100), 43);  // (75 + 100) / 4
	EXPECT_EQ(detect_delay(&buf, 100), 57);  // (129 + 100) / 4
	detect_delay_init(&buf, 1, 3);
	EXPECT_EQ(detect_delay(&buf, -100), -25);
	EXPECT_EQ(detect_delay(&buf, -100), -43);
	EXPECT_EQ(detect_delay(&buf, -3), -33); // (-129 - 3) / 4
}

TEST(DetectDelay, CombSlotsAreIndependentAndWrapAtLength)
{
	delay_buf buf{};
	detect_delay_init(&buf, 238, 3);
	for (int i = 0; i < 238; i++)
		detect_delay(&buf, i == 5 ? 400 : 0);
	EXPECT_EQ(buf.ptr, 0);
	for (int i = 0; i < 5; i++)
		EXPECT_EQ(detect_delay(&buf, 0), 0);
	EXPECT_EQ(detect_delay(&buf, 400), 175); // (100 * 3 + 400) / 4
}

TEST(DetectPha, IdealPhasingShowsExpectedDeviationsAndLocks714SamplesAfterStart)
{
	Detector d;
	const SearchTrace tr = run_ideal_phasing(d);
	ASSERT_GE(tr.lock_at, 0);
	ASSERT_EQ(tr.periods.size(), 3u);
	const Period &p1 = tr.periods[0];
	EXPECT_EQ(std::vector<int>(p1.shifts, p1.shifts + 4), (std::vector<int>{0, 0, -12, 0}));
	EXPECT_EQ(p1.avgpos, -3);
	for (int i = 1; i < 3; i++) {
		const Period &p = tr.periods[i];
		EXPECT_EQ(std::vector<int>(p.shifts, p.shifts + 4), (std::vector<int>{3, 3, -9, 3})) << "period " << i + 1;
		EXPECT_EQ(p.avgpos, 0);
	}
	EXPECT_EQ(tr.lock_at - tr.search_start, 714);
	EXPECT_EQ(d.det.samples, 714);
	EXPECT_EQ(tr.results.back(), 0);
	EXPECT_EQ(d.det.status, 1);
	EXPECT_EQ(d.det.signal, 50);
	EXPECT_EQ(d.det.accm_offset, 3);
	for (size_t i = 0; i + 1 < tr.results.size(); i++)
		ASSERT_LT(tr.results[i], 0) << "call " << i;
}

TEST(DetectPha, AStartOnTheWrongFallingCrossingIsAbandoned)
{
	// The signal starts with the 'c' character's first bit, so the first
	// falling crossing is two bits before a rising one: far from 102.
	Detector d;
	long first_start = -1;
	for (long k = 0; k < 238 && first_start < 0; k++) {
		d.feed(ideal_phasing_sample(k));
		if (!d.det.idle)
			first_start = k;
	}
	ASSERT_GE(first_start, 0);
	EXPECT_LT(first_start, 40);
	int r = 0;
	for (long k = first_start + 1; k < first_start + 60; k++) {
		r = d.feed(ideal_phasing_sample(k));
		if (d.det.idle)
			break;
	}
	EXPECT_EQ(d.det.idle, 1);
	EXPECT_EQ(r, -32000);
	EXPECT_EQ(d.det.iseq, 1);
	EXPECT_EQ(d.det.shifts[0], 34 - 102); // two bits after the start
}

TEST(DetectPha, ProgressCodesDuringTheSearch)
{
	Detector d;
	bool seen_start = false, seen_18000 = false;
	long k = 0;
	for (; k < 2000; k++) {
		const int idle_before = d.det.idle;
		const int r = d.feed(ideal_phasing_sample(k));
		if (idle_before && !d.det.idle) {
			EXPECT_EQ(r, -30000);
			seen_start = true;
		}
		if (d.det.idle) {
			EXPECT_EQ(r, -32000);
		} else if (d.det.phasings < 2) {
			EXPECT_EQ(r, d.det.phasings * 8000 + d.det.iseq * 2000 - 30000);
		}
		if (d.det.phasings == 1 && d.det.iseq == 2 && !d.det.idle) {
			EXPECT_EQ(r, -18000);
			seen_18000 = true;
		}
		if (d.det.phasings == 2 && !d.det.phasingsfound) {
			EXPECT_EQ(r, -1); // last period before the lock
		}
		if (r >= 0)
			break;
	}
	EXPECT_TRUE(seen_start);
	EXPECT_TRUE(seen_18000);
	EXPECT_LT(k, 2000);
}

TEST(DetectPha, ResultsStayNegativeBeforeTheLockForLargeMinphasings)
{
	for (int minph : {4, 5, 10}) {
		Detector d(minph);
		const SearchTrace tr = run_ideal_phasing(d);
		ASSERT_GE(tr.lock_at, 0) << "minphasings " << minph;
		EXPECT_EQ(tr.lock_at - tr.search_start, 238L * (minph + 1)) << "minphasings " << minph;
		EXPECT_EQ(tr.results.back(), 0);
		bool capped = false;
		for (size_t i = 0; i + 1 < tr.results.size(); i++) {
			ASSERT_LT(tr.results[i], 0) << "minphasings " << minph << " call " << i;
			capped |= tr.results[i] == -2000;
		}
		// The plain code would have reached 0 and above here.
		EXPECT_TRUE(capped) << "minphasings " << minph;
	}
}

TEST(DetectPha, NegativeMinphasingsNeedsAPhasingPeriod)
{
	Detector d(-3);
	for (int k = 0; k < 100; k++)
		ASSERT_LT(d.feed(0), 0);
	EXPECT_EQ(d.det.status, 0);
	const SearchTrace tr = run_ideal_phasing(d);
	ASSERT_GE(tr.lock_at, 0);
	EXPECT_EQ(tr.periods.size(), 1u);
}

TEST(DetectPha, NoSignalNeverGivesABitPosition)
{
	Detector d;
	unsigned x = 12345;
	for (int k = 0; k < 20000; k++) {
		x = x * 1103515245u + 12345u;
		const int noise = static_cast<int>((x >> 16) % 201) - 100;
		ASSERT_LT(d.feed(noise), 0) << "call " << k;
	}
	EXPECT_EQ(d.det.status, 0);
}

namespace {

// Smoothed values of exactly +/-1200 (so the comb output changes sign in
// the very call that asks for it): a small positive lead, then a falling
// crossing that starts a search, then sign changes at the given offsets
// from that start.  Returns the result of the call of the last change.
int run_crossings(Detector &d, const std::vector<int> &offsets)
{
	for (int k = 0; k < 3; k++)
		d.steer(true, 8);
	bool positive = false;
	int r = d.steer(false);
	EXPECT_EQ(d.det.idle, 0);
	EXPECT_EQ(d.det.samples, 0);
	int at = 0;
	for (int off : offsets) {
		while (at < off - 1) {
			d.steer(positive);
			at++;
		}
		positive = !positive;
		r = d.steer(positive);
		at++;
	}
	return r;
}

} // namespace

TEST(DetectPha, FirstCrossingFifteenSamplesOffIsAcceptedSixteenIsNot)
{
	{
		Detector d;
		const int r = run_crossings(d, {102 + 15});
		EXPECT_EQ(d.det.shifts[0], 15);
		EXPECT_EQ(d.det.idle, 0);
		EXPECT_EQ(r, -28000);
	}
	{
		Detector d;
		const int r = run_crossings(d, {102 - 15});
		EXPECT_EQ(d.det.shifts[0], -15);
		EXPECT_EQ(d.det.idle, 0);
		EXPECT_EQ(r, -28000);
	}
	{
		Detector d;
		const int r = run_crossings(d, {102 + 16});
		EXPECT_EQ(d.det.shifts[0], 16);
		EXPECT_EQ(d.det.idle, 1);
		EXPECT_EQ(r, -32000);
	}
	{
		Detector d;
		const int r = run_crossings(d, {102 - 16});
		EXPECT_EQ(d.det.idle, 1);
		EXPECT_EQ(r, -32000);
	}
}

TEST(DetectPha, PeriodWithACrossingSixteenSamplesOffIsRejectedAtItsEnd)
{
	{
		Detector d;
		const int r = run_crossings(d, {102, 170, 216 - 15, 238});
		EXPECT_EQ(d.det.shifts[2], -15);
		EXPECT_EQ(d.det.phasings, 1);
		EXPECT_EQ(d.det.idle, 0);
		EXPECT_EQ(r, -22000);
	}
	{
		Detector d;
		const int r = run_crossings(d, {102, 170, 216 - 16, 238});
		EXPECT_EQ(d.det.shifts[2], -16);
		EXPECT_EQ(d.det.phasings, 0);
		EXPECT_EQ(d.det.idle, 1);
		EXPECT_EQ(d.det.iseq, 4); // left as it was
		EXPECT_EQ(r, -32000);
		EXPECT_EQ(d.det.avgpos, (0 + 0 + 0 - 16 + 0) / 4); // evaluated anyway
	}
}

TEST(DetectPha, LockPrintsPhasingsFoundWithDiagnosticsOn)
{
	testing::internal::CaptureStderr();
	Detector d(2, 1);
	lock(d);
	const std::string err = testing::internal::GetCapturedStderr();
	const std::string expected = "detect_pha: Phasings found at " + std::to_string(d.fed) + " ";
	EXPECT_EQ(err.rfind(expected, 0), 0u) << err;
	EXPECT_EQ(err.substr(err.size() - 2), "\n\n");

	testing::internal::CaptureStderr();
	Detector quiet(2, 0);
	lock(quiet);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(DetectPha, CleanTransitionsKeepSeventeenSamplesUntilTheDriftAddsOne)
{
	Detector d(2);
	lock(d);
	const int lock_samples = d.det.samples;
	bool positive = d.det.avg_prev > 0;
	std::vector<int> lengths;
	int len = 1, multiples = 0, add_multiples = -1;
	for (int k = 0; k < 17 * 40; k++) {
		const bool flip = d.next_position() == 0;
		if (flip)
			positive = !positive;
		const int r = d.steer(positive);
		if ((lock_samples + k + 1) % 32 == 0)
			multiples++;
		ASSERT_GE(r, 0);
		if (r == 0) {
			lengths.push_back(len);
			len = 1;
			if (d.det.samp_add == 1 && add_multiples < 0)
				add_multiples = multiples;
		} else {
			len++;
		}
	}
	EXPECT_EQ(d.det.signal, 50);
	EXPECT_EQ(d.det.samp_sub, 0);
	ASSERT_GE(d.det.samp_add, 1);
	// First bit of 18 samples comes once accm_offset has risen from 3 past 6.
	size_t first18 = 0;
	while (first18 < lengths.size() && lengths[first18] == 17)
		first18++;
	ASSERT_LT(first18, lengths.size());
	EXPECT_EQ(lengths[first18], 18);
	EXPECT_GE(add_multiples, 4);
	EXPECT_LE(static_cast<int>(first18) * 17, 5 * 32 + 17);
	for (int l : lengths)
		EXPECT_TRUE(l == 17 || l == 18) << l;
}

TEST(DetectPha, EarlyTransitionsShortenABitToSixteenSamples)
{
	Detector d(2);
	lock(d);
	bool positive = d.det.avg_prev > 0;
	std::vector<int> lengths;
	int len = 1;
	int accm_before_sub = 0;
	for (int k = 0; k < 17 * 12 && d.det.samp_sub == 0; k++) {
		const int pos = d.next_position();
		if (pos == 14)
			positive = !positive;
		const int before = d.det.accm_offset;
		const int r = d.steer(positive);
		ASSERT_GE(r, 0);
		if (pos == 14) {
			EXPECT_EQ(d.det.accm_offset, before - 2 + ((d.det.samples % 32 == 0) ? 1 : 0));
		}
		if (r == 0) {
			lengths.push_back(len);
			len = 1;
		} else {
			len++;
			accm_before_sub = d.det.accm_offset;
		}
	}
	ASSERT_EQ(d.det.samp_sub, 1);
	EXPECT_EQ(lengths.back(), 16);
	EXPECT_LT(accm_before_sub, -6);
	EXPECT_EQ(d.det.accm_offset, d.det.samples % 32 == 0 ? 1 : 0);
	EXPECT_EQ(d.det.samp_add, 0);
	EXPECT_EQ(d.det.signal, 50);
}

TEST(DetectPha, LateTransitionsLengthenABit)
{
	Detector d(2);
	lock(d);
	bool positive = d.det.avg_prev > 0;
	int k = 0;
	for (; k < 17 * 6 && d.det.samp_add == 0; k++) {
		const int pos = d.next_position();
		if (pos == 3)
			positive = !positive;
		ASSERT_GE(d.steer(positive), 0);
	}
	// 3 + 2 + 2 = 7 after two bits: the second bit already gets 18 samples.
	EXPECT_EQ(d.det.samp_add, 1);
	EXPECT_LE(k, 2 * 17 + 2);
	EXPECT_EQ(d.det.bitsampleno, 17);
	EXPECT_EQ(d.det.accm_offset, 0);
	EXPECT_EQ(d.steer(positive), 0);
}

TEST(DetectPha, TwentySixthMidBitTransitionLosesTheLock)
{
	testing::internal::CaptureStderr();
	Detector d(2, 1);
	lock(d);
	testing::internal::GetCapturedStderr();
	bool positive = d.det.avg_prev > 0;
	int bad = 0;
	testing::internal::CaptureStderr();
	int r = 0;
	while (bad < 26) {
		const int pos = d.next_position();
		const bool flip = pos == 8;
		if (flip)
			positive = !positive;
		r = d.steer(positive);
		if (flip) {
			bad++;
			if (bad < 26) {
				ASSERT_EQ(r, 8) << "transition " << bad;
				ASSERT_EQ(d.det.signal, 50 - 2 * bad);
			}
		}
	}
	const std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(r, -32000);
	EXPECT_EQ(d.det.status, 0);
	EXPECT_EQ(d.det.bitsampleno, -1);
	EXPECT_EQ(d.det.phasingsfound, 1); // cleared by the next call
	EXPECT_NE(err.find("detect_pha: Phasings lost (signal) "), std::string::npos) << err;
	EXPECT_NE(err.find("detect_pha_eos: End of signal: Samples "), std::string::npos) << err;

	EXPECT_EQ(d.steer(positive), -32000);
	EXPECT_EQ(d.det.phasingsfound, 0);
}

TEST(DetectPha, EndOfSignalReturnsToIdleAndReportsTheClockCorrection)
{
	Detector d(2, 1);
	lock(d);
	d.det.samples = 3400;
	d.det.samp_add = 3;
	d.det.samp_sub = 1;
	testing::internal::CaptureStderr();
	detect_pha_eos(&d.det);
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "detect_pha_eos: End of signal: Samples 3400 (2sec)adds 3 subs 1 off 0.058824%\n\n");
	EXPECT_EQ(d.det.bitsampleno, -1);
	EXPECT_EQ(d.det.status, 0);
	EXPECT_EQ(d.det.phasingsfound, 0);
	// The very next call may start a new search.
	d.feed(1200);
	d.feed(1200);
	const int r = d.feed(-5000);
	EXPECT_LT(r, 0);
	EXPECT_EQ(d.det.bitsampleno, -1);
	EXPECT_EQ(d.det.status, 0);
	// And the ideal phasing locks again.
	const SearchTrace tr = run_ideal_phasing(d);
	EXPECT_GE(tr.lock_at, 0);
	EXPECT_EQ(d.det.status, 1);
}
