// Message filter: adding, finding and removing filters, the 518 kHz
// protection, frequency filters and the debug lines.
#include "navtex_settings/message_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

filter_msg make_msg(int freq, const char *ident)
{
    filter_msg msg{};
    msg.freq = freq;
    g_strlcpy(msg.ident, ident, sizeof msg.ident);
    return msg;
}

class MessageFilter : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(message_filter_init(&filters), 1); }
    void TearDown() override { message_filter_free(&filters); }

    int filtered(int freq, const char *ident)
    {
        filter_msg msg = make_msg(freq, ident);
        return message_filter(&filters, &msg);
    }

    filter_obj filters{};
    LogCapture log;
};

// True when the whole text matches pattern; groups receives the captures.
bool full_match(const char *pattern, const std::string &text,
                std::vector<std::string> *groups = nullptr)
{
    const std::string anchored = std::string("^(?:") + pattern + ")$";
    GRegex *re = g_regex_new(anchored.c_str(), static_cast<GRegexCompileFlags>(0),
                             static_cast<GRegexMatchFlags>(0), nullptr);
    if (!re)
        return false;
    GMatchInfo *info = nullptr;
    const bool ok = g_regex_match(re, text.c_str(), static_cast<GRegexMatchFlags>(0), &info);
    if (ok && groups) {
        groups->clear();
        for (int i = 1; i < g_match_info_get_match_count(info); ++i) {
            gchar *captured = g_match_info_fetch(info, i);
            groups->push_back(captured ? captured : "");
            g_free(captured);
        }
    }
    g_match_info_free(info);
    g_regex_unref(re);
    return ok;
}

// Line n (from 1) of the filter's source, to check the line a message names.
std::string source_line(const std::string &number)
{
    std::ifstream in(MESSAGE_FILTER_SOURCE);
    std::string line;
    for (long n = std::stol(number); n > 0 && std::getline(in, line); --n)
        ;
    return line;
}

const filter_entry *entry_at(GSList *list, guint index)
{
    return static_cast<const filter_entry *>(g_slist_nth_data(list, index));
}

TEST_F(MessageFilter, AddsStationAndTypeFiltersOncePerFrequency)
{
    EXPECT_EQ(message_filter_add_station(&filters, 518, "F"), 1);
    EXPECT_EQ(message_filter_add_station(&filters, 518, "F"), 1);
    EXPECT_EQ(g_slist_length(filters.pattern_list), 1u);
    EXPECT_EQ(message_filter_add_station(&filters, 490, "F"), 1);
    EXPECT_EQ(message_filter_add_type(&filters, 518, "F"), 1);
    ASSERT_EQ(g_slist_length(filters.pattern_list), 3u);

    // Appended in the order of adding, each active and bound to its frequency.
    EXPECT_STREQ(entry_at(filters.pattern_list, 0)->pattern, "^[F][A-Z][0-9][0-9]");
    EXPECT_EQ(entry_at(filters.pattern_list, 0)->freq, 518);
    EXPECT_EQ(entry_at(filters.pattern_list, 1)->freq, 490);
    EXPECT_STREQ(entry_at(filters.pattern_list, 2)->pattern, "^[A-Z][F][0-9][0-9]");
    for (GSList *l = filters.pattern_list; l; l = l->next)
        EXPECT_EQ(static_cast<filter_entry *>(l->data)->active, 1);

    EXPECT_EQ(message_filter_has_station(&filters, 518, "F"), 1);
    EXPECT_EQ(message_filter_has_station(&filters, 4209, "F"), 0);
    EXPECT_EQ(message_filter_has_station(&filters, 518, "G"), 0);
    EXPECT_EQ(message_filter_has_type(&filters, 490, "F"), 0);
    EXPECT_EQ(message_filter_has_type(&filters, 518, "F"), 1);
    EXPECT_EQ(filters.freq_list, nullptr);
}

TEST_F(MessageFilter, RemovesOnlyTheMatchingKindAndFrequency)
{
    message_filter_add_station(&filters, 518, "F");
    message_filter_add_station(&filters, 490, "F");
    message_filter_add_type(&filters, 518, "F");
    message_filter_add_station(&filters, 518, "G");

    message_filter_remove_station(&filters, 518, "F");
    EXPECT_EQ(message_filter_has_station(&filters, 518, "F"), 0);
    EXPECT_EQ(message_filter_has_station(&filters, 490, "F"), 1);
    EXPECT_EQ(message_filter_has_type(&filters, 518, "F"), 1);
    EXPECT_EQ(message_filter_has_station(&filters, 518, "G"), 1);

    message_filter_remove_type(&filters, 518, "F");
    message_filter_remove_station(&filters, 518, "Q"); // absent: nothing happens
    ASSERT_EQ(g_slist_length(filters.pattern_list), 2u);
    EXPECT_EQ(entry_at(filters.pattern_list, 0)->freq, 490);
    EXPECT_STREQ(entry_at(filters.pattern_list, 1)->pattern, "^[G][A-Z][0-9][0-9]");
}

