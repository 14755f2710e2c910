// Enhanced chain, character alignment: which bits form a character, and
// which characters are first copies (DX) and which repetitions (RX).
//
// In: each bit's evidence (d, e) as the bit loop reads it.  Out: seven-bit
// groups, counted since the alignment (odd: first copies, even:
// repetitions).  The alignment is the position in the 14-bit period where
// a repetition ends.  It is taken where the phasing pattern has matched
// best and well, on a running mean over the last two periods; within a
// message, where the repetitions match the bits sent 35 earlier (five
// characters) best, on a running mean of 32 periods (a bit slipped in a
// fade moves that place).  A new alignment starts the groups afresh.
//
// A lock on text starts unaligned and gives no groups: from its 36th bit
// on, each bit's match with the one 35 earlier is summed by position in
// the period; every period from the 105th bit the seven positions of best
// match (above 0.3 of the energy product) end a repetition, where the
// other seven match 0.2 less (the idle signal matches everywhere), and
// where the groups ending there have four 1 bits best (every valid
// character has).
#ifndef SKERRIN_ENH_ALIGN_H
#define SKERRIN_ENH_ALIGN_H

#include <cstdint>

struct enh_align {
	// Soft history of the last 64 bits.
	int32_t bit_d[64], bit_e[64];
	int bit_pos;
	// Running match of each bit with the one 35 bits (five characters)
	// earlier, by position in the period: high on the repetitions.
	int64_t rep_c[14], rep_e[14];
	int64_t rep_from;               // bits read when the phasing ended
	int64_t sync_c[14], sync_e[14]; // running phasing match by position
	int bmod;      // position of the next bit in the period
	int align_mod; // position where the pattern ends: a repetition ends there

	int aligned;    // groups are being given
	int on_text;    // the lock was on text
	int heard;      // phasing heard where the loop does not follow it
	int pending;    // unaligned: the position found, or -1
	int64_t bits;   // bits since the start
	int64_t tr_c[14], tr_e[14]; // unaligned: the repetitions' match summed
	int64_t cr[7];              // unaligned: groups of four 1 bits, by end

	int bitcnt; // next bit's place in the group, 0..6
	int bytcnt; // groups since alignment: odd first copies, even repetitions
	int32_t grp_d[7], grp_e[7];
};

// A lock whose first bit begins a first copy; with `traffic` a lock on
// text, alignment unknown.
void enh_align_start(enh_align *a, bool traffic);
// The phasing has ended after `bits` bits: the repetitions' match starts.
void enh_align_phasing_ended(enh_align *a, int64_t bits);
// One bit; `phasing` while the phasing signal lasts, `bits` read so far.
// Returns 1 when a group is complete (grp_d, grp_e, bytcnt); unaligned, 2
// every seven bits (grp_d, grp_e hold them), so that the loops go on.
// Sets `heard` while phasing is heard plainly (0.7) and `phasing` is not
// set, on a lock on text or three seconds after the lock's phasing ended.
int enh_align_bit(enh_align *a, int32_t d, int32_t e, bool phasing, int64_t bits);

#endif
