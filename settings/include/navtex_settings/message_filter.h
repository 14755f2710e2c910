/*
 * Message filter of the receiver's user interface.
 *
 * Takes coast-station (B1) and message-type (B2) letter sets bound to one of
 * the NAVTEX frequencies 490, 518 and 4209 kHz, and frequency patterns tested
 * against the decimal reception frequency in kHz.  Gives, for a message
 * identifier such as "FA12", whether the user has filtered the message out.
 * On 518 kHz messages of types A, B, D, L and serial number 00 always pass.
 *
 * Filters are GLib regular expressions; every line logged goes through GLib
 * logging with no domain, at DEBUG level.
 */
#ifndef NAVTEX_SETTINGS_MESSAGE_FILTER_H
#define NAVTEX_SETTINGS_MESSAGE_FILTER_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest letter set a station or type filter accepts; a built pattern is
 * then at most 49 characters long.  Longer (and empty) sets are refused. */
#define MESSAGE_FILTER_MAX_LETTERS 31

/* Room for the identifier in a filter_msg, terminating zero included. */
#define MESSAGE_FILTER_IDENT_SIZE 16

/* One filter, owned by the list that holds it. */
typedef struct filter_entry {
    gchar *pattern; /* regular expression, owned by the entry */
    int freq;       /* kHz the station/type filter applies to */
    int active;     /* in force when 1 */
} filter_entry;

/* The filter set.  All-zero is a valid empty set. */
typedef struct filter_obj {
    GSList *freq_list;    /* frequency filters */
    GSList *pattern_list; /* station and type filters, in order of adding */
    GSList *spare_list;   /* released by message_filter_free only */
} filter_obj;

/* The message under test, as far as the filter reads it. */
typedef struct filter_msg {
    int freq;                              /* reception frequency, kHz */
    char ident[MESSAGE_FILTER_IDENT_SIZE]; /* B1 B2 B3 B4 ... */
} filter_msg;

int message_filter_init(filter_obj *filters);
void message_filter_free(filter_obj *filters);

int message_filter_add_station(filter_obj *filters, int freq, const char *letters);
int message_filter_has_station(filter_obj *filters, int freq, const char *letters);
void message_filter_remove_station(filter_obj *filters, int freq, const char *letters);

int message_filter_add_type(filter_obj *filters, int freq, const char *letters);
int message_filter_has_type(filter_obj *filters, int freq, const char *letters);
void message_filter_remove_type(filter_obj *filters, int freq, const char *letters);

int message_filter_add_freq(filter_obj *filters, const char *pattern);
int message_filter_flush_all(filter_obj *filters);

/* 1 when the message is filtered out, 0 when it passes. */
int message_filter(filter_obj *filters, const filter_msg *msg);

/* 1 when pattern (compiled byte-wise, not as UTF-8) matches text, else 0.
 * A pattern that does not compile matches nothing. */
int message_filter_match(const char *text, const char *pattern);

#ifdef __cplusplus
}
#endif

#endif
