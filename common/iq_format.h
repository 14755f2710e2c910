// Headerless I/Q sample formats of software-defined radios: each complex
// sample an I value then a Q value, little-endian.
//   cu8   unsigned 8-bit around 127.5 (rtl_sdr)
//   cs8   signed 8-bit
//   cs16  signed 16-bit
//   cf32  32-bit float, full scale +-1
// Samples convert to and from floats of full scale +-1.
#ifndef NAVTEX_IQ_FORMAT_H
#define NAVTEX_IQ_FORMAT_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace iq_format {

enum class Format { cu8, cs8, cs16, cf32 };

inline bool parse(const std::string &name, Format &f)
{
	if (name == "cu8")
		f = Format::cu8;
	else if (name == "cs8")
		f = Format::cs8;
	else if (name == "cs16")
		f = Format::cs16;
	else if (name == "cf32")
		f = Format::cf32;
	else
		return false;
	return true;
}

inline const char *name(Format f)
{
	switch (f) {
	case Format::cu8: return "cu8";
	case Format::cs8: return "cs8";
	case Format::cs16: return "cs16";
	case Format::cf32: return "cf32";
	}
	return "?";
}

// Bytes of one value (half a complex sample).
inline size_t value_bytes(Format f)
{
	return f == Format::cf32 ? 4 : f == Format::cs16 ? 2 : 1;
}

// One value from its bytes.
inline float decode_value(Format f, const unsigned char *p)
{
	switch (f) {
	case Format::cu8: return (static_cast<float>(p[0]) - 127.5f) / 127.5f;
	case Format::cs8: return static_cast<float>(static_cast<int8_t>(p[0])) / 128.0f;
	case Format::cs16: return static_cast<float>(static_cast<int16_t>(p[0] | p[1] << 8)) / 32768.0f;
	case Format::cf32: {
		const uint32_t u = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
				   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
		float v;
		memcpy(&v, &u, sizeof v);
		return v;
	}
	}
	return 0.0f;
}

// Appends one value, clipped to the format's range.
inline void encode_value(Format f, float v, std::vector<unsigned char> &out)
{
	auto clip = [](double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; };
	switch (f) {
	case Format::cu8:
		out.push_back(static_cast<unsigned char>(std::lround(clip(v * 127.5 + 127.5, 0, 255))));
		break;
	case Format::cs8:
		out.push_back(static_cast<unsigned char>(static_cast<int8_t>(std::lround(clip(v * 128.0, -128, 127)))));
		break;
	case Format::cs16: {
		const uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(std::lround(clip(v * 32768.0, -32768, 32767))));
		out.push_back(static_cast<unsigned char>(u & 0xff));
		out.push_back(static_cast<unsigned char>(u >> 8));
		break;
	}
	case Format::cf32: {
		uint32_t u;
		memcpy(&u, &v, sizeof u);
		for (int b = 0; b < 4; b++)
			out.push_back(static_cast<unsigned char>(u >> (8 * b)));
		break;
	}
	}
}

// Bytes in, complex samples (interleaved I, Q floats) out; the bytes of a
// sample that a read cut off wait for the next.
class Decoder {
public:
	explicit Decoder(Format f) : f_(f), size_(2 * value_bytes(f))
	{
		// The 8-bit formats through a table: they come at the highest rates.
		for (int v = 0; v < 256; v++) {
			const unsigned char b = static_cast<unsigned char>(v);
			table_[v] = decode_value(f == Format::cs8 ? Format::cs8 : Format::cu8, &b);
		}
	}
	void decode(const unsigned char *bytes, size_t n, std::vector<float> &out)
	{
		size_t k = 0;
		while (held_ > 0 && held_ < size_ && k < n)
			part_[held_++] = bytes[k++];
		if (held_ == size_) {
			put(part_, 1, out);
			held_ = 0;
		}
		const size_t whole = (n - k) / size_;
		put(bytes + k, whole, out);
		k += whole * size_;
		while (k < n)
			part_[held_++] = bytes[k++];
	}
	// Bytes of an incomplete sample at the end of the input.
	size_t dangling() const { return held_; }

private:
	// `count` whole samples.
	void put(const unsigned char *p, size_t count, std::vector<float> &out)
	{
		const size_t base = out.size();
		out.resize(base + 2 * count);
		float *o = out.data() + base;
		const size_t values = 2 * count;
		if (f_ == Format::cu8 || f_ == Format::cs8) {
			for (size_t k = 0; k < values; k++)
				o[k] = table_[p[k]];
			return;
		}
		const size_t vb = value_bytes(f_);
		for (size_t k = 0; k < values; k++) {
			const float v = decode_value(f_, p + k * vb);
			// A float file may hold anything: a NaN or an infinity
			// would poison the filters for good.
			o[k] = std::isfinite(v) ? v : 0.0f;
		}
	}
	Format f_;
	size_t size_;
	float table_[256];
	unsigned char part_[8] = {};
	size_t held_ = 0;
};

} // namespace iq_format

#endif
