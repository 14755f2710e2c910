// Enhanced decoding chain of one channel (option -A): the stages that
// replace the specified front end, phasing detector, bit sampler and
// character decoder, feeding the same message assembler.
//
// In: one raw I/Q sample per call (the acquisition loop's pair).  Out: the
// characters handed to the channel's message assembler, the channel's
// receiving status and its character echo; the gain regulation's amplitude
// means in the channel's front-end record stay up to date, and so do the
// two fields the export records read (newest sample, now offset-free; the
// detection value, now the last bit's mark - space energy).
#ifndef SKERRIN_ENH_CHAIN_H
#define SKERRIN_ENH_CHAIN_H

#include "enh_char.h"
#include "enh_clock.h"
#include "enh_front.h"

struct skerrin_cha;
struct icomplex;

struct enh_cha {
	enh_front front;
	enh_clock clock;
	enh_char_obj chars;
};

// A new chain record in its start state, or null when memory runs out.
enh_cha *enh_cha_create(int dbg_print);
void enh_cha_free(enh_cha *e);

// One sample through the channel's enhanced chain; the result is what the
// export record carries: the soft bit evidence / 1024 while locked, else 0.
int decode_chan_enh(skerrin_cha *channel, icomplex iq, unsigned int samples);

#endif
