// PNG encoder: check values against published ones, and the zlib streams
// read back by a small independent inflater.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "png.h"

namespace {

std::vector<uint8_t> bytes(const std::string &s)
{
	return std::vector<uint8_t>(s.begin(), s.end());
}

// Reads bits least significant first.
struct bit_reader {
	const std::vector<uint8_t> &d;
	size_t pos = 0; // in bits
	int bit()
	{
		if (pos / 8 >= d.size())
			throw std::runtime_error("past the end");
		int b = (d[pos / 8] >> (pos % 8)) & 1;
		pos++;
		return b;
	}
	int bits(int n)
	{
		int v = 0;
		for (int i = 0; i < n; i++)
			v |= bit() << i;
		return v;
	}
};

// Fixed-Huffman literal/length symbol, read code bit by code bit.
int fixed_symbol(bit_reader &br)
{
	int code = 0;
	for (int len = 1; len <= 9; len++) {
		code = (code << 1) | br.bit();
		if (len == 7 && code <= 0x17)
			return 256 + code;
		if (len == 8 && code >= 0x30 && code <= 0xBF)
			return code - 0x30;
		if (len == 8 && code >= 0xC0 && code <= 0xC7)
			return 280 + code - 0xC0;
		if (len == 9 && code >= 0x190)
			return 144 + code - 0x190;
	}
	throw std::runtime_error("bad code");
}

// Inflates the stored and fixed-Huffman blocks of a zlib stream and checks
// the header; the trailing Adler-32 is returned through `adler`.
std::vector<uint8_t> inflate(const std::vector<uint8_t> &z, uint32_t *adler)
{
	EXPECT_GE(z.size(), 6u);
	EXPECT_EQ((z[0] * 256 + z[1]) % 31, 0) << "zlib header check bits";
	EXPECT_EQ(z[0] & 0x0f, 8) << "deflate";
	std::vector<uint8_t> body(z.begin() + 2, z.end() - 4);
	bit_reader br{body};
	std::vector<uint8_t> out;
	static const int lbase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
				    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
	static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
				     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
	static const int dbase[] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25};
	static const int dextra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3};
	for (bool last = false; !last;) {
		last = br.bit();
		int type = br.bits(2);
		if (type == 0) {
			br.pos = (br.pos + 7) / 8 * 8;
			int len = br.bits(16), nlen = br.bits(16);
			EXPECT_EQ(len ^ 0xffff, nlen);
			for (int i = 0; i < len; i++)
				out.push_back(uint8_t(br.bits(8)));
		} else if (type == 1) {
			for (;;) {
				int sym = fixed_symbol(br);
				if (sym < 256) {
					out.push_back(uint8_t(sym));
					continue;
				}
				if (sym == 256)
					break;
				int len = lbase[sym - 257] + br.bits(lextra[sym - 257]);
				int dcode = 0;
				for (int i = 0; i < 5; i++)
					dcode = (dcode << 1) | br.bit();
				int dist = dbase[dcode] + br.bits(dextra[dcode]);
				for (int i = 0; i < len; i++)
					out.push_back(out[out.size() - dist]);
			}
		} else {
			throw std::runtime_error("unexpected block type");
		}
	}
	size_t n = z.size();
	*adler = (uint32_t(z[n - 4]) << 24) | (uint32_t(z[n - 3]) << 16) | (uint32_t(z[n - 2]) << 8) | z[n - 1];
	return out;
}

TEST(Png, ChecksumsMatchPublishedValues)
{
	auto digits = bytes("123456789");
	EXPECT_EQ(png::crc32(digits.data(), digits.size()), 0xCBF43926u);
	// Continuing a CRC over a split input gives the whole input's CRC.
	EXPECT_EQ(png::crc32(digits.data() + 4, 5, png::crc32(digits.data(), 4)), 0xCBF43926u);
	auto iend = bytes("IEND");
	EXPECT_EQ(png::crc32(iend.data(), 4), 0xAE426082u);
	auto wiki = bytes("Wikipedia");
	EXPECT_EQ(png::adler32(wiki.data(), wiki.size()), 0x11E60398u);
	EXPECT_EQ(png::adler32(nullptr, 0), 1u);

	// Long input: both sums wrap modulo 65521 (closed form for a constant byte).
	std::vector<uint8_t> ff(1000000, 0xff);
	const uint64_t n = ff.size();
	const uint64_t a = (1 + 255 * n) % 65521;
	const uint64_t b = (n + 255 * (n * (n + 1) / 2)) % 65521;
	EXPECT_EQ(png::adler32(ff.data(), n), uint32_t((b << 16) | a));
}

