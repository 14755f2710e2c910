// XPM reader: header, colour table and pixel rows.
#include "xpm.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Longest key the one-entry cache keeps; longer keys are looked up
// every time.
constexpr size_t cache_key_max = 5;
// Longest colour text kept from a colour line.
constexpr size_t color_text_max = 49;

struct color_cache {
    hashmap_t map = nullptr; // table the cached entry came from
    bool valid = false;
    char key[cache_key_max + 1] = {};
    uint32_t number = 0;
};

color_cache cache;

void invalidate_cache()
{
    cache = color_cache{};
}

struct xpm_header {
    long columns = 0;
    long rows = 0;
    long colors = 0;
    long idwidth = 0;
};

// Reads the decimal field starting at `p` (leading blanks skipped); it
// must run up to the next blank or the end of the header.
bool read_field(const char *p, long &value)
{
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    // 64 bits, so the range check comes before an overflow even where
    // long has 32 bits (the board).
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > INT_MAX)
            return false;
    }
    if (*p != '\0' && *p != ' ')
        return false;
    value = static_cast<long>(v);
    return true;
}

// Fields are taken from the end backwards: idwidth, colors, rows, columns.
bool parse_header(const char *header, xpm_header &h)
{
    if (header == nullptr)
        return false;
    long fields[4];
    int count = 0;
    for (size_t i = std::strlen(header); i-- > 0;) {
        if (header[i] != ' ' && i != 0)
            continue;
        if (count == 4)
            return false;
        if (!read_field(header + i, fields[count]))
            return false;
        ++count;
    }
    if (count != 4)
        return false;
    h.idwidth = fields[0];
    h.colors = fields[1];
    h.rows = fields[2];
    h.columns = fields[3];
    return h.idwidth > 0;
}

// Adds one colour line to the table; lines too short for their key or
// without a keyword define no colour.
void parse_color_line(hashmap_t colormap, const char *line, size_t idwidth)
{
    if (strnlen(line, idwidth) < idwidth)
        return;
    std::string key(line, idwidth);
    const char *keyword = ParseXPMColor(line + idwidth, line[idwidth - 1]);
    if (keyword == nullptr)
        return;
    const char *p = keyword;
    while (*p != '\0' && *p != ' ')
        ++p;
    char text[color_text_max + 1];
    CopyXPMColor(text, p, color_text_max);
    // A further keyword (say "m" after "c") ends this colour.
    if (char *cut = const_cast<char *>(ParseXPMColor(text, p[-1])))
        *cut = '\0';
    uint32_t number = 0;
    // Skip the blank and the '#'; "None" has no hexadecimal digit.
    if (std::strlen(text) >= 2)
        number = static_cast<uint32_t>(std::strtoul(text + 2, nullptr, 16));
    hashmap_insert(colormap, key.c_str(), &number, sizeof number);
}

void put_pixel(unsigned char *at, uint32_t j, int depth)
{
    switch (depth) {
    case 1:
        at[0] = j != 0 ? 0xFF : 0x00;
        break;
    case 2:
        at[0] = static_cast<unsigned char>(j & 0xFF);
        at[1] = static_cast<unsigned char>(((j >> 8) & 0xFF) | (j >> 16));
        break;
    case 3:
        at[0] = static_cast<unsigned char>(j & 0xFF);
        at[1] = static_cast<unsigned char>((j >> 8) & 0xFF);
        at[2] = static_cast<unsigned char>((j >> 16) & 0xFF);
        break;
    default:
        break;
    }
}

} // namespace

const char *ParseXPMColor(const char *text, char before)
{
    static const char *const keywords[] = {"c ", "g ", "g4 ", "m ", "b ", "s "};
    if (text == nullptr || *text == '\0' || *text == '\n')
        return nullptr;
    for (const char *kw : keywords) {
        size_t kwlen = std::strlen(kw);
        for (size_t pos = 0; text[pos] != '\0' && text[pos] != '\n'; ++pos) {
            if (std::strncmp(text + pos, kw, kwlen) != 0)
                continue;
            char prev = pos == 0 ? before : text[pos - 1];
            if (prev != ' ')
                return text + pos;
        }
    }
    return nullptr;
}

char *CopyXPMColor(char *destination, const char *source, size_t length)
{
    size_t n = 0;
    if (source != nullptr)
        for (; n < length && source[n] != '\0'; ++n)
            destination[n] = source[n];
    destination[n] = '\0';
    return destination;
}

uint32_t get_color(hashmap_t colormap, const char *key)
{
    if (key == nullptr)
        return 0;
    if (cache.valid && cache.map == colormap && std::strcmp(cache.key, key) == 0)
        return cache.number;

    uint32_t number = 0;
    const char *entry_key = nullptr;
    const void *data = nullptr;
    hashmap_iter it = hashmap_find(colormap, key);
    if (it >= 0 && hashmap_return_entry(colormap, it, &entry_key, &data) >= (long)sizeof number)
        std::memcpy(&number, data, sizeof number);

    if (std::strlen(key) <= cache_key_max) {
        cache.map = colormap;
        cache.valid = true;
        std::strcpy(cache.key, key);
        cache.number = number;
    }
    return number;
}

// `height` is not used: the image's own row count decides.
void ReadXPMImage(const char *const *xpm_buffer, unsigned char *dest, int width, int /*height*/,
                  int depth)
{
    xpm_header h;
    if (xpm_buffer == nullptr || !parse_header(xpm_buffer[0], h))
        return;
    std::printf("%s():%d - cols: %ld   rows: %ld   colors: %ld   idwidth: %ld\n", "ReadXPMImage",
                168, h.columns, h.rows, h.colors, h.idwidth);

    // A new table may reuse the address of an earlier one.
    invalidate_cache();
    // One bucket per colour line actually present: a header claiming
    // millions of colours in front of a short array must not reserve
    // gigabytes for a table that could never be filled.
    long present = 0;
    while (present < h.colors && xpm_buffer[present + 1] != nullptr)
        ++present;
    hashmap_t colormap = hashmap_create(static_cast<unsigned>(present));
    const size_t idwidth = static_cast<size_t>(h.idwidth);

    bool ended = false;
    for (long i = 1; i <= h.colors; ++i) {
        const char *line = xpm_buffer[i];
        if (line == nullptr) {
            ended = true;
            break;
        }
        parse_color_line(colormap, line, idwidth);
    }

    const bool paint = !ended && dest != nullptr && width > 0 && depth >= 1 && depth <= 3;
    const long rows = h.rows;
    const long columns = h.columns < width ? h.columns : width;
    std::string key;
    for (long y = 0; paint && y < rows; ++y) {
        const char *row = xpm_buffer[h.colors + 1 + y];
        if (row == nullptr)
            break;
        unsigned char *at = dest + static_cast<size_t>(y) * width * depth;
        const char *p = row;
        bool row_ended = false;
        for (long x = 0; x < columns; ++x, at += depth) {
            uint32_t j = 0;
            if (!row_ended && strnlen(p, idwidth) == idwidth) {
                key.assign(p, idwidth);
                p += idwidth;
                j = get_color(colormap, key.c_str());
            } else {
                // A short row: its missing pixels are dark.
                row_ended = true;
            }
            put_pixel(at, j, depth);
        }
    }

    hashmap_delete(colormap);
    invalidate_cache();
}
