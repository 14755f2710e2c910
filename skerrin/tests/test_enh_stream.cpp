// The enhanced chain (-A) over a continuous stream: a transmission after
// another's idle tail at an offset between two listening pairs, locks that
// end with their signal (DC, a dead channel), the groups a lock finds
// already passed, and a recording that starts in the middle of a message.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "enh_chain.h"
#include "get_msg.h"
#include "messages.h"
#include "navsynth.h"
#include "skerrin.h"

namespace {

const char kFirst[] = "ZCZC FA01\nGALE WARNING 7. NORTHWEST 8 TO 9 EXPECTED LATER.\n"
		      "VISIBILITY MODERATE OR POOR IN RAIN. SEA STATE ROUGH.\nNNNN";
const char kSecond[] = "ZCZC FA02\nNAVIGATIONAL WARNING 42. BUOY UNLIT IN POSITION 51-02N 001-31E.\nNNNN";

// One channel of synthesized transmissions, as stream bytes.
std::string synthesize(const std::vector<std::string> &texts, double offset, uint64_t seed)
{
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.seed = seed;
	cfg.chan.resize(1);
	cfg.chan[0].transmissions = texts;
	cfg.chan[0].snr_db = 10;
	cfg.chan[0].offset_hz = offset;
	std::string out;
	char *buf = nullptr;
	size_t len = 0;
	FILE *f = open_memstream(&buf, &len);
	if (f && navsynth::write_recording(cfg, f, nullptr).empty()) {
		fclose(f);
		out.assign(buf, len);
	} else if (f) {
		fclose(f);
	}
	free(buf);
	return out;
}

// Frames of one channel appended: each sample from `sample` (frame index).
template <class F> void append(std::string &rec, int frames, F sample)
{
	for (int k = 0; k < frames; k++) {
		const icomplex iq = sample(k);
		const unsigned w[2] = {unsigned(iq.imag) & 0x7fff, unsigned(iq.real) & 0x7fff};
		for (unsigned v : w) {
			rec += char(v & 0xff);
			rec += char(v >> 8);
		}
	}
}

struct result {
	std::vector<std::string> ids; // queued messages
	bool open = false;            // a message still being assembled at the end
};

// Through the daemon's own loop with -A.
result run_daemon(const std::string &rec)
{
	result out;
	int fd = memfd_create("rec", 0);
	EXPECT_GE(fd, 0);
	EXPECT_EQ(write(fd, rec.data(), rec.size()), ssize_t(rec.size()));
	lseek(fd, 0, SEEK_SET);
	skerrin_all *o = skerrin_init(1, 0, 1700);
	EXPECT_EQ(skerrin_set_chain(o, SKERRIN_CHAIN_ENHANCED), 0);
	o->input_fd = fd;
	o->copy_fd = -1;
	decode_i_q_sig(o);
	close(fd);
	out.open = o->channels[0].msg_obj.message != nullptr;
	gt_msg_reset(&o->channels[0].msg_obj);
	while (MessageObj *m = message_list_get()) {
		out.ids.emplace_back(m->msg_id, m->msg_id_len >= 4 ? 4 : m->msg_id_len);
		message_remove(&m);
	}
	enh_cha_free(o->channels[0].enh);
	delete[] o->channels;
	delete o;
	return out;
}

// Through the chain's stages directly: the characters decided, and the
// sample where the lock last ended (-1: never, or still locked).
struct trace {
	std::string text;
	long unlocked_at = -1;
	bool lost_group = false; // a group completed without being handed out
};

trace run_stages(const std::string &rec)
{
	trace out;
	static enh_cha e; // the clock's rings are large
	enh_front_init(&e.front);
	enh_clock_init(&e.clock);
	enh_char_init(&e.chars, 0);
	s_interp_iq s_iq{};
	for (size_t i = 0; i + 4 <= rec.size(); i += 4) {
		auto word = [&](size_t k) { return (uint8_t(rec[k]) | uint8_t(rec[k + 1]) << 8) & 0x7fff; };
		int xr, xi;
		enh_front_step(&e.front, &s_iq, icomplex{word(i + 2), word(i)}, &xr, &xi);
		const int before = e.clock.align.bytcnt;
		const int r = enh_clock_step(&e.clock, xr, xi);
		if (e.clock.align.bytcnt > before + (r == 1 ? 1 : 0))
			out.lost_group = true;
		if (r == 2)
			enh_char_reset(&e.chars);
		if (r == -1)
			out.unlocked_at = long(i / 4);
		if (r == 1) {
			const enh_align &a = e.clock.align;
			const char ch = enh_char_decide(&e.chars, a.grp_d, a.grp_e, a.bytcnt & 1);
			if (ch > 0)
				out.text += ch;
		}
	}
	if (e.clock.locked)
		out.unlocked_at = -1;
	return out;
}

TEST(EnhStream, SecondTransmissionAfterTheIdleTailBetweenListeningPairs)
{
	// 42 Hz above the carrier: as far as it gets from the pairs at 0 and
	// +85 Hz, so the AFC has to pull.  The first transmission's idle signal
	// lies 127 Hz from the pair at -85 Hz, whose mark correlator sees one of
	// its tones alone: no lock may come of that, or the second is garbled.
	for (uint64_t seed : {1, 2}) {
		const std::string rec = synthesize({kFirst, kSecond}, 42, seed);
		ASSERT_FALSE(rec.empty());
		const result r = run_daemon(rec);
		ASSERT_EQ(r.ids.size(), 2u) << seed;
		EXPECT_EQ(r.ids[0], "FA01");
		EXPECT_EQ(r.ids[1], "FA02");
		// No group completes unseen, at the locks above all.
		EXPECT_FALSE(run_stages(rec).lost_group) << seed;
	}
}

TEST(EnhStream, LockEndsWhenTheSignalTurnsToDCOrADeadChannel)
{
	// A message cut off in its text (no "NNNN", no idle signal), then ten
	// seconds of a DC input or of a dead channel's faint noise: the lock
	// must end within seconds and the open message with it.
	std::string text = "ZCZC FA01\n";
	for (int i = 0; i < 6; i++)
		text += "GALE WARNING 7. NORTHWEST 8 TO 9 EXPECTED LATER.\n";
	std::string rec = synthesize({text + "NNNN"}, 0, 3);
	ASSERT_FALSE(rec.empty());
	const size_t cut = 64 * 4 * 400; // 15 s: phasing, then the text
	ASSERT_GT(rec.size(), cut);
	rec.resize(cut);
	const int ten_s = 64 * 267;
	unsigned noise = 1;
	for (int kind = 0; kind < 2; kind++) {
		std::string r = rec;
		append(r, ten_s, [&](int) {
			if (kind == 0)
				return icomplex{20000, 12000};
			noise = noise * 1103515245u + 12345u;
			return icomplex{16384 + int(noise >> 28) - 8, 16384 + int((noise >> 24) & 15) - 8};
		});
		const trace t = run_stages(r);
		ASSERT_GE(t.unlocked_at, 0) << kind;
		EXPECT_LT(t.unlocked_at - long(cut / 4), 5 * 1708) << kind; // within five seconds
		EXPECT_FALSE(run_daemon(r).open) << kind;
	}
}

TEST(EnhStream, ReadsARecordingThatStartsInTheMiddleOfAMessage)
{
	// Phasing and the start of the first message cut away: the clock finds
	// bit timing and characters from the text and reads on; the first
	// message cannot be queued, the second is, whole.
	std::string text = "ZCZC FA01\nGALE WARNING 7. NORTHWEST 8 TO 9 EXPECTED LATER.\n";
	text += "VISIBILITY MODERATE OR POOR IN RAIN. SEA STATE ROUGH OR VERY ROUGH.\n";
	text += "WINDS DECREASING 5 TO 6 BY EVENING. OUTLOOK FAIR.\nNNNN";
	for (uint64_t seed : {1, 4}) {
		std::string rec = synthesize({text, kSecond}, seed == 4 ? 60 : -30, seed);
		ASSERT_FALSE(rec.empty());
		const size_t cut = 64 * 4 * 156; // 5.8 s of phasing and gap, then 5 s of text
		rec.erase(0, cut + 64 * 4 * 134);
		const trace t = run_stages(rec);
		EXPECT_NE(t.text.find("SEA STATE ROUGH OR VERY ROUGH."), std::string::npos) << t.text;
		EXPECT_NE(t.text.find("WINDS DECREASING 5 TO 6 BY EVENING. OUTLOOK FAIR."), std::string::npos)
			<< t.text;
		const result r = run_daemon(rec);
		ASSERT_EQ(r.ids.size(), 1u) << seed;
		EXPECT_EQ(r.ids[0], "FA02");
	}
}

} // namespace
