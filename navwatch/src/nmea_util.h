// Small text helpers shared by the NMEA modules.
#ifndef NAVWATCH_NMEA_UTIL_H
#define NAVWATCH_NMEA_UTIL_H

#include <charconv>
#include <string_view>

inline int nmea_hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Strict non-negative decimal; -1 when the text is not one.
inline int nmea_parse_uint(std::string_view s, size_t max_digits)
{
    if (s.empty() || s.size() > max_digits)
        return -1;
    int v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 0)
        return -1;
    return v;
}

#endif
