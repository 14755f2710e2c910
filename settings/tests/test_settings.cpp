// Settings store: reading with fallbacks, letter lists and their filters,
// saving new and existing files, and a full round trip.
#include "navtex_settings/settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Six letter tables with one guard cell on each side, so that a write
// outside a table shows.
struct Tables {
    static constexpr int guard = -7;
    explicit Tables(int letters = SETTINGS_LETTERS)
    {
        for (auto &c : cells)
            c.fill(0), c.front() = guard, c.back() = guard;
        stations = {cells[0].data() + 1, cells[1].data() + 1, cells[2].data() + 1, letters};
        types = {cells[3].data() + 1, cells[4].data() + 1, cells[5].data() + 1, letters};
    }
    bool guards_intact() const
    {
        return std::all_of(cells.begin(), cells.end(),
                           [](const auto &c) { return c.front() == guard && c.back() == guard; });
    }
    std::array<std::array<int, SETTINGS_LETTERS + 2>, 6> cells{};
    letter_select stations{};
    letter_select types{};
};

const char *const complete_file =
    "[general]\n"
    "db-path=/data/messages.db\n"
    "sound-enabled=false\nkey-sound-enabled=false\nalarm-sound-enabled=false\n"
    "printer-enabled=true\nprinter-cut-paper=true\ngps-enabled=true\n"
    "ecdis-enabled=true\necdis-ignore-ack=true\ngps-time-enabled=true\n"
    "antenna-power-enabled=true\nbrightness=10\ncontrast=-20\nvisible-messages=30\n"
    "[coast-stations]\nfilter-490=B;\nfilter-518=A;E;\nfilter-4209=\n"
    "[message-filter]\nfilter-490=\nfilter-518=\nfilter-4209=D;Z;\n";

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.path().empty());
        attach(rec, tables);
    }
    void TearDown() override
    {
        settings_free(&rec);
        message_filter_free(&rec.filters);
        EXPECT_TRUE(tables.guards_intact());
    }
    static void attach(settings_obj &r, Tables &t)
    {
        message_filter_init(&r.filters);
        r.coast_stations = &t.stations;
        r.message_types = &t.types;
    }
    // Values that differ from every fallback.
    void preset()
    {
        rec.brightness = 1;
        rec.contrast = 2;
        rec.visible_messages = 3;
        rec.sound_enabled = rec.key_sound_enabled = rec.alarm_sound_enabled = FALSE;
        rec.printer_enabled = rec.printer_cut_paper = rec.antenna_power_enabled = TRUE;
        rec.gps_enabled = rec.gps_time_enabled = rec.ecdis_enabled = rec.ecdis_ignore_ack = TRUE;
        g_free(rec.db_path);
        rec.db_path = g_strdup("/old/path.db");
    }
    void expect_fallbacks() const
    {
        EXPECT_EQ(rec.brightness, 165);
        EXPECT_EQ(rec.contrast, 140);
        EXPECT_EQ(rec.visible_messages, 120);
        EXPECT_STREQ(rec.db_path, "/jffs2/navtex.db");
        for (gboolean b : {rec.sound_enabled, rec.key_sound_enabled, rec.alarm_sound_enabled})
            EXPECT_EQ(b, 1);
        for (gboolean b : {rec.printer_enabled, rec.printer_cut_paper, rec.antenna_power_enabled,
                           rec.gps_enabled, rec.gps_time_enabled, rec.ecdis_enabled,
                           rec.ecdis_ignore_ack})
            EXPECT_EQ(b, 0);
    }
    int load(const std::string &text)
    {
        write_text(path, text);
        return settings_load(&rec, path.c_str());
    }

    ScratchDir dir;
    std::string path = dir.file("tovane.conf");
    Tables tables;
    settings_obj rec{};
    LogCapture log;
};

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    gchar **split = g_strsplit(text.c_str(), "\n", -1);
    for (gchar **p = split; *p; ++p)
        if (**p)
            out.emplace_back(*p);
    g_strfreev(split);
    return out;
}

long index_of(const std::vector<std::string> &lines, const std::string &line)
{
    auto it = std::find(lines.begin(), lines.end(), line);
    return it == lines.end() ? -1 : it - lines.begin();
}

// ---- reading ----

