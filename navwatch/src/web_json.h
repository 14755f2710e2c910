// The JSON the web page's API gives: messages, the type letters' meanings
// and times, built with nlohmann::json.  Texts and times are encoded as the
// JSON Lines output (jsonl.h) encodes them (bytes outside printable ASCII
// as their \u00XX character); the page puts texts into the document as
// text only.
#ifndef NAVWATCH_WEB_JSON_H
#define NAVWATCH_WEB_JSON_H

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "store.h"

// Seconds since 1970 as "2026-12-09T04:21:16Z".
std::string web_iso_time(int64_t t);

// The meaning of a message type letter (B2), "" for letters without one.
const char *web_type_name(char type);
// A message text as the JSON Lines output encodes it.
nlohmann::json web_text(const std::string &s);
// Type letters a person can select, in order, and those navwatch holds on
// at freq (A, B, D, L: never deselected).
const char *web_type_letters();
const char *web_station_letters();
std::string web_fixed_types(int freq);

// A message for lists (full = false) or for the message view (full = true:
// adds the text as received beside the shown one).
nlohmann::json web_message_json(const stored_msg &m, bool full);

// Serialises without ever throwing (invalid UTF-8 would be replaced).
std::string web_dump(const nlohmann::json &j);

#endif
