/*
 * Default settings as written by confwrite: values of a fresh receiver, no
 * coast station or message type selected on any frequency, no filter.
 */
#include "confwrite_defaults.h"

const settings_obj confwrite_default_record = {
    .brightness = 165,
    .contrast = 140,
    .sound_enabled = TRUE,
    .key_sound_enabled = TRUE,
    .alarm_sound_enabled = TRUE,
    .printer_enabled = FALSE,
    .printer_cut_paper = FALSE,
    .antenna_power_enabled = FALSE,
    .gps_enabled = FALSE,
    .gps_time_enabled = FALSE,
    .ecdis_enabled = FALSE,
    .ecdis_ignore_ack = FALSE,
    // The count a file without the key reads as: a default file and a file
    // missing the key then behave alike, and 0 would show no message at all.
    .visible_messages = 120,
    .db_path = const_cast<gchar *>(SETTINGS_DEFAULT_DB_PATH),
    .filters = {},
    .coast_stations = nullptr,
    .message_types = nullptr,
};

int confwrite_write(const char *path)
{
    // Nothing selected: every letter list is written empty.
    int stations_490[SETTINGS_LETTERS] = {}, stations_518[SETTINGS_LETTERS] = {},
        stations_4209[SETTINGS_LETTERS] = {};
    int types_490[SETTINGS_LETTERS] = {}, types_518[SETTINGS_LETTERS] = {},
        types_4209[SETTINGS_LETTERS] = {};
    letter_select stations = {stations_490, stations_518, stations_4209, SETTINGS_LETTERS};
    letter_select types = {types_490, types_518, types_4209, SETTINGS_LETTERS};

    settings_obj record = confwrite_default_record;
    // The working record owns its path text, since a read replaces it.
    record.db_path = g_strdup(confwrite_default_record.db_path);
    message_filter_init(&record.filters);
    record.coast_stations = &stations;
    record.message_types = &types;

    int result = settings_save(&record, path);
    settings_free(&record);
    message_filter_free(&record.filters);
    return result;
}
