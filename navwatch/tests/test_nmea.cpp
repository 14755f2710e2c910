// NRX sentences read back against their message, escaping, NRM reports,
// queries and commands, and the masks on the settings' tables and filters.
#include "nmea.h"

#include "navtex_settings/settings.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string crlf(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string field13(const std::string &line)
{
    const size_t comma = line.rfind(',');
    return line.substr(comma + 1, line.rfind('*') - comma - 1);
}

} // namespace

TEST(Nmea, ChecksumAndEscapingAgreeWithTheStandardsForms)
{
    nmea_fields f;
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    ASSERT_TRUE(nmea_parse_sentence(gga, f));
    EXPECT_EQ(f.talker, "GP");
    EXPECT_EQ(f.formatter, "GGA");
    EXPECT_EQ(f.fields.size(), 14u);
    std::string bad = gga;
    bad[10] = '6';
    EXPECT_FALSE(nmea_parse_sentence(bad, f));
    EXPECT_FALSE(nmea_parse_sentence(gga.substr(0, gga.size() - 5), f)); // no checksum
    EXPECT_EQ(nmea_sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), gga);

    EXPECT_EQ(nmea_escape("A,B\r\n*$^~!\\"), "A^2CB^0D^0A^2A^24^5E^7E^21^5C");
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    const std::string esc = nmea_escape(all);
    for (char c : esc)
        EXPECT_TRUE(c >= 0x20 && c < 0x7f && std::string("\r\n$*,!\\~").find(c) == std::string::npos);
    EXPECT_EQ(nmea_unescape(esc), all);
    EXPECT_EQ(nmea_unescape("^0x^2"), "^0x^2"); // not escapes: kept
}

TEST(Nmea, NrxSentencesCarryTheMessage)
{
    const time_t when = 1796790075; // 2026-12-09 04:21:15 UTC
    const std::string words =
        "NAVAREA I 123/26\nGALE WARNING, SEA AREA $FORTIES* ^ ~ \\ !\r\nWIND SW 8 "
        "INCREASING 9.\rNNNN";
    // Every length of lead-in moves each reserved character across every
    // sentence boundary at least once.
    for (int lead = 0; lead < 60; ++lead) {
        nmea_nrx_msg msg;
        msg.freq_khz = 518;
        msg.ident = "FA12";
        msg.time = when;
        msg.text = std::string(lead, 'X') + words + words;
        msg.correct = false;
        const auto lines = nmea_nrx_sentences(msg, 123);
        ASSERT_GT(lines.size(), 2u);
        nmea_nrx_read r;
        ASSERT_TRUE(nmea_nrx_parse(lines, r)) << "lead " << lead;
        std::string normal = msg.text;
        for (size_t p; (p = normal.find('\r')) != std::string::npos;)
            normal[p] = '\n';
        for (size_t p = 0; (p = normal.find("\n\n", p)) != std::string::npos;)
            normal.erase(p, 1);
        EXPECT_EQ(r.text, crlf(normal));
        EXPECT_EQ(r.count, static_cast<int>(lines.size()));
        EXPECT_EQ(r.seq, 23);
        EXPECT_EQ(r.ident, "FA12");
        EXPECT_EQ(r.freq_index, 2);
        EXPECT_EQ(r.time, "042115.00");
        EXPECT_EQ(r.day, "09");
        EXPECT_EQ(r.month, "12");
        EXPECT_EQ(r.year, "2026");
        EXPECT_EQ(r.bad, 2);
        EXPECT_EQ(r.status, 'V');
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            // Full: the next character (at most an escape) would not fit.
            EXPECT_GE(lines[i].size(), NMEA_MAX_SENTENCE - 2) << lines[i];
            EXPECT_LE(lines[i].size(), NMEA_MAX_SENTENCE);
            EXPECT_EQ(lines[i].rfind("$CRNRX,", 0), 0u);
        }
    }

    // What is not known is left empty; the frequency index follows the table.
    nmea_nrx_msg odd;
    odd.freq_khz = 424;
    odd.ident = "F*12";
    odd.correct = true;
    auto lines = nmea_nrx_sentences(odd, 7);
    ASSERT_EQ(lines.size(), 1u);
    nmea_nrx_read r;
    ASSERT_TRUE(nmea_nrx_parse(lines, r));
    EXPECT_EQ(r.ident, "");
    EXPECT_EQ(r.freq_index, -1);
    EXPECT_EQ(r.time + r.day + r.month + r.year, "");
    EXPECT_EQ(r.total, 0);
    EXPECT_EQ(r.status, 'A');
    EXPECT_EQ(field13(lines[0]), "");
    odd.freq_khz = 4209;
    ASSERT_TRUE(nmea_nrx_parse(nmea_nrx_sentences(odd, 7), r));
    EXPECT_EQ(r.freq_index, 3);

    // Past 999 sentences the text is cut and the counts say so.
    nmea_nrx_msg huge;
    huge.text = std::string(60000, '*');
    lines = nmea_nrx_sentences(huge, 1);
    ASSERT_EQ(lines.size(), 999u);
    ASSERT_TRUE(nmea_nrx_parse(lines, r));
    EXPECT_EQ(r.text, huge.text.substr(0, r.text.size()));
    EXPECT_EQ(r.bad, r.total);

    // The reader refuses sentences out of order or with following-sentence fields.
    nmea_nrx_msg two;
    two.freq_khz = 490;
    two.text = std::string(120, 'Q');
    lines = nmea_nrx_sentences(two, 0);
    ASSERT_EQ(lines.size(), 3u);
    std::swap(lines[1], lines[2]);
    EXPECT_FALSE(nmea_nrx_parse(lines, r));
}

