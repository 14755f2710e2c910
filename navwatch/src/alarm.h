// The alarm command (-a "command"): run through /bin/sh for a type D
// message, without waiting for it, with NAVWATCH_ID (B1B2B3B4),
// NAVWATCH_FREQ (kHz) and NAVWATCH_SEQ (store id) in its environment.
// Children are reaped by alarm_reap from the main loop.
#ifndef NAVWATCH_ALARM_H
#define NAVWATCH_ALARM_H

#include <string>

#include "store.h"

// The child's pid, or -1 (reason in *err).
int alarm_run(const std::string &command, const stored_msg &m, std::string *err);
// Collects finished commands; never waits.
void alarm_reap();

#endif
