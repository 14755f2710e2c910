/*
 * Settings store of the receiver's user interface.
 *
 * Takes and gives the GLib key file "/jffs2/tovane.conf": display, sounds,
 * printer, GPS, ECDIS, antenna power, the message database path and, per
 * frequency (490, 518, 4209 kHz), the selected coast-station and message-type
 * letters.  Reading the letter lists also registers the matching message
 * filters in the record.  Messages go through GLib logging with no domain.
 */
#ifndef NAVTEX_SETTINGS_SETTINGS_H
#define NAVTEX_SETTINGS_SETTINGS_H

#include <glib.h>

#include "navtex_settings/message_filter.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SETTINGS_FILE_PATH "/jffs2/tovane.conf"
#define SETTINGS_DEFAULT_DB_PATH "/jffs2/navtex.db"
/* Table size that covers the letters 'A' to 'Z'. */
#define SETTINGS_LETTERS 26

/* One letter table per frequency; entry i stands for the letter 'A' + i and
 * is selected when it equals 1.  The tables belong to the record's user.
 * A null table counts as a table with nothing selected. */
typedef struct letter_select {
    int *tab_490;
    int *tab_518;
    int *tab_4209;
    int letters; /* entries in each table */
} letter_select;

/* The settings record.  db_path is either null or a GLib-allocated text owned
 * by the record: a read frees the text it replaces, settings_free releases
 * it.  A null letter_select reference is written as empty lists, and the
 * letters listed for it in a file are ignored. */
typedef struct settings_obj {
    int brightness;
    int contrast;
    gboolean sound_enabled;
    gboolean key_sound_enabled;
    gboolean alarm_sound_enabled;
    gboolean printer_enabled;
    gboolean printer_cut_paper;
    gboolean antenna_power_enabled;
    gboolean gps_enabled;
    gboolean gps_time_enabled;
    gboolean ecdis_enabled;
    gboolean ecdis_ignore_ack;
    int visible_messages;
    gchar *db_path;
    filter_obj filters;
    letter_select *coast_stations;
    letter_select *message_types;
} settings_obj;

/* 1 when the file was read, 0 when it could not be loaded (record unchanged). */
int settings_load(settings_obj *settings, const char *path);
/* Reads an open key file into the record and registers the listed filters; 1. */
int settings_read(settings_obj *settings, GKeyFile *key_file);
/* 1 after the file was written, -1 when it could not be opened or written. */
int settings_save(settings_obj *settings, const char *path);
void settings_free(settings_obj *settings);

/* Null-terminated vector of one-letter texts for the entries equal to 1, in
 * ascending order; *count receives their number.  Free with g_strfreev. */
gchar **letters_from_table(const int *table, int letters, int *count);

#ifdef __cplusplus
}
#endif

#endif