TEST_F(MessageFilter, LetterSetsLongerThan31AreRefused)
{
    const std::string longest(31, 'K');
    EXPECT_EQ(message_filter_add_station(&filters, 518, longest.c_str()), 1);
    ASSERT_EQ(g_slist_length(filters.pattern_list), 1u);
    EXPECT_EQ(strlen(entry_at(filters.pattern_list, 0)->pattern), 49u);

    const std::string too_long(32, 'K');
    EXPECT_EQ(message_filter_add_station(&filters, 518, too_long.c_str()), 0);
    EXPECT_EQ(message_filter_add_type(&filters, 518, too_long.c_str()), 0);
    EXPECT_EQ(message_filter_add_station(&filters, 518, ""), 0);
    EXPECT_EQ(message_filter_add_type(&filters, 518, nullptr), 0);
    EXPECT_EQ(g_slist_length(filters.pattern_list), 1u);
}

TEST_F(MessageFilter, ProtectsTypesABDLAndSerial00On518Only)
{
    message_filter_add_station(&filters, 518, "F");
    message_filter_add_station(&filters, 490, "F");

    EXPECT_EQ(filtered(518, "FA12"), 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, G_LOG_LEVEL_DEBUG);
    EXPECT_FALSE(log.lines[0].has_domain);
    std::vector<std::string> groups;
    ASSERT_TRUE(full_match(
        R"(message_filter\(\):([1-9][0-9]*) - Message cannot be filtered \(B2 is A,B,D,L or B3-4 is 00\))",
        log.lines[0].text, &groups))
        << log.lines[0].text;
    EXPECT_NE(source_line(groups[0]).find("Message cannot be filtered"), std::string::npos);

    for (const char *ident : {"FB12", "FD12", "FL12", "FE00", "F,12"})
        EXPECT_EQ(filtered(518, ident), 0) << ident;
    EXPECT_EQ(filtered(518, "FE12"), 1);

    log.clear();
    EXPECT_EQ(filtered(490, "FA12"), 1);
    EXPECT_EQ(filtered(490, "FE00"), 1);
    ASSERT_EQ(log.at(G_LOG_LEVEL_DEBUG).size(), 2u);
    EXPECT_EQ(log.lines[0].text, "Filter message FA12 (^[F][A-Z][0-9][0-9])");
    EXPECT_FALSE(log.any_domain());
}

TEST_F(MessageFilter, StationFilterAppliesToItsFrequencyOnly)
{
    message_filter_add_station(&filters, 518, "FG");
    EXPECT_EQ(filtered(518, "GE12"), 1);
    EXPECT_EQ(filtered(490, "GE12"), 0);
    EXPECT_EQ(filtered(4209, "GE12"), 0);
    EXPECT_EQ(filtered(518, "HE12"), 0);
    // B3 B4 must be digits.
    EXPECT_EQ(filtered(518, "GEX2"), 0);
}

TEST_F(MessageFilter, TypeFilterMatchesSecondCharacter)
{
    message_filter_add_type(&filters, 4209, "EH");
    EXPECT_EQ(filtered(4209, "KH31"), 1);
    EXPECT_EQ(filtered(4209, "HK31"), 0);
    EXPECT_EQ(filtered(490, "KH31"), 0);
}

TEST_F(MessageFilter, FirstMatchingEntryNamesThePattern)
{
    message_filter_add_type(&filters, 490, "E");
    message_filter_add_station(&filters, 490, "K");
    EXPECT_EQ(filtered(490, "KE42"), 1);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].text, "Filter message KE42 (^[A-Z][E][0-9][0-9])");
}

TEST_F(MessageFilter, InactiveEntriesAreNotInForce)
{
    message_filter_add_station(&filters, 490, "K");
    message_filter_add_freq(&filters, "490");
    static_cast<filter_entry *>(filters.pattern_list->data)->active = 0;
    static_cast<filter_entry *>(filters.freq_list->data)->active = 2;
    EXPECT_EQ(filtered(490, "KE42"), 0);
    // The existence test does not look at active.
    EXPECT_EQ(message_filter_has_station(&filters, 490, "K"), 1);
}

