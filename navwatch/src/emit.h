// The outputs of a committed message: JSON lines, NRX sentences, printer,
// the web page, the alarm command and the new-message indication.  Called
// by the main loop only after the message is safe in the store.
#ifndef NAVWATCH_EMIT_H
#define NAVWATCH_EMIT_H

#include <cstdint>
#include <string>

#include "jsonl.h"
#include "nmea_out.h"
#include "printer.h"
#include "selections.h"
#include "store.h"

struct emitters {
	jsonl_out json;
	nmea_out_ptr nmea;      // null without -N
	printer_ptr printer;    // null without -P
	bool web = false;       // the web page runs
	std::string alarm_cmd;
	int64_t alarm_again_at = 0; // when an unacknowledged alarm sounds again
	bool shown_since_count = false;
};

// Seconds between alarm soundings while one is not acknowledged.
constexpr int kAlarmRepeatS = 60;

void emit_message(emitters *e, selections *sel, const stored_msg &m, bool has_signal);
// The new-message indication: unread messages and alarms not reset, said
// once after a batch that showed something.
void emit_indication(emitters *e, store *s, int64_t now);
// Sounds an unacknowledged alarm again when it is due.
void emit_alarm_repeat(emitters *e, store *s, selections *sel, int64_t now);

#endif
