// Bit sampler and character synchronisation.
//
// In: the detection value of each sample with its position in the bit
// (0..17, from the locked bit clock).  Out: 1 when a seven-bit group is
// complete in `unit` (bit averages, negative reads as 1), else 0.  A bit is
// decided on the mean of positions 4..12 when the next bit starts; the
// 14-bit phasing pattern re-aligns the character boundaries.
#include "bit_sample.h"

#include <cstdint>

// The phasing pair 'c' 'a' as bit decisions (1 = average above 0), oldest
// bit first.
const int idleseq[14] = {1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1};

namespace {

constexpr int kSkipAfterReset = -4;
constexpr int kFirstMid = 4;
constexpr int kLastMid = 12;

bool sync_pattern_seen(const struct sample_bit_obj *bit_obj)
{
	for (int i = 0; i < 14; i++)
		if (bit_obj->syncbuff[i] != idleseq[i])
			return false;
	return true;
}

} // namespace

int sample_bit_init(struct sample_bit_obj *bit_obj, int dbg_print)
{
	for (int &s : bit_obj->samples)
		s = 0;
	bit_obj->bitcnt = kSkipAfterReset;
	bit_obj->bytcnt = -1;
	for (int &s : bit_obj->sevenbit)
		s = -1;
	bit_obj->dbg_print = dbg_print;
	for (int &c : bit_obj->charsbuf)
		c = -1;
	bit_obj->charsptr = 0;
	return 0;
}

int sample_bit_reset(struct sample_bit_obj *bit_obj)
{
	for (int &s : bit_obj->samples)
		s = 0;
	for (int &s : bit_obj->sevenbit)
		s = -1;
	bit_obj->char_num = 14; // letters
	bit_obj->bitcnt = kSkipAfterReset;
	bit_obj->bytcnt = -1;
	return 0;
}

int sample_bit(struct sample_bit_obj *bit_obj, int detect, int samp_no)
{
	// The clock gives 0..17; anything else has no slot.
	if (samp_no < 0 || samp_no > 17)
		return 0;
	bit_obj->samples[samp_no] = detect;
	if (samp_no != 0)
		return 0;

	// A new bit has begun: decide the previous one on its middle samples,
	// the same nine whether the bit had 16, 17 or 18 samples.
	int64_t sum = 0;
	for (int i = kFirstMid; i <= kLastMid; i++)
		sum += bit_obj->samples[i];
	const int avg = static_cast<int>(sum / 9);

	for (int i = 0; i < 14; i++)
		bit_obj->syncbuff[i] = bit_obj->syncbuff[i + 1];
	bit_obj->syncbuff[14] = avg > 0 ? 1 : 0;

	if (sync_pattern_seen(bit_obj)) {
		bit_obj->bitcnt = 0;
		bit_obj->bytcnt = 0;
	}
	if (bit_obj->bitcnt >= 0)
		bit_obj->unit.bits[bit_obj->bitcnt] = avg;
	bit_obj->bitcnt++;
	if (bit_obj->bitcnt <= 6)
		return 0;
	bit_obj->bytcnt++;
	bit_obj->bitcnt = 0;
	return 1;
}
