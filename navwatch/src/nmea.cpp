/*
 * NMEA sentences: checksums, escaping, splitting a line into fields, and
 * NRX (a received message) built and read back.  Takes and gives text lines
 * (CR LF ended, at most 82 characters for what we build); reads untrusted
 * input byte by byte within its bounds.  No state.
 */
#include "nmea.h"

#include "nmea_util.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

constexpr std::string_view reserved = "\r\n$*,!\\^~";
constexpr size_t line_overhead = 1 + 5; // "$CRNRX" before the first comma
constexpr size_t tail_size = 5;         // "*hh\r\n"
constexpr int max_sentences = 999;

bool needs_escape(unsigned char c)
{
    return c < 0x20 || c > 0x7e || reserved.find(static_cast<char>(c)) != std::string_view::npos;
}

void append_escaped(std::string &out, unsigned char c)
{
    if (!needs_escape(c)) {
        out += static_cast<char>(c);
        return;
    }
    static const char digits[] = "0123456789ABCDEF";
    out += '^';
    out += digits[c >> 4];
    out += digits[c & 15];
}

// Every line end (LF, CR LF, lone CR) becomes CR LF.
std::string crlf_lines(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

bool valid_ident(const std::string &id)
{
    return id.size() == 4 && id[0] >= 'A' && id[0] <= 'Z' && id[1] >= 'A' && id[1] <= 'Z' &&
           id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9';
}

} // namespace

int nmea_freq_index(int freq_khz)
{
    switch (freq_khz) {
    case 490: return 1;
    case 518: return 2;
    case 4209: return 3;
    default: return 0;
    }
}

int nmea_freq_khz(int index)
{
    switch (index) {
    case 1: return 490;
    case 2: return 518;
    case 3: return 4209;
    default: return 0;
    }
}

uint8_t nmea_checksum(std::string_view body)
{
    uint8_t sum = 0;
    for (char c : body)
        sum ^= static_cast<uint8_t>(c);
    return sum;
}

std::string nmea_sentence(std::string_view body)
{
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", nmea_checksum(body));
    std::string s;
    s.reserve(body.size() + 6);
    s += '$';
    s += body;
    s += tail;
    return s;
}

std::string nmea_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text)
        append_escaped(out, static_cast<unsigned char>(c));
    return out;
}