TEST_F(Settings, LoadsEveryKeyOfACompleteFile)
{
    ASSERT_EQ(load(complete_file), 1);
    EXPECT_EQ(rec.brightness, 10);
    EXPECT_EQ(rec.contrast, -20);
    EXPECT_EQ(rec.visible_messages, 30);
    EXPECT_STREQ(rec.db_path, "/data/messages.db");
    for (gboolean b : {rec.sound_enabled, rec.key_sound_enabled, rec.alarm_sound_enabled})
        EXPECT_EQ(b, 0);
    for (gboolean b : {rec.printer_enabled, rec.printer_cut_paper, rec.antenna_power_enabled,
                       rec.gps_enabled, rec.gps_time_enabled, rec.ecdis_enabled,
                       rec.ecdis_ignore_ack})
        EXPECT_EQ(b, 1);
    EXPECT_EQ(tables.stations.tab_490[1], 1);
    EXPECT_EQ(tables.types.tab_4209[3], 1);
    EXPECT_EQ(tables.types.tab_4209[25], 1);
    EXPECT_EQ(message_filter_has_station(&rec.filters, 490, "B"), 1);
    EXPECT_EQ(message_filter_has_type(&rec.filters, 4209, "Z"), 1);
    EXPECT_EQ(g_slist_length(rec.filters.pattern_list), 5u);

    EXPECT_TRUE(log.at(G_LOG_LEVEL_WARNING).empty());
    EXPECT_TRUE(log.at(G_LOG_LEVEL_MESSAGE).empty());
    ASSERT_EQ(log.at(G_LOG_LEVEL_DEBUG).size(), 1u);
    EXPECT_EQ(log.at(G_LOG_LEVEL_DEBUG)[0], "Loading configuration from " + path);
    EXPECT_FALSE(log.any_domain());
}

TEST_F(Settings, FileWithoutGeneralFallsBackKeyByKey)
{
    preset();
    ASSERT_EQ(load("[coast-stations]\nfilter-490=\nfilter-518=\nfilter-4209=\n"
                   "[message-filter]\nfilter-490=\nfilter-518=\nfilter-4209=\n"),
              1);
    expect_fallbacks();
    const auto warnings = log.at(G_LOG_LEVEL_WARNING);
    ASSERT_EQ(warnings.size(), 15u);
    EXPECT_EQ(warnings[0], "Config-file does not contain a group called [general]");
    for (size_t i = 1; i < warnings.size(); ++i)
        EXPECT_NE(warnings[i].find("general"), std::string::npos) << warnings[i];
    EXPECT_TRUE(log.at(G_LOG_LEVEL_MESSAGE).empty());
}

TEST_F(Settings, FileWithoutCoastStationsKeepsStationTables)
{
    tables.stations.tab_518[3] = 1;
    tables.stations.tab_490[0] = 5;
    std::string text = complete_file;
    text.erase(text.find("[coast-stations]"), text.find("[message-filter]") - text.find("[coast-stations]"));
    ASSERT_EQ(load(text), 1);

    const auto warnings = log.at(G_LOG_LEVEL_WARNING);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "Config-file does not contain a group called [coast-stations]");
    EXPECT_EQ(log.at(G_LOG_LEVEL_MESSAGE).size(), 3u);
    EXPECT_EQ(message_filter_has_station(&rec.filters, 518, "D"), 0);
    EXPECT_EQ(g_slist_length(rec.filters.pattern_list), 2u) << "only the two type filters";
    EXPECT_EQ(tables.stations.tab_518[3], 1);
    EXPECT_EQ(tables.stations.tab_490[0], 5);
    EXPECT_EQ(std::count(tables.stations.tab_4209, tables.stations.tab_4209 + 26, 0), 26);
}

TEST_F(Settings, MalformedAndMissingValuesTakeTheirFallbacks)
{
    preset();
    ASSERT_EQ(load("[general]\ncontrast=abc\nbrightness=12\nvisible-messages=7x\n"
                   "db-path=/x.db\nsound-enabled=maybe\nalarm-sound-enabled=false\n"
                   "printer-enabled=yes\ngps-enabled=true\necdis-enabled=true\n"
                   "ecdis-ignore-ack=true\ngps-time-enabled=true\nprinter-cut-paper=true\n"
                   "antenna-power-enabled=true\n"),
              1);
    EXPECT_EQ(rec.contrast, 140);
    EXPECT_EQ(rec.brightness, 12);
    EXPECT_EQ(rec.visible_messages, 120);
    EXPECT_EQ(rec.sound_enabled, 1);
    EXPECT_EQ(rec.key_sound_enabled, 1) << "missing key";
    EXPECT_EQ(rec.alarm_sound_enabled, 0);
    EXPECT_EQ(rec.printer_enabled, 0);
    EXPECT_EQ(rec.gps_enabled, 1);
    EXPECT_STREQ(rec.db_path, "/x.db");
    // contrast, visible-messages, sound-enabled, key-sound-enabled and
    // printer-enabled; then the two missing list groups.
    EXPECT_EQ(log.at(G_LOG_LEVEL_WARNING).size(), 5u + 2u);
}