TEST(Nmea, NrmReportsQueriesAndCommands)
{
    nmea_masks masks;
    masks.area[0] = 0x0000001f;
    masks.type[2] = 0x03ffff00;
    const auto report = nmea_nrm_report(masks);
    ASSERT_EQ(report.size(), 9u);
    std::array<int, 4> per_function{};
    for (const std::string &line : report) {
        nmea_fields f;
        ASSERT_TRUE(nmea_parse_sentence(line, f)) << line;
        ASSERT_EQ(f.formatter, "NRM");
        ASSERT_EQ(f.fields.size(), 5u);
        EXPECT_EQ(f.fields[4], "R");
        const int fn = std::atoi(f.fields[0].c_str()), idx = std::atoi(f.fields[1].c_str());
        ASSERT_TRUE(fn >= 1 && fn <= 3 && idx >= 1 && idx <= 3);
        ++per_function[fn];
        EXPECT_EQ(std::stoul(f.fields[2], nullptr, 16), masks.area[idx - 1]);
        EXPECT_EQ(std::stoul(f.fields[3], nullptr, 16), masks.type[idx - 1]);
        // Our own reports are not commands to us.
        EXPECT_EQ(nmea_parse_request(line).kind, nmea_request_kind::none);
    }
    EXPECT_EQ(per_function[1] + per_function[2] + per_function[3], 9);
    EXPECT_EQ(nmea_nrm_report(masks, 2).size(), 3u);

    EXPECT_EQ(nmea_parse_request(nmea_sentence("--CRQ,NRM")).kind, nmea_request_kind::query);
    EXPECT_EQ(nmea_parse_request(" " + nmea_sentence("ECCRQ,NRM")).kind, nmea_request_kind::query);
    auto q = nmea_parse_request(nmea_sentence("IINRM,0,3,,,"));
    EXPECT_EQ(q.kind, nmea_request_kind::query);
    EXPECT_EQ(q.nrm.freq_index, 3);

    nmea_nrm cmd;
    cmd.function = 3;
    cmd.freq_index = 2;
    cmd.area = 0x02000001;
    cmd.type = 0x00000800;
    cmd.status = 'C';
    auto c = nmea_parse_request(nmea_nrm_sentence(cmd));
    ASSERT_EQ(c.kind, nmea_request_kind::configure);
    EXPECT_EQ(c.nrm.function, 3);
    EXPECT_EQ(c.nrm.freq_index, 2);
    EXPECT_EQ(c.nrm.area, cmd.area);
    EXPECT_EQ(c.nrm.type, cmd.type);
    EXPECT_TRUE(c.nrm.has_area && c.nrm.has_type);
    // Status flag left out, lower-case hex, high bits and an empty mask.
    std::string line = nmea_sentence("ECNRM,1,1,fc000003,");
    for (size_t i = line.size() - 4; i < line.size() - 2; ++i)
        line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    c = nmea_parse_request(line);
    ASSERT_EQ(c.kind, nmea_request_kind::configure) << line;
    EXPECT_EQ(c.nrm.area, 3u);
    EXPECT_FALSE(c.nrm.has_type);

    for (const char *no : {"ECNRM,4,1,00000001,00000001,C", "ECNRM,1,0,00000001,00000001,C",
                           "ECNRM,1,4,00000001,00000001,C", "ECNRM,1,1,0000000G,00000001,C",
                           "ECNRM,1,1,000000001,00000001,C", "ECNRM,1,1,1,1,X", "ECNRM,1,1,1",
                           "ECCRQ,NRX"})
        EXPECT_EQ(nmea_parse_request(nmea_sentence(no)).kind, nmea_request_kind::none) << no;
    std::string broken = nmea_nrm_sentence(cmd);
    broken[8] = '2';
    EXPECT_EQ(nmea_parse_request(broken).kind, nmea_request_kind::none);
    EXPECT_EQ(nmea_parse_request("$ECNRM,1,1,1,1,C").kind, nmea_request_kind::none);
}

