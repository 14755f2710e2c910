// Phasing detector and bit clock.
//
// In: one FSK detection value per sample (positive below the channel centre),
// nominally 1700 samples per second, 17 samples per bit, 238 per 14-bit
// phasing period.  Out: -32000 while idle, a negative progress code while a
// search runs, and once locked the sample's position in its bit, 0..17.
// All arithmetic is integer with truncating division; sums are formed in
// 64 bits so that extreme detection values cannot overflow.
#include "phase_det.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

// Expected crossings of one period, in samples after its start.  The third
// is placed at 216 rather than 204 (12 bits) on purpose; the ±15 sample
// tolerance still takes a crossing at 204.
const int stride[4] = {102, 170, 216, 238};

namespace {

constexpr int kIdleResult = -32000;
constexpr int kTolerance = 15;
constexpr int kPeriod = 238;
// Comb averaging weight of the phasing search.
constexpr int kCombFact = 3;
// Highest progress code still below zero: searches that need more periods
// than the code can express report this value instead of reaching 0 or more,
// which the caller would take for a bit-sample index.
constexpr int kLastProgressCode = -2000;

// A lock needs more than this many periods; a negative setting would "lock"
// without any phasing seen, so it counts as 0.
int effective_minphasings(const struct pha_obj *det_obj)
{
	return det_obj->minphasings < 0 ? 0 : det_obj->minphasings;
}

int progress_code(int phasings, int iseq)
{
	// phasings * 4 + iseq >= 15 would give 0 or more.
	if (phasings > 3 || phasings * 4 + iseq >= 15)
		return kLastProgressCode;
	return phasings * 8000 + iseq * 2000 - 30000;
}

bool out_of_tolerance(int s)
{
	return s > kTolerance || s < -kTolerance;
}

} // namespace

int detect_delay_init(struct delay_buf *delay_obj, int length, int fact)
{
	int rc = 0;
	for (int i = 0; i < DELAY_BUF_MAX; i++)
		delay_obj->delay[i] = 0;
	// The slots are a fixed array: keep the length inside it.
	if (length < 1 || length > DELAY_BUF_MAX) {
		length = length < 1 ? 1 : DELAY_BUF_MAX;
		rc = -1;
	}
	delay_obj->length = length;
	delay_obj->fact = fact;
	delay_obj->ptr = 0;
	return rc;
}

int detect_delay(struct delay_buf *delay_obj, int detect)
{
	const int i = delay_obj->ptr;
	// ptr stays below length, so a compare replaces the modulo.
	delay_obj->ptr = i + 1 < delay_obj->length ? i + 1 : 0;
	if (delay_obj->fact == 0) {
		const int old = delay_obj->delay[i];
		delay_obj->delay[i] = detect;
		return old;
	}
	const int64_t sum = static_cast<int64_t>(delay_obj->delay[i]) * delay_obj->fact + detect;
	// The detector's own weight: a constant divisor, no 64-bit division.
	if (delay_obj->fact == kCombFact)
		delay_obj->delay[i] = static_cast<int>(sum / (kCombFact + 1));
	else
		delay_obj->delay[i] = static_cast<int>(sum / (delay_obj->fact + 1));
	return delay_obj->delay[i];
}

int detect_pha_init(struct pha_obj *det_obj, int sample_rate, int dbg_print)
{
	(void)sample_rate; // every constant is fixed for 1700 samples per second
	det_obj->status = 0;
	detect_delay_init(&det_obj->delay_obj, kPeriod, kCombFact);
	det_obj->idle = 1;
	det_obj->samples = 0;
	det_obj->signal = -1;
	det_obj->dbg_print = dbg_print;
	det_obj->minphasings = 2;
	det_obj->phasings = 0;
	det_obj->iprt = 0;
	det_obj->firstsample = 0;
	det_obj->avgpos = 0;
	det_obj->phasingsfound = 0;
	det_obj->bitsampleno = -1;
	det_obj->avg_prev_slow = 0;
	det_obj->avg_prev = 0;
	det_obj->avg_prev_ph = 0;
	return 0;
}

int detect_pha_eos(struct pha_obj *det_obj)
{
	if (det_obj->dbg_print) {
		// A search always counts samples before a lock, so 0 only shows up
		// when the caller ends a signal that never started.
		const double off = det_obj->samples != 0
			? (det_obj->samp_add - det_obj->samp_sub) * 100.0 / det_obj->samples
			: 0.0;
		fprintf(stderr, "%s: End of signal: Samples %d (%dsec)adds %d subs %d off %f%%\n\n",
			"detect_pha_eos", det_obj->samples, det_obj->samples / 1700,
			det_obj->samp_add, det_obj->samp_sub, off);
	}
	det_obj->bitsampleno = -1;
	det_obj->idle = 1;
	det_obj->phasings = 0;
	det_obj->status = 0;
	det_obj->phasingsfound = 0;
	return 0;
}