TEST_F(Settings, EmptyDbPathLoadsAsTheDefaultPath)
{
    preset();
    ASSERT_EQ(load("[general]\ndb-path=\n"), 1);
    EXPECT_STREQ(rec.db_path, "/jffs2/navtex.db");
    for (const std::string &w : log.at(G_LOG_LEVEL_WARNING))
        EXPECT_EQ(w.find("db-path"), std::string::npos) << "an empty path is not an error: " << w;
}

TEST_F(Settings, LetterListSetsEntriesAndRegistersFiltersOnce)
{
    tables.stations.tab_518[1] = 1;
    tables.stations.tab_518[2] = 7;
    const std::string text = "[coast-stations]\nfilter-518=A;E;\n";
    ASSERT_EQ(load(text), 1);
    EXPECT_EQ(tables.stations.tab_518[0], 1);
    EXPECT_EQ(tables.stations.tab_518[4], 1);
    EXPECT_EQ(tables.stations.tab_518[1], 1);
    EXPECT_EQ(tables.stations.tab_518[2], 7);
    EXPECT_EQ(std::count(tables.stations.tab_518, tables.stations.tab_518 + 26, 0), 22);
    EXPECT_EQ(std::count(tables.stations.tab_490, tables.stations.tab_490 + 26, 0), 26);
    ASSERT_EQ(g_slist_length(rec.filters.pattern_list), 2u);
    EXPECT_EQ(message_filter_has_station(&rec.filters, 518, "A"), 1);
    EXPECT_EQ(message_filter_has_station(&rec.filters, 518, "E"), 1);

    ASSERT_EQ(load(text), 1);
    EXPECT_EQ(g_slist_length(rec.filters.pattern_list), 2u);
}

TEST_F(Settings, ItemsOutsideTheTableOrRefusedByTheFilterAreIgnored)
{
    Tables small(5); // letters A to E
    rec.coast_stations = &small.stations;
    rec.message_types = &small.types;
    const std::string long_item = "A" + std::string(31, 'B');
    ASSERT_EQ(load("[message-filter]\nfilter-4209=a;F;Z;[;;@;\xc3\xa9;B;" + long_item + ";\n"), 1);
    EXPECT_TRUE(small.guards_intact());
    EXPECT_EQ(small.types.tab_4209[1], 1);
    EXPECT_EQ(small.types.tab_4209[0], 0) << "the refused set marks nothing";
    EXPECT_EQ(std::count(small.types.tab_4209, small.types.tab_4209 + 5, 0), 4);
    ASSERT_EQ(g_slist_length(rec.filters.pattern_list), 1u);
    EXPECT_EQ(message_filter_has_type(&rec.filters, 4209, "B"), 1);
    // Eight items ignored, each said once.
    size_t ignored = 0;
    for (const std::string &m : log.at(G_LOG_LEVEL_MESSAGE))
        ignored += m.rfind("Ignoring", 0) == 0;
    EXPECT_EQ(ignored, 8u);
}

TEST_F(Settings, ListsForAMissingLetterSelectAreIgnored)
{
    rec.coast_stations = nullptr;
    ASSERT_EQ(load(complete_file), 1);
    EXPECT_EQ(g_slist_length(rec.filters.pattern_list), 2u) << "the type filters only";
}

TEST_F(Settings, UnloadableFileLeavesRecordUnchanged)
{
    preset();
    EXPECT_EQ(settings_load(&rec, dir.file("absent.conf").c_str()), 0);
    EXPECT_EQ(load("this is no key file\n"), 0);
    const auto critical = log.at(G_LOG_LEVEL_CRITICAL);
    ASSERT_EQ(critical.size(), 2u);
    EXPECT_EQ(critical[0].rfind("Loading config-file '" + dir.file("absent.conf") + "' failed: ", 0), 0u)
        << critical[0];
    EXPECT_EQ(rec.brightness, 1);
    EXPECT_EQ(rec.sound_enabled, 0);
    EXPECT_STREQ(rec.db_path, "/old/path.db");
}

