// Settings reader: any key file text read into a record with letter tables,
// saved, and loaded again; what was saved must load back unchanged.
#include "fuzz_support.h"
#include "navtex_settings/settings.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using fuzz::check;

namespace {

void quiet_log(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

// Letter tables of their exact size on the heap, so a letter outside
// 'A' .. 'Z' written into one is seen at once.
struct tables {
    std::unique_ptr<int[]> t[6];
    letter_select stations{};
    letter_select types{};
    tables()
    {
        for (auto &p : t)
            p = std::make_unique<int[]>(SETTINGS_LETTERS);
        stations = {t[0].get(), t[1].get(), t[2].get(), SETTINGS_LETTERS};
        types = {t[3].get(), t[4].get(), t[5].get(), SETTINGS_LETTERS};
    }
};

void attach(settings_obj &s, tables &tabs)
{
    s.coast_stations = &tabs.stations;
    s.message_types = &tabs.types;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("G_SLICE", "always-malloc", 1);
    g_log_set_default_handler(quiet_log, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    GKeyFile *kf = g_key_file_new();
    if (!g_key_file_load_from_data(kf, reinterpret_cast<const gchar *>(data), size,
                                   G_KEY_FILE_NONE, nullptr)) {
        g_key_file_free(kf);
        return 0;
    }
    tables first_tabs;
    settings_obj first{};
    attach(first, first_tabs);
    check(settings_read(&first, kf) == 1);
    g_key_file_free(kf);
    check(first.db_path != nullptr && first.db_path[0] != '\0');

    // The file may carry groups and keys of its own; they must survive.
    const std::string path = fuzz::scratch_dir() + "/tovane.conf";
    check(fuzz::write_file(path, data, size));
    check(settings_save(&first, path.c_str()) == 1);

    tables second_tabs;
    settings_obj second{};
    attach(second, second_tabs);
    check(settings_load(&second, path.c_str()) == 1);
    check(first.brightness == second.brightness && first.contrast == second.contrast);
    check(first.visible_messages == second.visible_messages);
    check(std::strcmp(first.db_path, second.db_path) == 0);
    check(first.sound_enabled == second.sound_enabled &&
          first.key_sound_enabled == second.key_sound_enabled &&
          first.alarm_sound_enabled == second.alarm_sound_enabled &&
          first.printer_enabled == second.printer_enabled &&
          first.printer_cut_paper == second.printer_cut_paper &&
          first.antenna_power_enabled == second.antenna_power_enabled &&
          first.gps_enabled == second.gps_enabled &&
          first.gps_time_enabled == second.gps_time_enabled &&
          first.ecdis_enabled == second.ecdis_enabled &&
          first.ecdis_ignore_ack == second.ecdis_ignore_ack);
    for (int t = 0; t < 6; ++t)
        for (int i = 0; i < SETTINGS_LETTERS; ++i)
            check(first_tabs.t[t][i] == second_tabs.t[t][i]);

    settings_free(&first);
    message_filter_free(&first.filters);
    settings_free(&second);
    message_filter_free(&second.filters);
    return 0;
}