// One crossing of the comb output while searching: compare it with the
// expected position and evaluate the period at its fourth crossing.
static void detect_pha_crossing(struct pha_obj *det_obj, int n)
{
	const int s = n - det_obj->istart - stride[det_obj->iseq];
	if (det_obj->iseq == 0 && out_of_tolerance(s)) {
		det_obj->idle = 1;
		det_obj->phasings = 0;
	}
	det_obj->shifts[det_obj->iseq] = s;
	det_obj->iseq++;
	if (det_obj->iseq < 4)
		return;

	// Deviations grow with the wait for a crossing; keep the sum in range.
	const int64_t sum = static_cast<int64_t>(det_obj->avgpos) + det_obj->shifts[0] + det_obj->shifts[1] +
			    det_obj->shifts[2] + det_obj->shifts[3];
	det_obj->avgpos = static_cast<int>(sum / 4);
	for (int k = 0; k < 4; k++) {
		if (out_of_tolerance(det_obj->shifts[k])) {
			det_obj->idle = 1;
			det_obj->phasings = 0;
			return;
		}
	}
	if (det_obj->phasings == 0)
		det_obj->firstsample = n;
	det_obj->iprt = 0;
	det_obj->istart = det_obj->istart + det_obj->avgpos + kPeriod;
	det_obj->iseq = 0;
	det_obj->phasings++;
}

// One sample of the running bit clock, with a_prev/a_now the signs of the
// smoothed detection value before and now.
static void detect_pha_clock(struct pha_obj *det_obj, bool a_prev, bool a_now)
{
	det_obj->bitsampleno++;
	if (det_obj->bitsampleno == 16 && det_obj->accm_offset < -6) {
		det_obj->accm_offset = 0;
		det_obj->samp_sub++;
		det_obj->bitsampleno = 0; // a bit of 16 samples
	} else if (det_obj->bitsampleno > 16) {
		if (det_obj->accm_offset > 6) {
			det_obj->samp_add++;
			det_obj->accm_offset = 0; // stays at 17: a bit of 18 samples
		} else {
			det_obj->bitsampleno = 0;
		}
	}
	if (det_obj->samples % 32 == 0)
		det_obj->accm_offset++;

	if (a_prev == a_now)
		return;
	// A bit transition: judge the clock by where it falls.
	const int b = det_obj->bitsampleno;
	if (b == 0) {
		det_obj->signal += 2;
	} else if (b >= 1 && b <= 5) {
		det_obj->accm_offset += 2;
		det_obj->signal += 1;
	} else if (b >= 12 && b <= 16) {
		det_obj->accm_offset -= 2;
		det_obj->signal += 1;
	} else {
		det_obj->signal -= 2;
	}
	if (det_obj->signal > 50)
		det_obj->signal = 50;
	if (det_obj->signal < 0) {
		if (det_obj->dbg_print)
			fprintf(stderr, "%s: Phasings lost (signal) %d\n", "detect_pha",
				static_cast<int>(time(nullptr)));
		detect_pha_eos(det_obj);
	}
}

int detect_pha(struct pha_obj *det_obj, int detect, int samples)
{
	const int avg = static_cast<int>((static_cast<int64_t>(detect) + 2 * static_cast<int64_t>(det_obj->avg_prev)) / 3);
	const int avg_ph = detect_delay(&det_obj->delay_obj, avg);
	const bool a0 = det_obj->avg_prev > 0;
	const bool a1 = avg > 0;
	const bool b0 = det_obj->avg_prev_ph > 0;
	const bool b1 = avg_ph > 0;

	// Wraps instead of overflowing after weeks of uninterrupted lock.
	det_obj->samples = static_cast<int>(static_cast<unsigned>(det_obj->samples) + 1u);
	const int n = det_obj->samples;
	const int found = det_obj->phasingsfound;
	const int minphasings = effective_minphasings(det_obj);

	if (found == 0) {
		if (det_obj->idle) {
			if (b0 && !b1) {
				// A falling crossing of the comb output: sample 0 of a period.
				det_obj->idle = 0;
				det_obj->samples = 0;
				det_obj->samp_add = 0;
				det_obj->samp_sub = 0;
				det_obj->istart = 0;
				det_obj->iseq = 0;
			}
		} else if (b0 != b1) {
			detect_pha_crossing(det_obj, n);
		}
	}

	if (det_obj->phasings <= minphasings) {
		det_obj->phasingsfound = 0;
	} else if (found == 0) {
		if (det_obj->dbg_print)
			fprintf(stderr, "%s: Phasings found at %d %d\n\n", "detect_pha", samples,
				static_cast<int>(time(nullptr)));
		det_obj->status = 1;
		det_obj->bitsampleno = 0;
		det_obj->accm_offset = 3;
		det_obj->signal = 50;
		det_obj->phasingsfound = 1;
	} else {
		detect_pha_clock(det_obj, a0, a1);
		// Kept even after a loss: the next call clears it before searching.
		det_obj->phasingsfound = 1;
	}

	det_obj->avg_prev = avg;
	det_obj->avg_prev_ph = avg_ph;

	if (det_obj->idle)
		return kIdleResult;
	if (det_obj->phasings < minphasings)
		return progress_code(det_obj->phasings, det_obj->iseq);
	return det_obj->bitsampleno;
}
