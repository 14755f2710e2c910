// navwatch's main loop: takes every message from the protocol server,
// decides and commits it, then hands it to the outputs.  One thread (the
// web page, when -H asks for it, runs its own).  Ends on SIGTERM/SIGINT;
// SIGHUP re-reads the settings file, as does any change to it.
#ifndef NAVWATCH_WATCH_H
#define NAVWATCH_WATCH_H

#include <string>
#include <vector>

struct watch_options {
	bool foreground = false;
	std::string server = "127.0.0.1:9968";     // -S
	std::string settings_path = "/jffs2/tovane.conf"; // -c
	std::string db_path;                       // -D; empty: the settings' db-path
	std::string alarm_cmd;                     // -a
	std::string json_path;                     // -J file|-
	std::vector<std::string> nmea_dests;       // -N, repeatable
	std::string printer_dev;                   // -P
	std::string web_listen;                    // -H [address:]port
	std::vector<std::string> web_writers;      // -W, repeatable
	int poll_ms = 250;                         // pause when the server's queue is empty
	int status_s = 5;                          // GETSTATUS interval
};

// Runs until asked to stop; the exit status.
int watch_run(const watch_options &o);

#endif