// ---- letter lists ----

TEST(LettersFromTable, ListsSelectedLettersInOrder)
{
    int table[SETTINGS_LETTERS] = {};
    int count = -1;
    gchar **none = letters_from_table(table, SETTINGS_LETTERS, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(none[0], nullptr);
    g_strfreev(none);

    table[25] = 1;
    table[0] = 1;
    table[3] = 2; // only 1 selects
    gchar **some = letters_from_table(table, SETTINGS_LETTERS, &count);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(some[0], "A");
    EXPECT_STREQ(some[1], "Z");
    EXPECT_EQ(some[2], nullptr);
    g_strfreev(some);

    std::fill(std::begin(table), std::end(table), 1);
    gchar **all = letters_from_table(table, SETTINGS_LETTERS, &count);
    ASSERT_EQ(count, 26);
    gchar *joined = g_strjoinv("", all);
    EXPECT_STREQ(joined, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    g_free(joined);
    EXPECT_EQ(all[26], nullptr);
    g_strfreev(all);

    gchar **short_table = letters_from_table(table, 3, &count);
    EXPECT_EQ(count, 3);
    g_strfreev(short_table);
}

// ---- saving ----

TEST_F(Settings, SaveCreatesANewFileWithGroupsInOrder)
{
    preset();
    tables.stations.tab_518[0] = tables.stations.tab_518[4] = 1;
    std::fill(tables.types.tab_490, tables.types.tab_490 + 26, 1);
    ASSERT_EQ(settings_save(&rec, path.c_str()), 1);

    const auto critical = log.at(G_LOG_LEVEL_CRITICAL);
    ASSERT_EQ(critical.size(), 1u);
    EXPECT_EQ(critical[0].rfind("Loading config-file '" + path + "' failed: ", 0), 0u) << critical[0];

    const auto lines = lines_of(read_text(path));
    const std::vector<std::string> expected = {
        "[general]",
        "db-path=/old/path.db",
        "sound-enabled=false",
        "key-sound-enabled=false",
        "alarm-sound-enabled=false",
        "printer-enabled=true",
        "printer-cut-paper=true",
        "gps-enabled=true",
        "ecdis-enabled=true",
        "ecdis-ignore-ack=true",
        "gps-time-enabled=true",
        "antenna-power-enabled=true",
        "brightness=1",
        "contrast=2",
        "visible-messages=3",
        "[coast-stations]",
        "filter-490=",
        "filter-518=A;E;",
        "filter-4209=",
        "[message-filter]",
        "filter-490=A;B;C;D;E;F;G;H;I;J;K;L;M;N;O;P;Q;R;S;T;U;V;W;X;Y;Z;",
        "filter-518=",
        "filter-4209=",
    };
    EXPECT_EQ(lines, expected);
    // The save reads its own result back: the filters are registered.
    EXPECT_EQ(g_slist_length(rec.filters.pattern_list), 2u + 26u);
}

TEST_F(Settings, SaveWritesDefaultsForMissingPathAndLetterSelects)
{
    rec.coast_stations = nullptr;
    rec.message_types = nullptr;
    ASSERT_EQ(settings_save(&rec, path.c_str()), 1);
    const auto lines = lines_of(read_text(path));
    EXPECT_GE(index_of(lines, "db-path=/jffs2/navtex.db"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "filter-518="), 2);
    EXPECT_STREQ(rec.db_path, "/jffs2/navtex.db");
}

TEST_F(Settings, SaveKeepsUnknownGroupsAndKeysButNotComments)
{
    write_text(path, "# written by hand\n"
                     "[display]\ntheme=night\n"
                     "[general]\nbrightness=99\nlanguage=de\n"
                     "[coast-stations]\nfilter-490=Z;\n");
    rec.brightness = 50;
    ASSERT_EQ(settings_save(&rec, path.c_str()), 1);
    EXPECT_TRUE(log.at(G_LOG_LEVEL_CRITICAL).empty());

    const std::string text = read_text(path);
    EXPECT_EQ(text.find("written by hand"), std::string::npos);
    const auto lines = lines_of(text);
    EXPECT_EQ(index_of(lines, "[display]"), 0);
    EXPECT_EQ(index_of(lines, "theme=night"), 1);
    const long general = index_of(lines, "[general]");
    EXPECT_EQ(index_of(lines, "brightness=50"), general + 1) << "an existing key keeps its place";
    EXPECT_EQ(index_of(lines, "language=de"), general + 2);
    EXPECT_EQ(index_of(lines, "db-path=/jffs2/navtex.db"), general + 3);
    // The record's empty table replaces the file's list.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "filter-490="), 2);
    EXPECT_LT(index_of(lines, "[coast-stations]"), index_of(lines, "[message-filter]"));
    EXPECT_EQ(rec.filters.pattern_list, nullptr);
}

TEST_F(Settings, SaveOverAMalformedFileStartsEmpty)
{
    write_text(path, "[kept]\na=1\nnot a key line\n");
    ASSERT_EQ(settings_save(&rec, path.c_str()), 1);
    EXPECT_EQ(log.at(G_LOG_LEVEL_CRITICAL).size(), 1u);
    const auto lines = lines_of(read_text(path));
    EXPECT_EQ(index_of(lines, "[general]"), 0);
    EXPECT_EQ(index_of(lines, "[kept]"), -1);
}

TEST_F(Settings, SaveToAPathThatIsAFolderFails)
{
    const std::string folder = dir.file("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    write_text(folder + "/inside", "x");
    EXPECT_EQ(settings_save(&rec, folder.c_str()), -1);
    const auto warnings = log.at(G_LOG_LEVEL_WARNING);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back(), "Could not open file: " + folder);
    EXPECT_EQ(read_text(folder + "/inside"), "x");
}

TEST_F(Settings, SaveToAReadOnlyFileFailsAndLeavesItIntact)
{
    const std::string old_text = "[general]\nbrightness=7\n";
    write_text(path, old_text);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(settings_save(&rec, path.c_str()), -1);
        EXPECT_EQ(log.at(G_LOG_LEVEL_WARNING).back(), "Could not open file: " + path);
    } else {
        // The superuser writes any file: save as an unprivileged user instead.
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            _exit(settings_save(&rec, path.c_str()) == -1 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 3)
            GTEST_SKIP() << "cannot switch to an unprivileged user to make the file unwritable";
        EXPECT_EQ(WEXITSTATUS(status), 0) << "settings_save did not return -1";
    }
    EXPECT_EQ(read_text(path), old_text);
}

TEST_F(Settings, SaveToAFullDeviceReportsTheFailedClose)
{
    // /dev/full takes the buffered write and fails the flush at close.
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/full";
    EXPECT_EQ(settings_save(&rec, "/dev/full"), -1);
    const auto warnings = log.at(G_LOG_LEVEL_WARNING);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back(), std::string("Could not write file: /dev/full: ") + g_strerror(ENOSPC));
}

