/*
 * Message filter: station and type filters per frequency, frequency filters,
 * and the 518 kHz protection of types A, B, D, L and serial number 00.
 *
 * Takes letter sets of 1 to 31 characters and frequencies in kHz; patterns
 * are GRegex expressions compiled byte-wise on every test (nothing cached).
 * Logs at DEBUG with no domain, lines starting "function():line - ".
 */
#include "navtex_settings/message_filter.h"

#include <cstdio>
#include <cstring>

namespace {

// Every line of this module names the function and the line that logs it.
#define FILTER_DEBUG(fmt, ...) \
    g_debug("%s():%d - " fmt, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

constexpr const char *station_template = "^[%s][A-Z][0-9][0-9]";
constexpr const char *type_template = "^[A-Z][%s][0-9][0-9]";
constexpr const char *protect_pattern = "^[A-Z][A,B,D,L]|00";
constexpr int protected_freq = 518;

// A set must fit the patterns' size limit and name at least one letter:
// an empty class would turn the brackets of the template into nonsense.
bool letters_ok(const char *letters)
{
    if (!letters)
        return false;
    size_t len = strnlen(letters, MESSAGE_FILTER_MAX_LETTERS + 1);
    return len > 0 && len <= MESSAGE_FILTER_MAX_LETTERS;
}

gchar *build_pattern(const char *tmpl, const char *letters)
{
    return g_strdup_printf(tmpl, letters);
}

void entry_free(gpointer data)
{
    auto *entry = static_cast<filter_entry *>(data);
    g_free(entry->pattern);
    g_free(entry);
}

// g_slist_free_full came with GLib 2.28; the user interface's GLib may be older.
void entry_list_free(GSList *list)
{
    for (GSList *l = list; l; l = l->next)
        entry_free(l->data);
    g_slist_free(list);
}

bool entry_matches(const filter_entry *entry, const gchar *built, size_t len, int freq)
{
    return entry->freq == freq && strncmp(entry->pattern, built, len) == 0;
}

int filter_has(filter_obj *filters, int freq, const char *letters, const char *tmpl)
{
    if (!filters || !letters_ok(letters))
        return 0;
    gchar *built = build_pattern(tmpl, letters);
    size_t len = strlen(built);
    int found = 0;
    for (GSList *l = filters->pattern_list; l; l = l->next) {
        if (entry_matches(static_cast<filter_entry *>(l->data), built, len, freq)) {
            found = 1;
            break;
        }
    }
    g_free(built);
    return found;
}

int filter_add(filter_obj *filters, int freq, const char *letters, const char *tmpl)
{
    if (!filters || !letters_ok(letters))
        return 0;
    if (filter_has(filters, freq, letters, tmpl))
        return 1;
    filter_entry *entry = g_try_new0(filter_entry, 1);
    if (!entry)
        return 0;
    entry->pattern = build_pattern(tmpl, letters);
    entry->freq = freq;
    entry->active = 1;
    filters->pattern_list = g_slist_append(filters->pattern_list, entry);
    return 1;
}

void filter_remove(filter_obj *filters, int freq, const char *letters, const char *tmpl)
{
    if (!filters || !letters_ok(letters))
        return;
    gchar *built = build_pattern(tmpl, letters);
    size_t len = strlen(built);
    GSList *l = filters->pattern_list;
    while (l) {
        GSList *next = l->next;
        auto *entry = static_cast<filter_entry *>(l->data);
        if (entry_matches(entry, built, len, freq)) {
            entry_free(entry);
            filters->pattern_list = g_slist_delete_link(filters->pattern_list, l);
        }
        l = next;
    }
    g_free(built);
}

} // namespace

int message_filter_init(filter_obj *filters)
{
    if (!filters)
        return 0;
    filters->freq_list = nullptr;
    filters->pattern_list = nullptr;
    filters->spare_list = nullptr;
    return 1;
}

void message_filter_free(filter_obj *filters)
{
    if (!filters)
        return;
    entry_list_free(filters->freq_list);
    entry_list_free(filters->pattern_list);
    entry_list_free(filters->spare_list);
    filters->freq_list = nullptr;
    filters->pattern_list = nullptr;
    filters->spare_list = nullptr;
}

int message_filter_add_station(filter_obj *filters, int freq, const char *letters)
{
    return filter_add(filters, freq, letters, station_template);
}

int message_filter_has_station(filter_obj *filters, int freq, const char *letters)
{
    return filter_has(filters, freq, letters, station_template);
}

void message_filter_remove_station(filter_obj *filters, int freq, const char *letters)
{
    filter_remove(filters, freq, letters, station_template);
}

int message_filter_add_type(filter_obj *filters, int freq, const char *letters)
{
    return filter_add(filters, freq, letters, type_template);
}

int message_filter_has_type(filter_obj *filters, int freq, const char *letters)
{
    return filter_has(filters, freq, letters, type_template);
}

void message_filter_remove_type(filter_obj *filters, int freq, const char *letters)
{
    filter_remove(filters, freq, letters, type_template);
}

int message_filter_add_freq(filter_obj *filters, const char *pattern)
{
    if (!filters || !pattern)
        return 0;
    filter_entry *entry = g_try_new0(filter_entry, 1);
    if (!entry)
        return 0;
    entry->pattern = g_strdup(pattern);
    entry->active = 1;
    filters->freq_list = g_slist_append(filters->freq_list, entry);
    return 1;
}

int message_filter_flush_all(filter_obj *filters)
{
    if (!filters)
        return 0;
    int count = 0;
    while (filters->pattern_list) {
        GSList *head = filters->pattern_list;
        entry_free(head->data);
        filters->pattern_list = g_slist_delete_link(filters->pattern_list, head);
        ++count;
    }
    FILTER_DEBUG("Cleared %d filters", count);
    return count;
}

int message_filter(filter_obj *filters, const filter_msg *msg)
{
    if (!filters || !msg)
        return 0;
    // The identifier comes from the user interface's record: never read
    // past its array even when it is not terminated.
    char ident[MESSAGE_FILTER_IDENT_SIZE];
    size_t ident_len = strnlen(msg->ident, sizeof ident - 1);
    memcpy(ident, msg->ident, ident_len);
    ident[ident_len] = '\0';

    if (message_filter_match(ident, protect_pattern) && msg->freq == protected_freq) {
        FILTER_DEBUG("Message cannot be filtered (B2 is A,B,D,L or B3-4 is 00)");
        return 0;
    }

    for (GSList *l = filters->pattern_list; l; l = l->next) {
        auto *entry = static_cast<filter_entry *>(l->data);
        if (entry->freq == msg->freq && entry->active == 1 &&
            message_filter_match(ident, entry->pattern)) {
            g_debug("Filter message %s (%s)", ident, entry->pattern);
            return 1;
        }
    }

    char freq_text[16];
    snprintf(freq_text, sizeof freq_text, "%d", msg->freq);
    for (GSList *l = filters->freq_list; l; l = l->next) {
        auto *entry = static_cast<filter_entry *>(l->data);
        if (entry->active == 1 && message_filter_match(freq_text, entry->pattern))
            return 1;
    }
    return 0;
}

int message_filter_match(const char *text, const char *pattern)
{
    if (!text || !pattern)
        return 0;
    GError *error = nullptr;
    GRegex *regex = g_regex_new(pattern, G_REGEX_RAW, static_cast<GRegexMatchFlags>(0), &error);
    if (!regex) {
        FILTER_DEBUG("Pattern '%s' does not compile: %s", pattern, error->message);
        g_error_free(error);
        return 0;
    }
    gboolean matched = g_regex_match(regex, text, static_cast<GRegexMatchFlags>(0), nullptr);
    g_regex_unref(regex);
    return matched ? 1 : 0;
}
