// JSON of messages for the web page's API; see web_json.h.
#include "web_json.h"

#include "jsonl.h"
#include "keeper.h"

std::string web_iso_time(int64_t t) { return jsonl_time(t); }

nlohmann::json web_text(const std::string &s)
{
	// The same encoding as the JSON Lines output: the page shows a text
	// exactly as -J writes it.
	nlohmann::json j = nlohmann::json::parse(jsonl_string(s), nullptr, false);
	return j.is_string() ? j : nlohmann::json("");
}

const char *web_type_name(char type)
{
	switch (type) {
	case 'A': return "navigational warning";
	case 'B': return "meteorological warning";
	case 'C': return "ice report";
	case 'D': return "search and rescue / piracy / tsunami";
	case 'E': return "meteorological forecast";
	case 'F': return "pilot and VTS";
	case 'G': return "AIS";
	case 'H': return "LORAN";
	case 'J': return "GNSS";
	case 'K': return "other navaids";
	case 'L': return "navigational warning additional to A";
	case 'V': case 'W': case 'X': case 'Y': return "special services";
	case 'Z': return "no messages on hand";
	default: return "";
	}
}

const char *web_type_letters() { return "ABCDEFGHJKLVWXYZ"; }
const char *web_station_letters() { return "ABCDEFGHIJKLMNOPQRSTUVWX"; }

// The types navwatch never deselects, whatever the settings list.
std::string web_fixed_types(int)
{
	std::string fixed;
	for (const char *p = web_type_letters(); *p; p++)
		if (keeper_protected(std::string("A") + *p + "01"))
			fixed += *p;
	return fixed;
}

nlohmann::json web_message_json(const stored_msg &m, bool full)
{
	nlohmann::json j;
	j["id"] = m.id;
	j["freq"] = m.freq;
	j["ident"] = m.ident.empty() ? nlohmann::json(nullptr) : nlohmann::json(m.ident);
	char station = m.ident.size() >= 1 ? m.ident[0] : 0;
	char type = m.ident.size() >= 2 ? m.ident[1] : 0;
	j["station"] = station ? std::string(1, station) : "";
	j["type"] = type ? std::string(1, type) : "";
	j["type_name"] = web_type_name(type);
	j["time"] = web_iso_time(m.rcv_time);
	j["taken_time"] = web_iso_time(m.taken_time);
	j["error_pct"] = m.shown_error_pct();
	j["signal_dbm"] = m.signal_dbm;
	j["decision"] = decision_name(m.decision);
	j["alarm"] = m.alarm;
	j["acked"] = m.acked;
	j["read"] = m.read;
	j["kept"] = m.kept;
	j["merged"] = m.merged;
	j["superseded"] = m.superseded;
	j["group"] = m.group;
	j["text"] = web_text(m.shown_text());
	if (full) {
		j["received_text"] = web_text(m.text);
		j["received_error_pct"] = m.error_pct;
	}
	return j;
}

std::string web_dump(const nlohmann::json &j)
{
	return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