TEST_F(Settings, LoadSaveLoadRoundTrip)
{
    ASSERT_EQ(load(complete_file), 1);
    tables.stations.tab_4209[2] = 1;
    rec.visible_messages = 77;
    const std::string second = dir.file("second.conf");
    ASSERT_EQ(settings_save(&rec, second.c_str()), 1);

    Tables again_tables;
    settings_obj again{};
    attach(again, again_tables);
    ASSERT_EQ(settings_load(&again, second.c_str()), 1);
    EXPECT_EQ(again.brightness, rec.brightness);
    EXPECT_EQ(again.contrast, rec.contrast);
    EXPECT_EQ(again.visible_messages, 77);
    EXPECT_STREQ(again.db_path, rec.db_path);
    for (auto member : {&settings_obj::sound_enabled, &settings_obj::key_sound_enabled,
                        &settings_obj::alarm_sound_enabled, &settings_obj::printer_enabled,
                        &settings_obj::printer_cut_paper, &settings_obj::antenna_power_enabled,
                        &settings_obj::gps_enabled, &settings_obj::gps_time_enabled,
                        &settings_obj::ecdis_enabled, &settings_obj::ecdis_ignore_ack})
        EXPECT_EQ(again.*member, rec.*member);
    EXPECT_EQ(again_tables.cells, tables.cells);
    EXPECT_EQ(g_slist_length(again.filters.pattern_list), 6u);
    EXPECT_EQ(message_filter_has_station(&again.filters, 4209, "C"), 1);

    // Saving what was loaded gives the same file.
    const std::string third = dir.file("third.conf");
    ASSERT_EQ(settings_save(&again, third.c_str()), 1);
    EXPECT_EQ(read_text(third), read_text(second));
    settings_free(&again);
    message_filter_free(&again.filters);
    EXPECT_EQ(again.db_path, nullptr);
}

} // namespace
