// Decision per taken message: memory, filter, mending, alarm.
#include "keeper.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "mend.h"

bool keeper_protected(const std::string &id)
{
	return ident_readable(id) && (strchr("ABDL", id[1]) != nullptr || id.compare(2, 2, "00") == 0);
}

int keeper_decide(store *s, filter_obj *filters, const taken_msg &t, int64_t now, keeper_result *out,
		  std::string *err)
{
	*out = keeper_result{};
	stored_msg &m = out->msg;
	m.freq = t.freq;
	m.ident = t.ident;
	m.rcv_time = t.has_time ? t.rcv_time : now;
	m.taken_time = now;
	m.error_pct = t.error_pct;
	m.signal_dbm = t.signal_dbm;
	m.text = t.text;
	m.merged_error_pct = t.error_pct;

	const bool readable = ident_readable(t.ident);
	// Serial 00 is sent with changing texts: never a repeat, never mended.
	const bool serial00 = readable && t.ident.compare(2, 2, "00") == 0;
	const bool tracked = readable && !serial00;

	if (tracked) {
		int known = store_ident_known(s, t.freq, t.ident, now, err);
		if (known < 0)
			return -1;
		if (known) {
			m.decision = msg_decision::repeat;
			m.read = true;
			std::vector<stored_msg> copies;
			if (store_copies_of(s, t.freq, t.ident, now, &copies, err) < 0)
				return -1;
			if (!copies.empty())
				m.group = copies.front().group;
			return 0;
		}
	}

	// The filter reads the identifier; an unreadable one passes.
	m.decision = msg_decision::shown;
	if (!keeper_protected(t.ident)) {
		filter_msg fm{};
		fm.freq = t.freq;
		snprintf(fm.ident, sizeof fm.ident, "%s", t.raw_ident.c_str());
		if (message_filter(filters, &fm) == 1) {
			m.decision = msg_decision::deselected;
			m.read = true;
		}
	}

	if (tracked) {
		std::vector<stored_msg> copies;
		if (store_copies_of(s, t.freq, t.ident, now, &copies, err) < 0)
			return -1;
		if (!copies.empty()) {
			m.group = copies.front().group;
			if (t.text.find('*') != std::string::npos) {
				std::vector<std::string> texts;
				for (const auto &c : copies)
					texts.push_back(c.text);
				texts.push_back(t.text);
				mend_result r = mend_copies(texts);
				if (r.text != t.text) {
					m.merged = true;
					m.merged_text = r.text;
					m.merged_error_pct = r.error_pct;
				}
			}
		}
	}
	out->remember = tracked && m.shown_error_pct() < kGoodErrorPct;
	m.alarm = m.decision == msg_decision::shown && readable && t.ident[1] == 'D';
	return 0;
}
