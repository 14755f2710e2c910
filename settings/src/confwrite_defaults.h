/*
 * The work of confwrite behind its fixed path: writes the default settings
 * record to a settings file.
 */
#ifndef CONFWRITE_DEFAULTS_H
#define CONFWRITE_DEFAULTS_H

#include "navtex_settings/settings.h"

/* The stored default record.  Its db_path refers to a constant text and it
 * carries no letter tables: confwrite_write copies it into a working record. */
extern const settings_obj confwrite_default_record;

/* Writes the defaults to path; the result of settings_save. */
int confwrite_write(const char *path);

#endif