TEST(Png, BothDeflateModesInflateToTheInput)
{
	std::vector<std::vector<uint8_t>> inputs = {{}, {7}, bytes("aaaaaaaaaaaaaaaaaaaaaaab")};
	std::vector<uint8_t> big(200000);
	for (size_t i = 0; i < big.size(); i++)
		big[i] = uint8_t(i / 300 % 3 == 0 ? i * 7 : 0); // noise and long runs
	inputs.push_back(big);
	inputs.push_back(std::vector<uint8_t>(65535, 1)); // exactly one stored block
	inputs.push_back(std::vector<uint8_t>(65536, 2));
	for (const auto &in : inputs)
		for (png::Deflate mode : {png::Deflate::stored, png::Deflate::runs}) {
			uint32_t adler = 0;
			auto z = png::zlib(in, mode);
			EXPECT_EQ(inflate(z, &adler), in) << in.size() << " bytes, mode " << int(mode);
			EXPECT_EQ(adler, png::adler32(in.data(), in.size()));
		}
	// Runs really shrink long runs.
	EXPECT_LT(png::zlib(big, png::Deflate::runs).size(), big.size() / 2);
}

TEST(Png, FileLayout)
{
	// 2 x 1 RGB, filter byte 0 then two pixels.
	std::vector<uint8_t> rows = {0, 255, 0, 0, 0, 0, 255};
	auto f = png::encode(2, 1, png::rgb, rows, png::Deflate::stored);
	ASSERT_GT(f.size(), 8u + 25 + 12 + 12);
	EXPECT_EQ(std::memcmp(f.data(), "\x89PNG\r\n\x1a\n", 8), 0);
	EXPECT_EQ(std::memcmp(f.data() + 8, "\0\0\0\x0dIHDR\0\0\0\x02\0\0\0\x01\x08\x02\0\0\0", 21), 0);
	const uint8_t iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
	EXPECT_EQ(std::memcmp(f.data() + f.size() - 12, iend, 12), 0);
	// IDAT holds the rows.
	size_t idat = 8 + 25;
	uint32_t len = (f[idat] << 24) | (f[idat + 1] << 16) | (f[idat + 2] << 8) | f[idat + 3];
	EXPECT_EQ(std::memcmp(f.data() + idat + 4, "IDAT", 4), 0);
	std::vector<uint8_t> z(f.begin() + long(idat) + 8, f.begin() + long(idat + 8 + len));
	uint32_t adler = 0;
	EXPECT_EQ(inflate(z, &adler), rows);

	// A palette image carries its PLTE chunk before the data.
	auto p = png::encode(1, 1, png::palette, {0, 0}, png::Deflate::runs, {1, 2, 3});
	ASSERT_GT(p.size(), 8u + 25 + 12);
	EXPECT_EQ(std::memcmp(p.data() + 8 + 25, "\0\0\0\x03PLTE\x01\x02\x03", 11), 0);
}

TEST(Png, RefusesSizesThatDoNotFit)
{
	EXPECT_TRUE(png::encode(2, 2, png::grey, {0, 1, 2}, png::Deflate::stored).empty());
	EXPECT_TRUE(png::encode(0, 1, png::grey, {0}, png::Deflate::stored).empty());
	EXPECT_TRUE(png::encode(1, 1, png::palette, {0, 0}, png::Deflate::stored).empty());
	EXPECT_TRUE(png::encode(1, 1, png::palette, {0, 0}, png::Deflate::stored, {1, 2}).empty());
	EXPECT_FALSE(png::encode(1, 1, png::grey, {0, 9}, png::Deflate::stored).empty());
}

} // namespace
