// Enhanced decoding chain of one channel: see enh_chain.h.
#include "enh_chain.h"

#include <new>

#include "skerrin.h"

enh_cha *enh_cha_create(int dbg_print)
{
	auto *e = new (std::nothrow) enh_cha;
	if (!e)
		return nullptr;
	enh_front_init(&e->front);
	enh_clock_init(&e->clock);
	enh_char_init(&e->chars, dbg_print);
	return e;
}

void enh_cha_free(enh_cha *e)
{
	delete e;
}

int decode_chan_enh(skerrin_cha *channel, icomplex iq, unsigned int samples)
{
	(void)samples;
	enh_cha *e = channel->enh;
	int xr, xi;
	enh_front_step(&e->front, &channel->s_iq, iq, &xr, &xi);
	// What the export records of -x show for this chain: the offset-free
	// sample, and the last bit's evidence in place of the detection value.
	channel->s_iq.iqbuffer[0] = {xr, xi};
	channel->s_iq.detect = e->clock.loop.prev_d;
	const int r = enh_clock_step(&e->clock, xr, xi);
	if (r == 2) {
		enh_char_reset(&e->chars);
		channel->det_obj.status.store(1, std::memory_order_relaxed);
	} else if (r < 0) {
		channel->det_obj.status.store(0, std::memory_order_relaxed);
	}
	if (!e->clock.locked) {
		// As in the specified chain: no message outlives the lock.
		gt_msg_reset(&channel->msg_obj);
		return 0;
	}
	if (r == 1) {
		const enh_clock &c = e->clock;
		char ch = enh_char_decide(&e->chars, c.align.grp_d, c.align.grp_e, c.align.bytcnt & 1);
		if (ch != 0) {
			double dbm = channel->s_iq.signal_dbm.load(std::memory_order_relaxed);
			if (gt_msg(&channel->msg_obj, ch, dbm) == -1) {
				enh_clock_unlock(&e->clock);
				enh_char_reset(&e->chars);
				channel->det_obj.status.store(0, std::memory_order_relaxed);
			}
		}
	}
	return e->clock.loop.prev_d / 1024;
}

int skerrin_set_chain(skerrin_all *self, int chain)
{
	if (chain == SKERRIN_CHAIN_ENHANCED) {
		for (int i = 0; i < self->no_of_chan; i++) {
			skerrin_cha &ch = self->channels[i];
			if (ch.enh)
				continue;
			ch.enh = enh_cha_create(ch.bit_obj.dbg_print);
			if (!ch.enh)
				return -1;
		}
	}
	self->chain = chain;
	return 0;
}
