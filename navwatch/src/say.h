// navwatch's messages: standard error in the foreground ("navwatch: "
// before each line), the system log once detached.  GLib's own messages
// (the settings code) take the same road.
#ifndef NAVWATCH_SAY_H
#define NAVWATCH_SAY_H

#include <syslog.h>

#include <string>

// Routes GLib's logging here; detached selects the system log.
void say_setup(bool detached);
// prio: LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_INFO.
void say(int prio, const std::string &line);

#endif
