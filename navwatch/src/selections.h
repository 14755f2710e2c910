// navwatch's copy of the settings file: the settings record with its
// letter tables and the filters the file's selections register.  Takes the
// file path; gives a record that message_filter can use, read again when
// the file changes, and the one place that writes selections back (for the
// NRM commands and the web page).  Owned by the main loop's thread; the
// web page reaches it only through the locked functions below.
#ifndef NAVWATCH_SELECTIONS_H
#define NAVWATCH_SELECTIONS_H

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "navtex_settings/settings.h"
#include "web_hook.h"

struct watch_settings {
	settings_obj rec{};
	int stations[3][SETTINGS_LETTERS] = {};
	int types[3][SETTINGS_LETTERS] = {};
	letter_select coast{};
	letter_select msgtypes{};
	~watch_settings();
};

struct selections {
	std::string path;
	std::unique_ptr<watch_settings> cur;
	// What the file looked like when last read, to notice changes.
	time_t mtime = 0;
	off_t size = -1;
	ino_t ino = 0;
	std::mutex lock; // guards cur against the web page's threads
};

// Reads the file (defaults and a warning when it is missing or unreadable).
// 1 when the file was read, 0 when the defaults apply.
int selections_load(selections *sel);
// True when the file changed since it was last read.
bool selections_changed(selections *sel);
// Index 0, 1, 2 for 490, 518, 4209 kHz, else -1.
int selections_freq_index(int freq);

std::vector<freq_selection> selections_get(selections *sel);
// Writes one frequency's tables through the settings code and reads the
// file back, so the filters follow.  0, or -1 with the reason.
int selections_set(selections *sel, const freq_selection &fs, std::string *err);
// Saves the current record (after a change made in place, as by an NRM
// command) and reads it back.  0 or -1.
int selections_save(selections *sel, std::string *err);

#endif
