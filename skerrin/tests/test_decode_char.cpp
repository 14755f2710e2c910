// Seven-unit alphabet and the DX/RX combination: table look-up, the pairing
// of each repetition with the first copy five positions earlier, case
// shifts, marks and the character echo.
#include <gtest/gtest.h>

#include <string>

#include "decode_char.h"

namespace {

constexpr int kA = 33; // 'a' control signal
constexpr int kC = 34; // 'c' control signal
constexpr int kLtrs = 28;
constexpr int kFigs = 29;

int index_of(char letter)
{
	return letter - 'A';
}

void load(sample_bit_obj &obj, int number)
{
	for (int j = 0; j < 7; j++)
		obj.unit.bits[j] = Alphabet[number].sevenbit[j] ? -250 : 250;
}

// Seven-unit groups through decode_char as the bit sampler numbers them.
struct Decoder {
	sample_bit_obj obj{};
	int next_bytcnt = 1;

	explicit Decoder(int echo = 0)
	{
		sample_bit_init(&obj, echo);
		sample_bit_reset(&obj);
		obj.bytcnt = 0;
	}

	char group(int number)
	{
		obj.bytcnt = next_bytcnt++;
		if (number >= 0)
			load(obj, number);
		else
			for (int j = 0; j < 7; j++)
				obj.unit.bits[j] = -250; // seven 1s: no character
		return decode_char(&obj, 0);
	}

	// A first copy dx, two other first copies in between (with their
	// repetitions), then the repetition rx: the pairing of the broadcast.
	char pair(int dx, int rx, int filler = 30)
	{
		EXPECT_EQ(group(dx), 0);
		group(filler);
		EXPECT_EQ(group(filler), 0);
		group(filler);
		EXPECT_EQ(group(filler), 0);
		return group(rx);
	}
};

} // namespace

TEST(DecodeSevenunit, EveryPatternDecodesToItsOwnIndex)
{
	for (int k = 0; k < ALPHABET_SIZE; k++) {
		SevenUnit u{};
		int ones = 0;
		for (int j = 0; j < 7; j++) {
			u.bits[j] = Alphabet[k].sevenbit[j] ? -1 : 1;
			ones += Alphabet[k].sevenbit[j];
		}
		EXPECT_EQ(ones, 4) << k;
		EXPECT_EQ(Alphabet[k].combination, k + 1);
		EXPECT_EQ(decode_sevenunit(&u), k) << k;
	}
}

TEST(DecodeSevenunit, UnknownPatternsAndZeroAverages)
{
	SevenUnit five = {{-1, -1, -1, -1, -1, 1, 1}};
	EXPECT_EQ(decode_sevenunit(&five), -1);
	SevenUnit zeros = {{0, 0, 0, 0, 0, 0, 0}};
	EXPECT_EQ(decode_sevenunit(&zeros), -1);
	// 'A' is 1110001; zero reads as 0, so zeros in the 0 places still give A.
	SevenUnit a = {{-5, -5, -5, 0, 0, 0, -5}};
	EXPECT_EQ(decode_sevenunit(&a), 0);
	// ... but a zero where a 1 belongs does not.
	SevenUnit not_a = {{-5, -5, 0, 0, 0, 0, -5}};
	EXPECT_EQ(decode_sevenunit(&not_a), -1);
}

TEST(DecodeCombNum, CasesAndOutOfRange)
{
	EXPECT_EQ(decode_comb_num(index_of('Q'), 14), 'Q');
	EXPECT_EQ(decode_comb_num(index_of('Q'), 15), '1');
	EXPECT_EQ(decode_comb_num(index_of('Q'), 0), '1'); // any other value: figures
	EXPECT_EQ(decode_comb_num(index_of('S'), 15), '`');
	EXPECT_EQ(decode_comb_num(index_of('J'), 15), 'v');
	EXPECT_EQ(decode_comb_num(27, 14), '\n');
	EXPECT_EQ(decode_comb_num(26, 15), 'r');
	EXPECT_EQ(decode_comb_num(-1, 14), '*');
	EXPECT_EQ(decode_comb_num(35, 14), '*');
}

TEST(DecodeChar, FirstCopiesNeverDeliver)
{
	Decoder d;
	for (int k = 0; k < ALPHABET_SIZE; k++) {
		d.obj.bytcnt = 2 * k + 1;
		load(d.obj, k);
		EXPECT_EQ(decode_char(&d.obj, 5), 0) << k;
		EXPECT_EQ(d.obj.charsbuf[(d.obj.charsptr + 3) % 4], k);
	}
}

