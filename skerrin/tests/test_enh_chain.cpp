// The enhanced chain (-A): codebook decision and DX/RX combining, the
// fixed-point front end at full scale, the bit clock's lock on phasing at
// an off-nominal rate, and whole decodes of synthesized recordings at hard
// points.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "decode_char.h"
#include "enh_chain.h"
#include "messages.h"
#include "navsynth.h"
#include "skerrin.h"

namespace {

constexpr int kIdxE = 4, kIdxT = 19, kIdxFigs = 29, kIdxA = 33, kIdxC = 34;

// Soft evidence of a pattern: +level for its 1 bits, -level for its 0 bits.
void evidence(int idx, int32_t level, int32_t *v)
{
	for (int j = 0; j < 7; j++)
		v[j] = Alphabet[idx].sevenbit[j] ? level : -level;
}

TEST(EnhCodebook, PicksTheFittingPatternFromBothCopies)
{
	int32_t dx[7], rx[7], margin = 0;
	for (int i = 0; i < ALPHABET_SIZE; i++) {
		evidence(i, 1000, dx);
		evidence(i, 1000, rx);
		EXPECT_EQ(enh_codebook_pick(dx, rx, &margin), i);
		// The runner-up trades one 1 bit for a 0 bit: it loses that bit's
		// +2000 of both copies and gains its -2000.
		EXPECT_EQ(margin, 4000);
	}
	// A faded first copy leaves the repetition to decide, and the other way.
	const int32_t none[7] = {0, 0, 0, 0, 0, 0, 0};
	evidence(kIdxT, 500, rx);
	EXPECT_EQ(enh_codebook_pick(none, rx, &margin), kIdxT);
	EXPECT_EQ(enh_codebook_pick(rx, none, &margin), kIdxT);
	// Copies that disagree: the summed evidence decides, so the stronger
	// copy wins even where a hard decision per copy would tie.
	evidence(kIdxE, 900, dx);
	evidence(kIdxT, 300, rx);
	EXPECT_EQ(enh_codebook_pick(dx, rx, &margin), kIdxE);
	EXPECT_EQ(enh_codebook_pick(rx, dx, &margin), kIdxE);
	// Each copy alone too weak but pointing the same way: combined it is read.
	evidence(kIdxT, 100, dx);
	int32_t noisy[7];
	evidence(kIdxT, 100, noisy);
	noisy[0] = -noisy[0] / 2; // one bit of the repetition flipped
	EXPECT_EQ(enh_codebook_pick(dx, noisy, &margin), kIdxT);
	// The phasing pair: phasing signal 1 first, phasing signal 2 repeated.
	evidence(kIdxC, 1000, dx);
	evidence(kIdxA, 1000, rx);
	EXPECT_EQ(enh_codebook_pick(dx, rx, &margin), ENH_PHASING_PAIR);
}

TEST(EnhCodebook, LogI0InFixedPointFollowsTheFunction)
{
	// Table, interpolation and asymptote within 0.01 nats of ln I0 (Q8
	// argument and result), from zero out to where the ratios are capped.
	for (double x : {0.0, 0.3, 1.0, 3.7, 10.0, 63.9, 64.0, 64.1, 200.0, 5000.0}) {
		const double want = x < 500 ? std::log(std::cyl_bessel_i(0.0, x)) : x - 0.5 * std::log(2 * M_PI * x);
		const int32_t got = enh_log_i0(std::llround(x * 256));
		EXPECT_NEAR(got / 256.0, want, 0.01) << x;
	}
}

TEST(EnhAfc, AngleInTurnsAllRound)
{
	// The AFC's turn from the arc tangent table: every octant, to within
	// a ten-thousandth of a turn (0.02 Hz of carrier error).
	for (int deg = -179; deg <= 180; deg += 7) {
		const double a = deg * M_PI / 180;
		const int64_t re = std::llround(1e9 * std::cos(a)), im = std::llround(1e9 * std::sin(a));
		EXPECT_NEAR(enh_angle(re, im) / 4294967296.0, deg / 360.0, 1e-4) << deg;
	}
	EXPECT_EQ(enh_angle(0, 0), 0);
}

// A group's evidence as the bit clock gives it: d = +-level, e = level.
void group(int idx, int level, int32_t *d, int32_t *e)
{
	for (int j = 0; j < 7; j++) {
		d[j] = Alphabet[idx].sevenbit[j] ? level : -level;
		e[j] = level;
	}
}

TEST(EnhCharacters, RepetitionMeetsTheFirstCopySentFivePositionsEarlier)
{
	enh_char_obj o;
	enh_char_init(&o, 0);
	int32_t d[7], e[7];
	// First copies F1 F2 F3 with repetitions in between; the repetition
	// after F3 belongs to F1.
	const int firsts[3] = {kIdxT, kIdxE, kIdxA};
	for (int k = 0; k < 3; k++) {
		group(firsts[k], 1000, d, e);
		EXPECT_EQ(enh_char_decide(&o, d, e, 1), 0);
		if (k < 2) {
			int32_t z[7] = {0}, ze[7] = {1, 1, 1, 1, 1, 1, 1};
			(void)enh_char_decide(&o, z, ze, 0); // no evidence: '*'
		}
	}
	// A weak repetition of T: combined with F1 it is T, not E or the idle.
	group(kIdxT, 50, d, e);
	EXPECT_EQ(enh_char_decide(&o, d, e, 0), 'T');

	// No lead at all: the error mark, not a guess.
	int32_t z[7] = {0}, ze[7] = {100, 100, 100, 100, 100, 100, 100};
	group(kIdxE, 1000, d, e);
	enh_char_decide(&o, z, ze, 1);
	enh_char_decide(&o, z, ze, 1);
	enh_char_decide(&o, z, ze, 1);
	EXPECT_EQ(enh_char_decide(&o, z, ze, 0), '*');

	// Case shifts as the specified decoder keeps them: figures, then E is 3;
	// F has no figure: '*' and back to letters.
	enh_char_reset(&o);
	auto pair = [&](int idx) {
		group(idx, 1000, d, e);
		enh_char_decide(&o, d, e, 1);
		enh_char_decide(&o, d, e, 1);
		enh_char_decide(&o, d, e, 1);
		return enh_char_decide(&o, d, e, 0);
	};
	EXPECT_EQ(pair(kIdxFigs), 0);
	EXPECT_EQ(pair(kIdxE), '3');
	EXPECT_EQ(pair(5), '*');
	EXPECT_EQ(pair(kIdxE), 'E');
}

TEST(EnhFront, FullScaleInputKeepsEnergiesInRange)
{
	enh_front f;
	enh_front_init(&f);
	s_interp_iq s_iq{};
	enh_tone tone[2];
	enh_tone_set(&tone[0], 85);
	enh_tone_set(&tone[1], -85);
	enh_tone_clear(&tone[0]);
	enh_tone_clear(&tone[1]);
	const int16_t *sine = enh_sine_table();
	int32_t most = 0;
	int pos = 0;
	// A full-scale tone at +85 Hz after a jump from one rail to the other:
	// the DC level lags, so the offset-free sample swings the whole range.
	for (int n = 0; n < 6000; n++) {
		icomplex iq;
		if (n < 2000) {
			iq = {0, 0};
		} else {
			const double ph = 2 * M_PI * 85 * n / 1700.0;
			iq = {static_cast<int>(16383.5 + 16383.5 * std::cos(ph)),
			      static_cast<int>(16383.5 + 16383.5 * std::sin(ph))};
		}
		int xr, xi;
		enh_front_step(&f, &s_iq, iq, &xr, &xi);
		ASSERT_LT(std::abs(xr), 32768);
		ASSERT_LT(std::abs(xi), 32768);
		for (enh_tone &t : tone)
			enh_tone_step(&t, sine, xr, xi, pos);
		pos = pos + 1 == ENH_WIN ? 0 : pos + 1;
		const int32_t em = enh_tone_energy(&tone[0]), es = enh_tone_energy(&tone[1]);
		ASSERT_GE(em, 0) << n;
		ASSERT_GE(es, 0) << n;
		ASSERT_GE(em + es, 0) << n; // the sum the clock stores must fit too
		most = std::max(most, em);
	}
	// The tone is seen: near (17 x 16384)^2 / 1024 in the matched filter.
	EXPECT_GT(most, 60000000);
	EXPECT_GT(s_iq.amp_i, 5000); // the gain regulation's means kept
}

// One channel of a synthesized transmission in a scratch file.
int recording(double rate, double snr, double offset, double ppm, double fading, uint64_t seed,
	      const std::string &text)
{
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.rate = rate;
	cfg.seed = seed;
	cfg.chan.resize(1);
	cfg.chan[0].transmissions = {text};
	cfg.chan[0].snr_db = snr;
	cfg.chan[0].offset_hz = offset;
	cfg.chan[0].ppm = ppm;
	cfg.chan[0].fading_hz = fading;
	int fd = memfd_create("rec", 0);
	if (fd < 0)
		return -1;
	FILE *f = fdopen(dup(fd), "w");
	if (!f || !navsynth::write_recording(cfg, f, nullptr).empty())
		return -1;
	fclose(f);
	lseek(fd, 0, SEEK_SET);
	return fd;
}

const char kText[] = "ZCZC FA01\nGALE WARNING 7. NORTHWEST 8 TO 9 EXPECTED LATER.\nNNNN";

struct decoded {
	std::string id;
	int errors = -1;
	double period = 0;
};

decoded decode(int fd, int chain)
{
	decoded out;
	fflush(stdout);
	skerrin_all *o = skerrin_init(1, 0, 1700);
	if (!o)
		return out;
	EXPECT_EQ(skerrin_set_chain(o, chain), 0);
	o->input_fd = fd;
	o->copy_fd = -1;
	decode_i_q_sig(o);
	close(fd);
	if (o->channels[0].enh)
		out.period = o->channels[0].enh->clock.loop.period / 65536.0;
	gt_msg_reset(&o->channels[0].msg_obj);
	while (MessageObj *m = message_list_get()) {
		if (out.id.empty()) {
			out.id = std::string(m->msg_id, m->msg_id_len >= 4 ? 4 : m->msg_id_len);
			out.errors = m->errors;
		}
		message_remove(&m);
	}
	for (int i = 0; i < o->no_of_chan; i++)
		enh_cha_free(o->channels[i].enh);
	delete[] o->channels;
	delete o;
	return out;
}

TEST(EnhClock, LocksOnPhasingAndFollowsTheBitRate)
{
	// Exactly 1700 frames/s and a transmitter 5000 ppm slow: 17.085
	// samples per bit, far from the 17.04 the acquisition assumes; a clock
	// that did not follow would slip a whole bit within 200 bits.
	int fd = recording(1700, 10, 0, -5000, 0, 3, kText);
	ASSERT_GE(fd, 0);
	decoded d = decode(fd, SKERRIN_CHAIN_ENHANCED);
	EXPECT_EQ(d.id, "FA01");
	EXPECT_EQ(d.errors, 0);
}

TEST(EnhClock, RealignsAfterABitSlipWithinAMessage)
{
	// A long message, clean; 64 frames (3.75 bits: a stream block, so the
	// block marks stay in step) cut out well into the text.  The phasing
	// is long past, so only the repetitions can tell where characters
	// begin again: without that everything after the cut is misread and
	// "NNNN" never comes.
	std::string text = "ZCZC FA01\n";
	for (int i = 0; i < 5; i++)
		text += "GALE WARNING 7. NORTHWEST 8 TO 9 EXPECTED LATER.\n";
	text += "NNNN";
	int fd = recording(1707.65, 10, 0, 0, 0, 2, text);
	ASSERT_GE(fd, 0);
	std::string rec;
	char buf[8192];
	for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
		rec.append(buf, size_t(n));
	close(fd);
	const size_t frame = 4, cut = 64 * 560; // 21 s in: about 100 characters into the text
	ASSERT_GT(rec.size(), (cut + 64 * 100) * frame);
	rec.erase(cut * frame, 64 * frame);
	fd = memfd_create("cut", 0);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(write(fd, rec.data(), rec.size()), ssize_t(rec.size()));
	lseek(fd, 0, SEEK_SET);
	decoded d = decode(fd, SKERRIN_CHAIN_ENHANCED);
	EXPECT_EQ(d.id, "FA01");
	EXPECT_GE(d.errors, 0);
	EXPECT_LE(d.errors, 12); // the characters round the cut
}

TEST(EnhChain, DecodesAtHardPoints)
{
	struct point {
		double rate, snr, offset, fading;
		uint64_t seed;
		int errors; // most marks and errors allowed
	};
	// 1 dB at the board's rate; a carrier 90 Hz off; slow fading (where a
	// fade makes the character decision mark two characters of a word).
	const point pts[] = {{1707.65, 1, 0, 0, 2, 1}, {1700, 10, 90, 0, 4, 1}, {1707.65, 10, 0, 0.2, 5, 2}};
	for (const point &p : pts) {
		int fd = recording(p.rate, p.snr, p.offset, 0, p.fading, p.seed, kText);
		ASSERT_GE(fd, 0);
		decoded d = decode(fd, SKERRIN_CHAIN_ENHANCED);
		EXPECT_EQ(d.id, "FA01") << p.rate << " " << p.snr << " " << p.offset << " " << p.fading;
		EXPECT_LE(d.errors, p.errors) << p.rate << " " << p.snr << " " << p.offset << " " << p.fading;
	}
	// The default chain is untouched by the selection machinery: a clean
	// recording still decodes through it, and nothing enhanced is made.
	int fd = recording(1707.65, 20, 0, 0, 0, 1, kText);
	ASSERT_GE(fd, 0);
	decoded d = decode(fd, SKERRIN_CHAIN_SPECIFIED);
	EXPECT_EQ(d.id, "FA01");
	EXPECT_EQ(d.period, 0); // no enhanced stages were made
}

} // namespace
