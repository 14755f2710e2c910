/*
 * Settings store: reads and writes the user interface's GLib key file.
 *
 * Takes a settings record and a path; integers are stored unchecked,
 * booleans as 0/1, letter tables as 'A' + index selections for 490, 518 and
 * 4209 kHz.  Gives the groups "general", "coast-stations" and
 * "message-filter"; reading the letter lists registers the matching station
 * and type filters.  Messages go through GLib logging with no domain.
 */
#include "navtex_settings/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace {

constexpr const char *group_general = "general";
constexpr const char *group_stations = "coast-stations";
constexpr const char *group_types = "message-filter";

struct key_file_deleter {
    void operator()(GKeyFile *key_file) const { g_key_file_free(key_file); }
};
using key_file_ptr = std::unique_ptr<GKeyFile, key_file_deleter>;

struct strv_deleter {
    void operator()(gchar **strv) const { g_strfreev(strv); }
};
using strv_ptr = std::unique_ptr<gchar *, strv_deleter>;

struct int_key {
    const char *key;
    int settings_obj::*member;
    int fallback;
};

struct bool_key {
    const char *key;
    gboolean settings_obj::*member;
    gboolean fallback;
};

// Reading order of the "general" group.
constexpr int_key int_keys_read[] = {
    {"contrast", &settings_obj::contrast, 140},
    {"brightness", &settings_obj::brightness, 165},
    {"visible-messages", &settings_obj::visible_messages, 120},
};

constexpr bool_key bool_keys_read[] = {
    {"sound-enabled", &settings_obj::sound_enabled, TRUE},
    {"key-sound-enabled", &settings_obj::key_sound_enabled, TRUE},
    {"alarm-sound-enabled", &settings_obj::alarm_sound_enabled, TRUE},
    {"gps-enabled", &settings_obj::gps_enabled, FALSE},
    {"ecdis-enabled", &settings_obj::ecdis_enabled, FALSE},
    {"ecdis-ignore-ack", &settings_obj::ecdis_ignore_ack, FALSE},
    {"gps-time-enabled", &settings_obj::gps_time_enabled, FALSE},
    {"printer-enabled", &settings_obj::printer_enabled, FALSE},
    {"printer-cut-paper", &settings_obj::printer_cut_paper, FALSE},
    {"antenna-power-enabled", &settings_obj::antenna_power_enabled, FALSE},
};

// Writing order: the order in which a new file receives the keys.
constexpr std::pair<const char *, gboolean settings_obj::*> bool_keys_write[] = {
    {"sound-enabled", &settings_obj::sound_enabled},
    {"key-sound-enabled", &settings_obj::key_sound_enabled},
    {"alarm-sound-enabled", &settings_obj::alarm_sound_enabled},
    {"printer-enabled", &settings_obj::printer_enabled},
    {"printer-cut-paper", &settings_obj::printer_cut_paper},
    {"gps-enabled", &settings_obj::gps_enabled},
    {"ecdis-enabled", &settings_obj::ecdis_enabled},
    {"ecdis-ignore-ack", &settings_obj::ecdis_ignore_ack},
    {"gps-time-enabled", &settings_obj::gps_time_enabled},
    {"antenna-power-enabled", &settings_obj::antenna_power_enabled},
};

constexpr std::pair<const char *, int settings_obj::*> int_keys_write[] = {
    {"brightness", &settings_obj::brightness},
    {"contrast", &settings_obj::contrast},
    {"visible-messages", &settings_obj::visible_messages},
};

struct freq_key {
    int freq;
    const char *key;
    int *letter_select::*table;
};

constexpr freq_key freq_keys[] = {
    {490, "filter-490", &letter_select::tab_490},
    {518, "filter-518", &letter_select::tab_518},
    {4209, "filter-4209", &letter_select::tab_4209},
};

using add_fn = int (*)(filter_obj *, int, const char *);

void check_group(GKeyFile *key_file, const char *group)
{
    if (!g_key_file_has_group(key_file, group))
        g_warning("Config-file does not contain a group called [%s]", group);
}

int read_int(GKeyFile *key_file, const int_key &k)
{
    GError *error = nullptr;
    int value = g_key_file_get_integer(key_file, group_general, k.key, &error);
    if (error) {
        g_warning("%s", error->message);
        g_clear_error(&error);
        return k.fallback;
    }
    return value;
}

gboolean read_bool(GKeyFile *key_file, const bool_key &k)
{
    GError *error = nullptr;
    gboolean value = g_key_file_get_boolean(key_file, group_general, k.key, &error);
    if (error) {
        g_warning("%s", error->message);
        g_clear_error(&error);
        return k.fallback;
    }
    return value ? TRUE : FALSE;
}

gchar *read_db_path(GKeyFile *key_file)
{
    GError *error = nullptr;
    gchar *value = g_key_file_get_string(key_file, group_general, "db-path", &error);
    if (error) {
        g_warning("%s", error->message);
        g_clear_error(&error);
        g_free(value);
        return g_strdup(SETTINGS_DEFAULT_DB_PATH);
    }
    if (!value || value[0] == '\0') {
        g_free(value);
        return g_strdup(SETTINGS_DEFAULT_DB_PATH);
    }
    return value;
}

