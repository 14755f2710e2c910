/*
 * NRM sentences (the receiver's masks): reports built, queries and commands
 * read from untrusted peers, and the masks mapped onto the settings' letter
 * tables and the message filters they register.  A table entry of 1 lists
 * a letter the filter removes, so a mask bit is the entry's opposite.
 */
#include "nmea.h"

#include "navtex_settings/settings.h"
#include "nmea_util.h"

#include <algorithm>
#include <cstdio>

namespace {

// Types navwatch shows on every frequency whatever the selection (A, B, D,
// L): a mask that cleared them would tell the bridge something untrue.
constexpr uint32_t protected_types = (1u << 0) | (1u << 1) | (1u << 3) | (1u << 11);

// 1 to 8 hex digits; false otherwise.
bool parse_mask(std::string_view s, uint32_t &mask)
{
    if (s.empty() || s.size() > 8)
        return false;
    uint32_t v = 0;
    for (char c : s) {
        int d = nmea_hex_value(c);
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
    const int function = nmea_parse_uint(f.fields[0], 1);
    const int idx = f.fields[1].empty() ? 0 : nmea_parse_uint(f.fields[1], 1);
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
    for (uint32_t &type : masks.type)
        type |= protected_types;
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
        mask |= protected_types;
        changed |= apply_mask(&settings.filters, settings.message_types, idx, mask,
                              message_filter_has_type, message_filter_add_type,
                              message_filter_remove_type);
    }
    return changed;
}
