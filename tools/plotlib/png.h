// PNG encoding for the project's own pictures (splash artwork, plots).
//
// Takes filtered scanlines (each row: one filter-type byte, then the row's
// bytes) of an 8-bit grey, RGB or palette image and gives the bytes of a
// PNG file.  The zlib stream is either stored blocks (no compression) or
// fixed Huffman codes with runs (matches at distance 1), which shrinks
// the large even areas of drawings well.  CRC-32 and Adler-32 are computed
// here; no library is used.
#ifndef PLOTLIB_PNG_H
#define PLOTLIB_PNG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace png {

// CRC-32 of PNG chunks (polynomial 0xEDB88320), continuing from `crc`.
uint32_t crc32(const uint8_t *p, size_t n, uint32_t crc = 0);
// Adler-32 of a zlib stream's uncompressed data.
uint32_t adler32(const uint8_t *p, size_t n);

enum class Deflate { stored, runs };

// A complete zlib stream (header, deflate blocks, Adler-32).
std::vector<uint8_t> zlib(const std::vector<uint8_t> &data, Deflate mode);

enum ColourType : uint8_t { grey = 0, rgb = 2, palette = 3 };

// A PNG file of width x height pixels at 8 bits per sample.  `rows` holds
// the filtered scanlines; `plte` the palette's RGB triples (palette only).
// Returns an empty vector when the sizes do not fit together.
std::vector<uint8_t> encode(int width, int height, ColourType type, const std::vector<uint8_t> &rows,
			    Deflate mode, const std::vector<uint8_t> &plte = {});

// Writes bytes to a file; false on failure.
bool write_file(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace png

#endif