// Registers the filters one letter list names and marks its letters in the
// table.  Items whose first character has no place in the table, and letter
// sets the filter refuses, are left out of both so that the two agree.
void read_letters(GKeyFile *key_file, const char *group, letter_select *select,
                  filter_obj *filters, add_fn add)
{
    check_group(key_file, group);
    for (const freq_key &fk : freq_keys) {
        GError *error = nullptr;
        gsize length = 0;
        strv_ptr list(g_key_file_get_string_list(key_file, group, fk.key, &length, &error));
        if (error) {
            g_message("%s", error->message);
            g_clear_error(&error);
            continue;
        }
        int *table = select ? select->*fk.table : nullptr;
        int letters = table ? select->letters : 0;
        for (gsize i = 0; i < length; ++i) {
            const gchar *item = list.get()[i];
            int index = static_cast<unsigned char>(item[0]) - 'A';
            if (index < 0 || index >= letters) {
                g_message("Ignoring '%s' in %s of [%s]: no such letter", item, fk.key, group);
                continue;
            }
            if (!add(filters, fk.freq, item)) {
                g_message("Ignoring '%s' in %s of [%s]: not a usable letter set", item,
                          fk.key, group);
                continue;
            }
            table[index] = 1;
        }
    }
}

void write_letters(GKeyFile *key_file, const char *group, const letter_select *select)
{
    for (const freq_key &fk : freq_keys) {
        const int *table = select ? select->*fk.table : nullptr;
        int count = 0;
        strv_ptr list(letters_from_table(table, select ? select->letters : 0, &count));
        g_key_file_set_string_list(key_file, group, fk.key, list.get(), count);
    }
}

} // namespace

int settings_load(settings_obj *settings, const char *path)
{
    g_debug("Loading configuration from %s", path);
    key_file_ptr key_file(g_key_file_new());
    GError *error = nullptr;
    if (!g_key_file_load_from_file(key_file.get(), path, G_KEY_FILE_NONE, &error)) {
        g_critical("Loading config-file '%s' failed: %s", path, error->message);
        g_clear_error(&error);
        return 0;
    }
    return settings_read(settings, key_file.get());
}

int settings_read(settings_obj *settings, GKeyFile *key_file)
{
    check_group(key_file, group_general);
    for (const int_key &k : int_keys_read)
        settings->*k.member = read_int(key_file, k);

    // The record owns its path text: release the one being replaced.
    gchar *db_path = read_db_path(key_file);
    g_free(settings->db_path);
    settings->db_path = db_path;

    for (const bool_key &k : bool_keys_read)
        settings->*k.member = read_bool(key_file, k);

    read_letters(key_file, group_stations, settings->coast_stations, &settings->filters,
                 message_filter_add_station);
    read_letters(key_file, group_types, settings->message_types, &settings->filters,
                 message_filter_add_type);
    return 1;
}

int settings_save(settings_obj *settings, const char *path)
{
    key_file_ptr key_file(g_key_file_new());
    GError *error = nullptr;
    if (!g_key_file_load_from_file(key_file.get(), path, G_KEY_FILE_NONE, &error)) {
        g_critical("Loading config-file '%s' failed: %s", path, error->message);
        g_clear_error(&error);
        // A file that failed half-way through parsing may have left some
        // groups behind: start from a truly empty key file.
        key_file.reset(g_key_file_new());
    }

    GKeyFile *kf = key_file.get();
    g_key_file_set_string(kf, group_general, "db-path",
                          settings->db_path ? settings->db_path : SETTINGS_DEFAULT_DB_PATH);
    for (const auto &[key, member] : bool_keys_write)
        g_key_file_set_boolean(kf, group_general, key, settings->*member);
    for (const auto &[key, member] : int_keys_write)
        g_key_file_set_integer(kf, group_general, key, settings->*member);
    write_letters(kf, group_stations, settings->coast_stations);
    write_letters(kf, group_types, settings->message_types);

    int result = settings_read(settings, kf);

    FILE *file = fopen(path, "w");
    if (!file) {
        g_warning("Could not open file: %s", path);
        return -1;
    }
    gsize length = 0;
    gchar *text = g_key_file_to_data(kf, &length, nullptr);
    bool written = fwrite(text, 1, length, file) == length;
    int write_errno = errno;
    g_free(text);
    // A full flash or a failing close loses the file: say so, not success.
    if (fclose(file) != 0 && written) {
        written = false;
        write_errno = errno;
    }
    if (!written) {
        g_warning("Could not write file: %s: %s", path, g_strerror(write_errno));
        return -1;
    }
    return result;
}

void settings_free(settings_obj *settings)
{
    g_free(settings->db_path);
    settings->db_path = nullptr;
}

gchar **letters_from_table(const int *table, int letters, int *count)
{
    if (letters < 0 || !table)
        letters = 0;
    gchar **list = g_new0(gchar *, letters + 1);
    int n = 0;
    for (int i = 0; i < letters; ++i) {
        if (table[i] == 1) {
            const char letter = static_cast<char>(('A' + i) % 256);
            list[n++] = g_strndup(&letter, 1);
        }
    }
    if (count)
        *count = n;
    return list;
}
