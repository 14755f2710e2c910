// The selections per frequency for the web page's API: which station (B1)
// and type (B2) letters are on, that is shown.  The settings file lists
// the letters that are off; navwatch's context reads and writes it through
// the settings code.  The types navwatch never deselects are always on.
#ifndef NAVWATCH_WEB_SELECTIONS_H
#define NAVWATCH_WEB_SELECTIONS_H

#include <nlohmann/json.hpp>

#include "web_api.h"

// A frequency the receiver has (kHz), and capital letters each in
// `allowed`: what the API's filters and selections accept.
bool web_valid_freq(int64_t f);
bool web_letters_in(const std::string &s, const char *allowed);

// GET /api/selections.
void web_selections_get(const web_context &ctx, web_response *res);
// PUT/POST /api/selections with its parsed body: {"freq", "stations", "types"}.
void web_selections_set(const web_context &ctx, const nlohmann::json &body, web_response *res);

#endif