std::string nmea_unescape(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '^' && i + 2 < field.size() && nmea_hex_value(field[i + 1]) >= 0 &&
            nmea_hex_value(field[i + 2]) >= 0) {
            out += static_cast<char>(nmea_hex_value(field[i + 1]) * 16 + nmea_hex_value(field[i + 2]));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

namespace {

// Fields 4 to 12 of the first sentence, each followed by its comma.
std::string first_fields(const nmea_nrx_msg &msg, const std::string &text)
{
    const long bad = std::count(text.begin(), text.end(), '*');
    const int idx = nmea_freq_index(msg.freq_khz);
    std::string f = valid_ident(msg.ident) ? msg.ident : "";
    f += ',';
    if (idx > 0)
        f += std::to_string(idx);
    f += ',';
    struct tm tm {};
    if (msg.time >= 0 && gmtime_r(&msg.time, &tm) != nullptr) {
        char when[64];
        std::snprintf(when, sizeof when, "%02d%02d%02d.00,%02d,%02d,%04d", tm.tm_hour, tm.tm_min,
                      tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
        f += when;
    } else {
        f += ",,,";
    }
    f += ',' + std::to_string(text.size()) + ',' + std::to_string(bad) + ',';
    f += msg.correct ? 'A' : 'V';
    f += ',';
    return f;
}

// Fills sentence bodies with whole escape units (a character or "^hh");
// returns how many characters of text they hold.
size_t split_bodies(const std::string &text, size_t first_room, size_t next_room,
                    std::vector<std::string> &bodies)
{
    bodies.clear();
    size_t pos = 0;
    do {
        const size_t room = bodies.empty() ? first_room : next_room;
        std::string body;
        while (pos < text.size()) {
            const size_t unit = needs_escape(static_cast<unsigned char>(text[pos])) ? 3 : 1;
            if (body.size() + unit > room)
                break;
            append_escaped(body, static_cast<unsigned char>(text[pos]));
            ++pos;
        }
        bodies.push_back(std::move(body));
    } while (pos < text.size() && static_cast<int>(bodies.size()) < max_sentences);
    return pos;
}

} // namespace

std::vector<std::string> nmea_nrx_sentences(const nmea_nrx_msg &msg, int seq)
{
    std::string text = crlf_lines(msg.text);
    const std::string next = ",,,,,,,,,";
    // "$CRNRX,ccc,nnn,ss," comes before fields 4-12 in every sentence.
    const size_t head = line_overhead + 1 + 3 + 1 + 3 + 1 + 2 + 1;
    const size_t next_room = NMEA_MAX_SENTENCE - head - next.size() - tail_size;
    std::string first = first_fields(msg, text);
    std::vector<std::string> bodies;
    const size_t held = split_bodies(text, NMEA_MAX_SENTENCE - head - first.size() - tail_size,
                                     next_room, bodies);
    if (held < text.size()) {
        // Past 999 sentences: cut the text there, so that the counts tell
        // what was sent.  Shorter counts only leave more room.
        text.resize(held);
        first = first_fields(msg, text);
        split_bodies(text, NMEA_MAX_SENTENCE - head - first.size() - tail_size, next_room, bodies);
    }

    char seqbuf[4];
    std::snprintf(seqbuf, sizeof seqbuf, "%02d", ((seq % 100) + 100) % 100);
    std::vector<std::string> lines;
    const int count = static_cast<int>(bodies.size());
    for (int i = 0; i < count; ++i) {
        char numbers[32];
        std::snprintf(numbers, sizeof numbers, "%03d,%03d,", count, i + 1);
        std::string s = "CRNRX,";
        s += numbers;
        s += seqbuf;
        s += ',';
        s += i == 0 ? first : next;
        s += bodies[i];
        lines.push_back(nmea_sentence(s));
    }
    return lines;
}

bool nmea_parse_sentence(std::string_view line, nmea_fields &out)
{
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                             line.back() == '\t' || line.back() == '\0'))
        line.remove_suffix(1);
    if (line.size() < 1 + 5 + 3 || line.front() != '$' || line[line.size() - 3] != '*')
        return false;
    const int hi = nmea_hex_value(line[line.size() - 2]), lo = nmea_hex_value(line[line.size() - 1]);
    if (hi < 0 || lo < 0)
        return false;
    const std::string_view body = line.substr(1, line.size() - 4);
    if (nmea_checksum(body) != hi * 16 + lo)
        return false;
    const size_t comma = body.find(',');
    const std::string_view address = body.substr(0, comma);
    if (address.size() != 5)
        return false;
    for (char c : address)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    out.talker.assign(address.substr(0, 2));
    out.formatter.assign(address.substr(2));
    out.fields.clear();
    if (comma == std::string_view::npos)
        return true;
    std::string_view rest = body.substr(comma + 1);
    for (;;) {
        const size_t c = rest.find(',');
        out.fields.emplace_back(rest.substr(0, c));
        if (c == std::string_view::npos)
            break;
        rest.remove_prefix(c + 1);
    }
    return true;
}

bool nmea_nrx_parse(const std::vector<std::string> &lines, nmea_nrx_read &out)
{
    out = nmea_nrx_read{};
    if (lines.empty())
        return false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (line.size() > NMEA_MAX_SENTENCE || line.size() < 2 ||
            line.compare(line.size() - 2, 2, "\r\n") != 0)
            return false;
        nmea_fields f;
        if (!nmea_parse_sentence(line, f) || f.formatter != "NRX" || f.fields.size() != 13)
            return false;
        const int count = nmea_parse_uint(f.fields[0], 3), number = nmea_parse_uint(f.fields[1], 3);
        const int seq = nmea_parse_uint(f.fields[2], 2);
        if (f.fields[0].size() != 3 || f.fields[1].size() != 3 || f.fields[2].size() != 2 ||
            count != static_cast<int>(lines.size()) || number != static_cast<int>(i) + 1 || seq < 0)
            return false;
        if (i == 0) {
            out.count = count;
            out.seq = seq;
            out.ident = f.fields[3];
            out.freq_index = f.fields[4].empty() ? -1 : nmea_parse_uint(f.fields[4], 1);
            out.time = f.fields[5];
            out.day = f.fields[6];
            out.month = f.fields[7];
            out.year = f.fields[8];
            out.total = nmea_parse_uint(f.fields[9], 9);
            out.bad = nmea_parse_uint(f.fields[10], 9);
            if (f.fields[11].size() != 1 || (f.fields[11][0] != 'A' && f.fields[11][0] != 'V') ||
                out.total < 0 || out.bad < 0 || (!f.fields[4].empty() && out.freq_index < 0))
                return false;
            out.status = f.fields[11][0];
        } else {
            if (seq != out.seq)
                return false;
            for (int k = 3; k <= 11; ++k)
                if (!f.fields[k].empty())
                    return false;
        }
        out.text += nmea_unescape(f.fields[12]);
    }
    return out.total == static_cast<int>(out.text.size()) &&
           out.bad == std::count(out.text.begin(), out.text.end(), '*');
}
