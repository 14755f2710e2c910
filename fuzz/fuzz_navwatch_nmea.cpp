// navwatch's NMEA input: any bytes a chart plotter or a serial line sends,
// cut into lines as the outputs cut them, read as NRM queries and commands,
// and every command applied to the selections.  Also: any text sent as NRX
// comes back whole from its own sentences.
#include "navtex_settings/settings.h"
#include "nmea.h"
#include "outlet.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include "fuzz_support.h"

using fuzz::check;

namespace {

void quiet_log(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("G_SLICE", "always-malloc", 1);
    g_log_set_default_handler(quiet_log, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);

    std::array<std::array<int, SETTINGS_LETTERS>, 6> tabs{};
    letter_select stations{tabs[0].data(), tabs[1].data(), tabs[2].data(), SETTINGS_LETTERS};
    letter_select types{tabs[3].data(), tabs[4].data(), tabs[5].data(), SETTINGS_LETTERS};
    settings_obj s{};
    message_filter_init(&s.filters);
    s.coast_stations = &stations;
    s.message_types = &types;

    line_reader reader;
    for (const std::string &line : reader.feed(bytes)) {
        check(line.size() <= reader.max);
        nmea_fields f;
        nmea_parse_sentence(line, f);
        const nmea_request req = nmea_parse_request(line);
        if (req.kind == nmea_request_kind::query) {
            check(req.nrm.freq_index >= 0 && req.nrm.freq_index <= NMEA_FREQS);
            for (const std::string &r : nmea_nrm_report(nmea_masks_from_settings(s), req.nrm.freq_index))
                check(r.size() <= NMEA_MAX_SENTENCE && nmea_parse_request(r).kind == nmea_request_kind::none);
        } else if (req.kind == nmea_request_kind::configure) {
            const nmea_nrm &n = req.nrm;
            check(n.function >= 1 && n.function <= 3 && n.freq_index >= 1 && n.freq_index <= NMEA_FREQS);
            check((n.area & ~NMEA_MASK_LETTERS) == 0 && (n.type & ~NMEA_MASK_LETTERS) == 0);
            check(nmea_masks_apply(s, n) >= 0);
            check(nmea_masks_apply(s, n) == 0); // a second time changes nothing
            const nmea_masks m = nmea_masks_from_settings(s);
            if (n.has_area)
                check(m.area[n.freq_index - 1] == n.area);
            // Types A, B, D and L stay selected on every frequency.
            if (n.has_type)
                check(m.type[n.freq_index - 1] == (n.type | 0x80bu));
        }
    }

    // The input as message text: escaped, split and read back unchanged
    // (line ends as CR LF), every sentence within 82 characters.
    check(nmea_unescape(nmea_escape(bytes)) == bytes);
    nmea_nrx_msg msg;
    msg.freq_khz = 518;
    msg.ident = "FA12";
    msg.time = 0;
    msg.text.assign(bytes.substr(0, 4096));
    nmea_nrx_read back;
    check(nmea_nrx_parse(nmea_nrx_sentences(msg, static_cast<int>(size)), back));
    std::string crlf;
    for (size_t i = 0; i < msg.text.size(); ++i) {
        const char c = msg.text[i];
        if (c == '\r' || c == '\n') {
            crlf += "\r\n";
            if (c == '\r' && i + 1 < msg.text.size() && msg.text[i + 1] == '\n')
                ++i;
        } else {
            crlf += c;
        }
    }
    check(back.text == crlf);

    message_filter_free(&s.filters);
    return 0;
}