TEST(DecodeChar, RepetitionPairsWithTheThirdMostRecentFirstCopy)
{
	Decoder d;
	// First copies X, Y, Z, W; the next repetition belongs to Y.
	d.group(index_of('X'));
	d.group(-1);
	d.group(index_of('Y'));
	d.group(-1);
	d.group(index_of('Z'));
	d.group(-1);
	d.group(index_of('W'));
	EXPECT_EQ(d.group(-1), 'Y');
}

TEST(DecodeChar, CombinationRules)
{
	{
		Decoder d;
		EXPECT_EQ(d.pair(index_of('K'), index_of('K')), 'K');
	}
	{
		Decoder d;
		EXPECT_EQ(d.pair(index_of('K'), -1), 'K'); // repetition lost
	}
	{
		Decoder d;
		EXPECT_EQ(d.pair(-1, index_of('K')), 'K'); // first copy lost
	}
	{
		Decoder d;
		EXPECT_EQ(d.pair(-1, -1), '*');
	}
	{
		Decoder d(1);
		testing::internal::CaptureStdout();
		const char c = d.pair(index_of('K'), index_of('L'));
		EXPECT_EQ(testing::internal::GetCapturedStdout(), "  #");
		EXPECT_EQ(c, '*');
	}
	{
		Decoder d;
		EXPECT_EQ(d.pair(kC, kA), 's'); // the phasing pair
	}
	{
		Decoder d;
		EXPECT_EQ(d.pair(kA, kC), '*'); // reversed: a mismatch
	}
	{
		Decoder d;
		EXPECT_EQ(d.pair(kA, kA), 'a');
	}
}

TEST(DecodeChar, NoCharacterInFiguresCaseIsAnErrorAndBackToLetters)
{
	for (char letter : {'F', 'G', 'H'}) {
		Decoder d;
		d.obj.char_num = 15;
		EXPECT_EQ(d.pair(index_of(letter), index_of(letter)), '*') << letter;
		EXPECT_EQ(d.obj.char_num, 14) << letter;
	}
	for (int cs : {14, 15}) {
		Decoder d;
		d.obj.char_num = cs;
		EXPECT_EQ(d.pair(31, 31), '*');
		EXPECT_EQ(d.obj.char_num, 14);
	}
	{
		Decoder d;
		d.obj.char_num = 15;
		EXPECT_EQ(d.pair(index_of('J'), index_of('J')), 'v');
		EXPECT_EQ(d.pair(index_of('S'), -1), '`');
		EXPECT_EQ(d.pair(index_of('D'), index_of('D')), '*'); // '#' is the mismatch marker
		EXPECT_EQ(d.obj.char_num, 15);
	}
}

TEST(DecodeChar, ShiftsChangeTheCaseAreNotDeliveredAndEchoAsLF)
{
	Decoder d(1);
	testing::internal::CaptureStdout();
	EXPECT_EQ(d.pair(kFigs, kFigs), 0);
	EXPECT_EQ(d.obj.char_num, 15);
	EXPECT_EQ(d.pair(index_of('T'), index_of('T')), '5');
	EXPECT_EQ(d.pair(kLtrs, -1), 0);
	EXPECT_EQ(d.obj.char_num, 14);
	EXPECT_EQ(d.pair(index_of('T'), index_of('T')), 'T');
	// Every repetition echoes; the fillers are spaces.
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "  f  5  l  T");
}

TEST(DecodeChar, EchoShowsMarksAndNothingWhenOff)
{
	{
		Decoder d(1);
		testing::internal::CaptureStdout();
		d.pair(kC, kA);
		d.pair(26, 26);
		d.pair(27, 27);
		EXPECT_EQ(testing::internal::GetCapturedStdout(), "  s  r  \n");
	}
	{
		Decoder d(0);
		testing::internal::CaptureStdout();
		d.pair(index_of('E'), index_of('E'));
		EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
	}
}

TEST(DecodeChar, ResetDoesNotClearTheRing)
{
	Decoder d;
	d.group(index_of('M'));
	d.group(-1);
	d.group(index_of('N'));
	sample_bit_reset(&d.obj);
	d.next_bytcnt = 3;
	d.group(index_of('O'));
	// Pairs with the first copy from before the reset.
	EXPECT_EQ(d.group(-1), 'M');
}