TEST(Nmea, MasksFollowAndChangeTheSettings)
{
    // The settings code warns about the keys this file leaves out.
    g_log_set_default_handler([](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    char dir[] = "/tmp/nmea-settings-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/tovane.conf";
    std::ofstream(path) << "[coast-stations]\nfilter-490=\nfilter-518=F;K;\nfilter-4209=\n"
                           "[message-filter]\nfilter-490=C;\nfilter-518=A;E;\nfilter-4209=\n";

    auto fresh = [](std::array<std::array<int, 26>, 6> &t, letter_select &st, letter_select &ty,
                    settings_obj &s) {
        for (auto &a : t)
            a.fill(0);
        st = {t[0].data(), t[1].data(), t[2].data(), 26};
        ty = {t[3].data(), t[4].data(), t[5].data(), 26};
        s = settings_obj{};
        message_filter_init(&s.filters);
        s.coast_stations = &st;
        s.message_types = &ty;
    };
    std::array<std::array<int, 26>, 6> tabs;
    letter_select st, ty;
    settings_obj s;
    fresh(tabs, st, ty, s);
    ASSERT_EQ(settings_load(&s, path.c_str()), 1);

    auto bit = [](char letter) { return 1u << (letter - 'A'); };
    nmea_masks m = nmea_masks_from_settings(s);
    EXPECT_EQ(m.area[1], NMEA_MASK_LETTERS & ~bit('F') & ~bit('K'));
    EXPECT_EQ(m.area[0], NMEA_MASK_LETTERS);
    EXPECT_EQ(m.type[0], NMEA_MASK_LETTERS & ~bit('C'));
    EXPECT_EQ(m.type[2] & bit('D'), bit('D'));
    EXPECT_EQ(m.type[1], NMEA_MASK_LETTERS & ~bit('E')); // A passes on 518 whatever the file says

    auto filtered = [&](int freq, const char *id) {
        filter_msg msg{};
        msg.freq = freq;
        std::snprintf(msg.ident, sizeof msg.ident, "%s", id);
        return message_filter(&s.filters, &msg);
    };
    ASSERT_EQ(filtered(518, "FE12"), 1);

    // Select F, deselect G on 518, types left as they are.
    nmea_nrm cmd;
    cmd.function = 1;
    cmd.freq_index = 2;
    cmd.area = NMEA_MASK_LETTERS & ~bit('G') & ~bit('K');
    cmd.has_type = false;
    EXPECT_EQ(nmea_masks_apply(s, cmd), 1);
    EXPECT_EQ(nmea_masks_apply(s, cmd), 0);
    EXPECT_EQ(filtered(518, "FH12"), 0);
    EXPECT_EQ(filtered(518, "GH12"), 1);
    EXPECT_EQ(filtered(490, "GH12"), 0); // other frequencies untouched
    // Every type deselected on 518: A, B, D and L stay.
    cmd.type = 0;
    cmd.has_type = true;
    EXPECT_EQ(nmea_masks_apply(s, cmd), 1);
    EXPECT_EQ(filtered(518, "FH12"), 1);
    EXPECT_EQ(filtered(518, "FD12"), 0);
    EXPECT_EQ(filtered(518, "GA12"), 0);
    EXPECT_EQ(filtered(490, "FH12"), 0);
    m = nmea_masks_from_settings(s);
    EXPECT_EQ(m.area[1], cmd.area);
    EXPECT_EQ(m.type[1], bit('A') | bit('B') | bit('D') | bit('L'));
    // The same four stay selected on 490 kHz, where the filter alone would drop them.
    cmd.freq_index = 1;
    EXPECT_EQ(nmea_masks_apply(s, cmd), 1);
    EXPECT_EQ(nmea_masks_from_settings(s).type[0], bit('A') | bit('B') | bit('D') | bit('L'));

    // Only the area given: types stay; a frequency without index is refused.
    nmea_nrm area_only = cmd;
    area_only.freq_index = 3;
    area_only.area = NMEA_MASK_LETTERS & ~bit('Z');
    area_only.has_type = false;
    EXPECT_EQ(nmea_masks_apply(s, area_only), 1);
    EXPECT_EQ(nmea_masks_from_settings(s).type[2], NMEA_MASK_LETTERS);
    area_only.freq_index = 0;
    EXPECT_EQ(nmea_masks_apply(s, area_only), -1);

    // Saved through the settings code, a fresh record reads the same masks.
    ASSERT_EQ(settings_save(&s, path.c_str()), 1);
    std::array<std::array<int, 26>, 6> tabs2;
    letter_select st2, ty2;
    settings_obj s2;
    fresh(tabs2, st2, ty2, s2);
    ASSERT_EQ(settings_load(&s2, path.c_str()), 1);
    const nmea_masks m2 = nmea_masks_from_settings(s2), m1 = nmea_masks_from_settings(s);
    for (int i = 0; i < NMEA_FREQS; ++i) {
        EXPECT_EQ(m2.area[i], m1.area[i]);
        EXPECT_EQ(m2.type[i], m1.type[i]);
    }
    message_filter_free(&s.filters);
    message_filter_free(&s2.filters);
    settings_free(&s);
    settings_free(&s2);
    unlink(path.c_str());
    rmdir(dir);
}
