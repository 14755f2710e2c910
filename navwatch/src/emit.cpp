// Outputs of committed messages.
#include "emit.h"

#include <vector>

#include "alarm.h"
#include "say.h"
#include "web_hook.h"

namespace {

bool alarm_sound(selections *sel)
{
	std::lock_guard<std::mutex> g(sel->lock);
	return sel->cur && sel->cur->rec.alarm_sound_enabled;
}

void sound(emitters *e, selections *sel, const stored_msg &m)
{
	if (e->alarm_cmd.empty() || !alarm_sound(sel))
		return;
	std::string err;
	if (alarm_run(e->alarm_cmd, m, &err) < 0)
		say(LOG_ERR, err);
}

} // namespace

void emit_message(emitters *e, selections *sel, const stored_msg &m, bool has_signal)
{
	std::string err;
	if (jsonl_write(&e->json, jsonl_line(m, has_signal), &err) < 0)
		say(LOG_ERR, err + " (said once)");
#ifdef NAVWATCH_WEB
	if (e->web)
		web_message_taken(m);
#endif
	if (m.decision != msg_decision::shown)
		return;
	const std::string &text = m.shown_text();
	if (e->nmea) {
		nmea_nrx_msg n;
		n.freq_khz = m.freq;
		n.ident = m.ident;
		n.time = static_cast<time_t>(m.rcv_time);
		n.text = text;
		n.correct = text.find('*') == std::string::npos;
		nmea_out_message(*e->nmea, n);
	}
	bool print = false;
	{
		std::lock_guard<std::mutex> g(sel->lock);
		print = sel->cur && sel->cur->rec.printer_enabled;
	}
	if (e->printer && print) {
		printer_msg p;
		p.freq_khz = m.freq;
		p.ident = m.ident;
		p.time = static_cast<time_t>(m.rcv_time);
		p.error_pct = m.shown_error_pct();
		p.text = text;
		if (!printer_print(*e->printer, p))
			say(LOG_WARNING, "printer output full: message " + std::to_string(m.id) + " not printed");
	}
	say(LOG_NOTICE, "new message " + std::to_string(m.freq) + " kHz " +
				(m.ident.empty() ? std::string("(no identifier)") : m.ident) +
				(m.merged ? " (mended from earlier copies)" : ""));
	e->shown_since_count = true;
	if (m.alarm) {
		say(LOG_WARNING, "ALARM: type D message " + m.ident + " on " + std::to_string(m.freq) +
					 " kHz; reset with: navwatch -D <db> ack");
		sound(e, sel, m);
		e->alarm_again_at = m.taken_time + kAlarmRepeatS;
	}
}

void emit_indication(emitters *e, store *s, int64_t now)
{
	if (!e->shown_since_count)
		return;
	e->shown_since_count = false;
	store_counts c;
	std::string err;
	if (store_get_counts(s, now, &c, &err) == 0)
		say(LOG_NOTICE, std::to_string(c.unread) + " unread message(s), " + std::to_string(c.alarms) +
					" alarm(s) not reset");
}

void emit_alarm_repeat(emitters *e, store *s, selections *sel, int64_t now)
{
	if (e->alarm_again_at == 0 || now < e->alarm_again_at)
		return;
	store_query q;
	q.alarm_only = true;
	q.limit = 1;
	std::vector<stored_msg> v;
	std::string err;
	if (store_list(s, q, &v, &err) <= 0) {
		e->alarm_again_at = 0; // acknowledged (or unreadable: no sounding)
		return;
	}
	sound(e, sel, v.front());
	e->alarm_again_at = now + kAlarmRepeatS;
}
