// Interactive boot parameter editor.
//
// Shows the parameter text as numbered lines, one per word, deletes and
// inserts lines, runs the network dialog and writes the text back to flash
// after a confirmation. The text lives in a 2048-byte buffer and never
// passes 2047 characters.
#pragma once

#include "bootparams.h"

#include <cstdio>

enum edit_action { EDIT_PRINT, EDIT_CLEAR, EDIT_DELETE, EDIT_INSERT };

// Result of edit_params when an insertion would pass 2047 characters; the
// text is left as it was.
constexpr int EDIT_TOO_LONG = -2;

// Carries out one action on `text` (a 2048-byte buffer): print normalises it
// and lists it on `out`, clear empties it, delete removes line `line`,
// insert puts `insert_text` before line `line` (or at the end when `line`
// is past the last line). Returns 0, -1 when `line` is not positive for a
// delete or an insert, or EDIT_TOO_LONG.
int edit_params(int action, char *text, int line, const char *insert_text,
                FILE *out = stdout);

// Skips spaces at `*cursor`; returns 0 at the end of the line, -1 when no
// number follows, else stores the number, moves the cursor behind it and
// returns 1.
int next_number(const char **cursor, unsigned long *value, int base);

// Runs the editor on standard input and output until q or the end of the
// input. Returns 0.
int param_editor(const flash_paths &paths = default_flash_paths);
