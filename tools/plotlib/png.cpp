// PNG encoding: chunks with CRC-32, a zlib stream with stored blocks or
// fixed-Huffman runs, Adler-32.
#include "png.h"

#include <algorithm>
#include <fstream>

namespace png {

namespace {

// Bits go out least significant first, Huffman codes most significant first.
struct bit_writer {
	std::vector<uint8_t> bytes;
	uint32_t acc = 0;
	int nbits = 0;

	void put(uint32_t value, int n)
	{
		for (int i = 0; i < n; ++i) {
			acc |= ((value >> i) & 1u) << nbits;
			if (++nbits == 8) {
				bytes.push_back(uint8_t(acc));
				acc = 0;
				nbits = 0;
			}
		}
	}
	void put_code(uint32_t code, int n)
	{
		for (int i = n - 1; i >= 0; --i)
			put((code >> i) & 1u, 1);
	}
	void flush()
	{
		if (nbits > 0)
			put(0, 8 - nbits);
	}
};

void put_literal(bit_writer &bw, int sym)
{
	if (sym < 144)
		bw.put_code(0x30 + sym, 8);
	else if (sym < 256)
		bw.put_code(0x190 + sym - 144, 9);
	else if (sym < 280)
		bw.put_code(sym - 256, 7);
	else
		bw.put_code(0xC0 + sym - 280, 8);
}

void put_length(bit_writer &bw, int len)
{
	static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
				   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
	static const int extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
				    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
	int i = 28;
	while (base[i] > len)
		--i;
	put_literal(bw, 257 + i);
	bw.put(len - base[i], extra[i]);
	bw.put_code(0, 5); // distance 1
}

void put_be32(std::vector<uint8_t> &v, uint32_t x)
{
	for (int s = 24; s >= 0; s -= 8)
		v.push_back(uint8_t(x >> s));
}

// One block of fixed Huffman codes: literals, and runs of the previous
// byte as matches at distance 1.
void deflate_runs(bit_writer &bw, const std::vector<uint8_t> &data)
{
	bw.put(1, 1); // final block
	bw.put(1, 2); // fixed Huffman codes
	size_t i = 0;
	while (i < data.size()) {
		size_t run = 0;
		if (i > 0)
			while (i + run < data.size() && run < 258 && data[i + run] == data[i - 1])
				++run;
		if (run >= 3) {
			put_length(bw, int(run));
			i += run;
		} else {
			put_literal(bw, data[i]);
			++i;
		}
	}
	put_literal(bw, 256);
	bw.flush();
}

// Stored blocks of at most 65535 bytes; an empty input still needs one.
void deflate_stored(std::vector<uint8_t> &out, const std::vector<uint8_t> &data)
{
	size_t pos = 0;
	do {
		const size_t n = std::min<size_t>(65535, data.size() - pos);
		const bool last = pos + n == data.size();
		out.push_back(last ? 1 : 0); // BFINAL, BTYPE 00
		out.push_back(uint8_t(n & 0xff));
		out.push_back(uint8_t(n >> 8));
		out.push_back(uint8_t(~n & 0xff));
		out.push_back(uint8_t((~n >> 8) & 0xff));
		out.insert(out.end(), data.begin() + long(pos), data.begin() + long(pos + n));
		pos += n;
	} while (pos < data.size());
}

void chunk(std::vector<uint8_t> &file, const char *type, const std::vector<uint8_t> &body)
{
	put_be32(file, uint32_t(body.size()));
	const size_t start = file.size();
	file.insert(file.end(), type, type + 4);
	file.insert(file.end(), body.begin(), body.end());
	put_be32(file, crc32(file.data() + start, file.size() - start));
}

} // namespace

uint32_t crc32(const uint8_t *p, size_t n, uint32_t crc)
{
	crc = ~crc;
	for (size_t i = 0; i < n; ++i) {
		crc ^= p[i];
		for (int k = 0; k < 8; ++k)
			crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
	}
	return ~crc;
}

uint32_t adler32(const uint8_t *p, size_t n)
{
	uint32_t a = 1, b = 0;
	for (size_t i = 0; i < n; ++i) {
		a = (a + p[i]) % 65521;
		b = (b + a) % 65521;
	}
	return (b << 16) | a;
}

std::vector<uint8_t> zlib(const std::vector<uint8_t> &data, Deflate mode)
{
	std::vector<uint8_t> out = {0x78, 0x01}; // deflate, 32 KiB window, check bits
	if (mode == Deflate::runs) {
		bit_writer bw;
		deflate_runs(bw, data);
		out.insert(out.end(), bw.bytes.begin(), bw.bytes.end());
	} else {
		deflate_stored(out, data);
	}
	put_be32(out, adler32(data.data(), data.size()));
	return out;
}

std::vector<uint8_t> encode(int width, int height, ColourType type, const std::vector<uint8_t> &rows,
			    Deflate mode, const std::vector<uint8_t> &plte)
{
	const int channels = type == rgb ? 3 : 1;
	if (width <= 0 || height <= 0 ||
	    rows.size() != size_t(height) * (size_t(width) * channels + 1))
		return {};
	if (type == palette && (plte.empty() || plte.size() % 3 != 0 || plte.size() > 768))
		return {};
	std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
	std::vector<uint8_t> ihdr;
	put_be32(ihdr, uint32_t(width));
	put_be32(ihdr, uint32_t(height));
	ihdr.insert(ihdr.end(), {8, uint8_t(type), 0, 0, 0}); // 8 bits, no interlace
	chunk(file, "IHDR", ihdr);
	if (type == palette)
		chunk(file, "PLTE", plte);
	chunk(file, "IDAT", zlib(rows, mode));
	chunk(file, "IEND", {});
	return file;
}

bool write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
	std::ofstream out(path, std::ios::binary);
	out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
	return bool(out);
}

} // namespace png
