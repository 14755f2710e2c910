// Bit sampler and character synchronisation.
//
// Takes the detection value and its position in the bit (0..17) from the
// phasing detector's clock, decides each bit from the mean of positions
// 4..12 when the next bit begins, aligns characters on the 14-bit phasing
// pattern and completes seven-bit groups for the character decoder.
#ifndef SKERRIN_BIT_SAMPLE_H
#define SKERRIN_BIT_SAMPLE_H

typedef struct sSevenUnit {
	int bits[7]; // bit averages in order of reception; negative reads as 1
} SevenUnit;

struct sample_bit_obj {
	int samples[18];
	int bitcnt;
	int sevenbit[7];
	SevenUnit unit;
	int bytcnt;
	int syncbuff[15];
	int char_num; // 14 letters, 15 figures
	int dbg_print;
	int charsbuf[4];
	int charsptr;
};

extern const int idleseq[14];

int sample_bit_init(struct sample_bit_obj *bit_obj, int dbg_print);
int sample_bit_reset(struct sample_bit_obj *bit_obj);
int sample_bit(struct sample_bit_obj *bit_obj, int detect, int samp_no);

#endif
