// Device sample stream: the layout shared by the radio driver, the decoder,
// recordings and the synthesizer.
//
// A frame holds, for each channel in order, a Q word then an I word; each
// word is 16-bit little-endian, bits 0..14 an unsigned sample around 16384,
// bit 15 a mark.  The driver sets the mark on the last word of each DMA
// buffer (64 three-channel frames, 768 bytes); the decoder runs its gain
// regulation at every such mark.
#ifndef NAVTEX_STREAM_FORMAT_H
#define NAVTEX_STREAM_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace stream_format {

constexpr int kWordsPerChannel = 2;          // Q, then I
constexpr int kBytesPerChannel = 4;
constexpr uint16_t kMarkBit = 0x8000;
constexpr uint16_t kSampleMask = 0x7fff;
constexpr uint16_t kSampleMid = 16384;       // zero level of the converter
constexpr int kFramesPerDeviceBuffer = 64;   // a mark every 64th frame
constexpr double kBoardFrameRate = 1707.65;  // what the board really samples at

inline constexpr int frame_bytes(int no_of_chan) { return kBytesPerChannel * no_of_chan; }

inline uint16_t get_word(const unsigned char *p)
{
	return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void put_word(unsigned char *p, uint16_t w)
{
	p[0] = static_cast<unsigned char>(w & 0xff);
	p[1] = static_cast<unsigned char>(w >> 8);
}

// Clamp a signed sample offset around the mid level into the 15-bit range.
inline uint16_t to_sample(long centred)
{
	long v = centred + kSampleMid;
	if (v < 0)
		v = 0;
	if (v > kSampleMask)
		v = kSampleMask;
	return static_cast<uint16_t>(v);
}

} // namespace stream_format

#endif