TEST_F(MessageFilter, FrequencyFiltersMatchAnywhereInTheDecimalFrequency)
{
    EXPECT_EQ(message_filter_add_freq(&filters, "4"), 1);
    EXPECT_EQ(filtered(490, "KE42"), 1);
    EXPECT_EQ(filtered(4209, "KE42"), 1);
    EXPECT_EQ(filtered(518, "KE42"), 0);
    EXPECT_TRUE(log.lines.empty()) << "frequency filters log nothing";

    EXPECT_EQ(message_filter_add_freq(&filters, "518"), 1);
    EXPECT_EQ(message_filter_add_freq(&filters, "518"), 1);
    EXPECT_EQ(g_slist_length(filters.freq_list), 3u) << "no duplicate check";
    EXPECT_EQ(filtered(518, "KE42"), 1);
    EXPECT_EQ(filtered(518, "KA42"), 0) << "518 kHz protection comes first";
    EXPECT_EQ(filtered(518, "KE00"), 0);
    EXPECT_EQ(filters.pattern_list, nullptr);
}

TEST_F(MessageFilter, FlushRemovesStationAndTypeFiltersOnly)
{
    EXPECT_EQ(message_filter_flush_all(&filters), 0);
    ASSERT_EQ(log.lines.size(), 1u);
    const char *cleared = R"(message_filter_flush_all\(\):([1-9][0-9]*) - Cleared (\d+) filters)";
    std::vector<std::string> groups;
    ASSERT_TRUE(full_match(cleared, log.lines[0].text, &groups)) << log.lines[0].text;
    EXPECT_NE(source_line(groups[0]).find("Cleared %d filters"), std::string::npos);
    EXPECT_EQ(groups[1], "0");
    EXPECT_EQ(log.lines[0].level, G_LOG_LEVEL_DEBUG);

    message_filter_add_station(&filters, 490, "K");
    message_filter_add_type(&filters, 490, "E");
    message_filter_add_station(&filters, 518, "K");
    message_filter_add_freq(&filters, "4209");
    log.clear();
    EXPECT_EQ(message_filter_flush_all(&filters), 3);
    ASSERT_EQ(log.lines.size(), 1u);
    ASSERT_TRUE(full_match(cleared, log.lines[0].text, &groups)) << log.lines[0].text;
    EXPECT_EQ(groups[1], "3");
    EXPECT_EQ(filters.pattern_list, nullptr);
    EXPECT_EQ(filtered(490, "KE42"), 0);
    EXPECT_EQ(filtered(4209, "KE42"), 1);
}

TEST_F(MessageFilter, NoMatchPassesSilently)
{
    message_filter_add_station(&filters, 490, "K");
    message_filter_add_freq(&filters, "^4209$");
    EXPECT_EQ(filtered(490, "LE42"), 0);
    EXPECT_EQ(filtered(518, "KE42"), 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MessageFilter, IdentifierWithoutTerminatorIsReadWithinItsArray)
{
    message_filter_add_station(&filters, 490, "K");
    filter_msg msg{};
    msg.freq = 490;
    memset(msg.ident, 'K', sizeof msg.ident);
    EXPECT_EQ(message_filter(&filters, &msg), 0);
    memcpy(msg.ident, "KE42", 4);
    EXPECT_EQ(message_filter(&filters, &msg), 1);
}

TEST(MessageFilterFree, ReleasesAllThreeLists)
{
    filter_obj filters{}; // all-zero is a valid empty set
    message_filter_add_station(&filters, 490, "K");
    message_filter_add_freq(&filters, "4");
    auto *spare = g_new0(filter_entry, 1);
    spare->pattern = g_strdup("x");
    filters.spare_list = g_slist_append(filters.spare_list, spare);
    message_filter_free(&filters);
    EXPECT_EQ(filters.freq_list, nullptr);
    EXPECT_EQ(filters.pattern_list, nullptr);
    EXPECT_EQ(filters.spare_list, nullptr);
    // Under the address sanitizer a missed entry shows up as a leak.
}

TEST(MessageFilterMatch, MatchesBytesNotUtf8)
{
    EXPECT_EQ(message_filter_match("\xff\xfe" "AB", "\xfe" "A"), 1);
    EXPECT_EQ(message_filter_match("AB", "^B"), 0);
    EXPECT_EQ(message_filter_match("490", "9"), 1);
    // 0xC3 0xA9 is one character in UTF-8 but two bytes here.
    EXPECT_EQ(message_filter_match("\xc3\xa9", "^..$"), 1);
}

TEST(MessageFilterMatch, PatternThatDoesNotCompileMatchesNothing)
{
    LogCapture log;
    EXPECT_EQ(message_filter_match("KE42", "[K"), 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, G_LOG_LEVEL_DEBUG);
    EXPECT_EQ(log.lines[0].text.rfind("message_filter_match():", 0), 0u) << log.lines[0].text;
    EXPECT_EQ(message_filter_match(nullptr, "K"), 0);
}

} // namespace
