/*
 * NRX and NRM sentences: building, escaping, parsing and the mapping of NRM
 * masks onto the settings' letter tables and message filters.  Takes and
 * gives text lines (CR LF ended, at most 82 characters for what we build);
 * reads untrusted input byte by byte within its bounds.  No state.
 */
#include "nmea.h"

#include "navtex_settings/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

constexpr std::string_view reserved = "\r\n$*,!\\^~";
constexpr size_t line_overhead = 1 + 5; // "$CRNRX" before the first comma
constexpr size_t tail_size = 5;         // "*hh\r\n"
constexpr int max_sentences = 999;
// Types the filter passes on 518 kHz whatever the selection: A, B, D, L.
constexpr uint32_t protected_518 = (1u << 0) | (1u << 1) | (1u << 3) | (1u << 11);

bool needs_escape(unsigned char c)
{
    return c < 0x20 || c > 0x7e || reserved.find(static_cast<char>(c)) != std::string_view::npos;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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

// Strict non-negative decimal; -1 when the text is not one.
int parse_uint(std::string_view s, size_t max_digits)
{
    if (s.empty() || s.size() > max_digits)
        return -1;
    int v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 0)
        return -1;
    return v;
}

// 1 to 8 hex digits; false otherwise.
bool parse_mask(std::string_view s, uint32_t &mask)
{
    if (s.empty() || s.size() > 8)
        return false;
    uint32_t v = 0;
    for (char c : s) {
        int d = hex_value(c);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    mask = v & NMEA_MASK_LETTERS;
    return true;
}

int *freq_table(letter_select *sel, int freq_index)
{
    if (sel == nullptr)
        return nullptr;
    switch (freq_index) {
    case 1: return sel->tab_490;
    case 2: return sel->tab_518;
    case 3: return sel->tab_4209;
    default: return nullptr;
    }
}

uint32_t table_mask(const letter_select *sel, int freq_index)
{
    const int *tab = freq_table(const_cast<letter_select *>(sel), freq_index);
    uint32_t mask = NMEA_MASK_LETTERS;
    if (tab == nullptr)
        return mask;
    int n = std::min(sel->letters, 26);
    for (int k = 0; k < n; ++k)
        if (tab[k] == 1)
            mask &= ~(1u << k);
    return mask;
}

using has_fn = int (*)(filter_obj *, int, const char *);
using add_fn = int (*)(filter_obj *, int, const char *);
using remove_fn = void (*)(filter_obj *, int, const char *);

// Brings one table and its filters in line with a mask; 1 when changed.
int apply_mask(filter_obj *filters, letter_select *sel, int freq_index, uint32_t mask, has_fn has,
               add_fn add, remove_fn remove)
{
    int *tab = freq_table(sel, freq_index);
    const int freq = nmea_freq_khz(freq_index);
    int changed = 0;
    int n = std::min(sel->letters, 26);
    for (int k = 0; k < n; ++k) {
        const char letter[2] = {static_cast<char>('A' + k), '\0'};
        if (mask & (1u << k)) {
            if (tab[k] == 1) {
                tab[k] = 0;
                changed = 1;
            }
            if (has(filters, freq, letter)) {
                remove(filters, freq, letter);
                changed = 1;
            }
        } else {
            if (tab[k] != 1) {
                tab[k] = 1;
                changed = 1;
            }
            if (!has(filters, freq, letter)) {
                add(filters, freq, letter);
                changed = 1;
            }
        }
    }
    return changed;
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
        if (field[i] == '^' && i + 2 < field.size() && hex_value(field[i + 1]) >= 0 &&
            hex_value(field[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(field[i + 1]) * 16 + hex_value(field[i + 2]));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string> nmea_nrx_sentences(const nmea_nrx_msg &msg, int seq)
{
    const std::string text = crlf_lines(msg.text);
    const long bad = std::count(text.begin(), text.end(), '*');
    const int idx = nmea_freq_index(msg.freq_khz);

    std::string first_fields = valid_ident(msg.ident) ? msg.ident : "";
    first_fields += ',';
    if (idx > 0)
        first_fields += std::to_string(idx);
    first_fields += ',';
    struct tm tm {};
    if (msg.time >= 0 && gmtime_r(&msg.time, &tm) != nullptr) {
        char when[48];
        std::snprintf(when, sizeof when, "%02d%02d%02d.00,%02d,%02d,%04d", tm.tm_hour, tm.tm_min,
                      tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
        first_fields += when;
    } else {
        first_fields += ",,,";
    }
    first_fields += ',' + std::to_string(text.size()) + ',' + std::to_string(bad) + ',';
    first_fields += msg.correct ? 'A' : 'V';
    first_fields += ',';
    const std::string next_fields = ",,,,,,,,,";

    char seqbuf[4];
    std::snprintf(seqbuf, sizeof seqbuf, "%02d", ((seq % 100) + 100) % 100);

    // "CRNRX,ccc,nnn,ss," is 17 characters before the fields of 4-12.
    const size_t head = line_overhead + 1 + 3 + 1 + 3 + 1 + 2 + 1;
    std::vector<std::string> bodies;
    size_t pos = 0;
    do {
        const std::string &fields = bodies.empty() ? first_fields : next_fields;
        const size_t room = NMEA_MAX_SENTENCE - head - fields.size() - tail_size;
        std::string body;
        // Whole escape sequences only: a unit is one character or "^hh".
        while (pos < text.size()) {
            const size_t unit = needs_escape(static_cast<unsigned char>(text[pos])) ? 3 : 1;
            if (body.size() + unit > room)
                break;
            append_escaped(body, static_cast<unsigned char>(text[pos]));
            ++pos;
        }
        bodies.push_back(std::move(body));
    } while (pos < text.size() && static_cast<int>(bodies.size()) < max_sentences);

    std::vector<std::string> lines;
    const int count = static_cast<int>(bodies.size());
    for (int i = 0; i < count; ++i) {
        char numbers[16];
        std::snprintf(numbers, sizeof numbers, "%03d,%03d,", count, i + 1);
        std::string s = "CRNRX,";
        s += numbers;
        s += seqbuf;
        s += ',';
        s += i == 0 ? first_fields : next_fields;
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
    const int hi = hex_value(line[line.size() - 2]), lo = hex_value(line[line.size() - 1]);
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
        const int count = parse_uint(f.fields[0], 3), number = parse_uint(f.fields[1], 3);
        const int seq = parse_uint(f.fields[2], 2);
        if (f.fields[0].size() != 3 || f.fields[1].size() != 3 || f.fields[2].size() != 2 ||
            count != static_cast<int>(lines.size()) || number != static_cast<int>(i) + 1 || seq < 0)
            return false;
        if (i == 0) {
            out.count = count;
            out.seq = seq;
            out.ident = f.fields[3];
            out.freq_index = f.fields[4].empty() ? -1 : parse_uint(f.fields[4], 1);
            out.time = f.fields[5];
            out.day = f.fields[6];
            out.month = f.fields[7];
            out.year = f.fields[8];
            out.total = parse_uint(f.fields[9], 9);
            out.bad = parse_uint(f.fields[10], 9);
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

std::string nmea_nrm_sentence(const nmea_nrm &nrm)
{
    char buf[64];
    char area[12] = "", type[12] = "";
    if (nrm.has_area)
        std::snprintf(area, sizeof area, "%08X", nrm.area & NMEA_MASK_LETTERS);
    if (nrm.has_type)
        std::snprintf(type, sizeof type, "%08X", nrm.type & NMEA_MASK_LETTERS);
    std::snprintf(buf, sizeof buf, "CRNRM,%d,%d,%s,%s,", nrm.function, nrm.freq_index, area, type);
    std::string body = buf;
    if (nrm.status != 0)
        body += nrm.status;
    return nmea_sentence(body);
}

std::vector<std::string> nmea_nrm_report(const nmea_masks &masks, int freq_index)
{
    std::vector<std::string> lines;
    for (int function = 1; function <= 3; ++function)
        for (int idx = 1; idx <= NMEA_FREQS; ++idx) {
            if (freq_index != 0 && idx != freq_index)
                continue;
            nmea_nrm nrm;
            nrm.function = function;
            nrm.freq_index = idx;
            nrm.area = masks.area[idx - 1];
            nrm.type = masks.type[idx - 1];
            nrm.status = 'R';
            lines.push_back(nmea_nrm_sentence(nrm));
        }
    return lines;
}

nmea_request nmea_parse_request(std::string_view line)
{
    nmea_request req;
    nmea_fields f;
    if (!nmea_parse_sentence(line, f))
        return req;
    if (f.formatter == "CRQ") {
        if (!f.fields.empty() && f.fields[0] == "NRM") {
            req.kind = nmea_request_kind::query;
            req.nrm.freq_index = 0;
        }
        return req;
    }
    if (f.formatter != "NRM" || f.fields.size() < 4 || f.fields.size() > 5)
        return req;
    const int function = parse_uint(f.fields[0], 1);
    const int idx = f.fields[1].empty() ? 0 : parse_uint(f.fields[1], 1);
    char status = 0;
    if (f.fields.size() == 5) {
        if (f.fields[4] == "C")
            status = 'C';
        else if (!f.fields[4].empty())
            return req; // a report from another device, or nonsense
    }
    nmea_nrm &nrm = req.nrm;
    nrm.function = function;
    nrm.status = status;
    nrm.has_area = !f.fields[2].empty();
    nrm.has_type = !f.fields[3].empty();
    if ((nrm.has_area && !parse_mask(f.fields[2], nrm.area)) ||
        (nrm.has_type && !parse_mask(f.fields[3], nrm.type)))
        return req;
    if (function == 0) {
        req.kind = nmea_request_kind::query;
        nrm.freq_index = idx >= 1 && idx <= NMEA_FREQS ? idx : 0;
    } else if (function >= 1 && function <= 3 && idx >= 1 && idx <= NMEA_FREQS) {
        req.kind = nmea_request_kind::configure;
        nrm.freq_index = idx;
    }
    return req;
}

nmea_masks nmea_masks_from_settings(const settings_obj &settings)
{
    nmea_masks masks;
    for (int idx = 1; idx <= NMEA_FREQS; ++idx) {
        masks.area[idx - 1] = table_mask(settings.coast_stations, idx);
        masks.type[idx - 1] = table_mask(settings.message_types, idx);
    }
    masks.type[1] |= protected_518;
    return masks;
}

int nmea_masks_apply(settings_obj &settings, const nmea_nrm &nrm)
{
    const int idx = nrm.freq_index;
    if (idx < 1 || idx > NMEA_FREQS)
        return -1;
    if ((nrm.has_area && freq_table(settings.coast_stations, idx) == nullptr) ||
        (nrm.has_type && freq_table(settings.message_types, idx) == nullptr))
        return -1;
    int changed = 0;
    if (nrm.has_area)
        changed |= apply_mask(&settings.filters, settings.coast_stations, idx,
                              nrm.area & NMEA_MASK_LETTERS, message_filter_has_station,
                              message_filter_add_station, message_filter_remove_station);
    if (nrm.has_type) {
        uint32_t mask = nrm.type & NMEA_MASK_LETTERS;
        if (idx == 2)
            mask |= protected_518;
        changed |= apply_mask(&settings.filters, settings.message_types, idx, mask,
                              message_filter_has_type, message_filter_add_type,
                              message_filter_remove_type);
    }
    return changed;
}
