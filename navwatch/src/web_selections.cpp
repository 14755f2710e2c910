// The selections per frequency on the web page; see web_selections.h.
#include "web_selections.h"

#include <cstring>

#include "web_json.h"

using nlohmann::json;

bool web_valid_freq(int64_t f)
{
	return f == 490 || f == 518 || f == 4209;
}

bool web_letters_in(const std::string &s, const char *allowed)
{
	for (char c : s)
		if (c < 'A' || c > 'Z' || !std::strchr(allowed, c))
			return false;
	return true;
}

namespace {

json selection_json(const freq_selection &f)
{
	std::string stations, types, fixed = web_fixed_types(f.freq);
	// On the page a letter is "on" when its messages are shown: not listed.
	for (const char *p = web_station_letters(); *p; p++)
		if (f.stations[*p - 'A'] != 1)
			stations += *p;
	for (const char *p = web_type_letters(); *p; p++)
		if (f.types[*p - 'A'] != 1 || fixed.find(*p) != std::string::npos)
			types += *p;
	return { { "freq", f.freq }, { "stations", stations }, { "types", types }, { "fixed_types", fixed } };
}

} // namespace

void web_selections_get(const web_context &ctx, web_response *res)
{
	json list = json::array();
	for (const freq_selection &f : ctx.get_selections())
		list.push_back(selection_json(f));
	json names = json::object();
	for (const char *p = web_type_letters(); *p; p++)
		names[std::string(1, *p)] = web_type_name(*p);
	web_answer(res, 200, json { { "selections", list }, { "station_letters", web_station_letters() },
				{ "type_letters", web_type_letters() }, { "type_names", names } });
}

void web_selections_set(const web_context &ctx, const json &j, web_response *res)
{
	if (!j.contains("freq") || !j["freq"].is_number_integer() || !web_valid_freq(j["freq"].get<int64_t>()))
		return web_fail(res, 400, "freq is 490, 518 or 4209");
	int freq = j["freq"].get<int>();
	for (const char *key : { "stations", "types" })
		if (j.contains(key) && (!j[key].is_string() || j[key].get<std::string>().size() > 26 ||
					!web_letters_in(j[key].get<std::string>(),
						    key[0] == 's' ? web_station_letters() : web_type_letters())))
			return web_fail(res, 400, std::string(key) + " is a string of selectable letters");
	freq_selection sel;
	bool found = false;
	for (const freq_selection &f : ctx.get_selections())
		if (f.freq == freq) {
			sel = f;
			found = true;
		}
	if (!found)
		sel.freq = freq;
	std::string fixed = web_fixed_types(freq);
	if (j.contains("stations")) {
		std::string on = j["stations"].get<std::string>();
		for (const char *p = web_station_letters(); *p; p++)
			sel.stations[*p - 'A'] = on.find(*p) == std::string::npos ? 1 : 0;
	}
	if (j.contains("types")) {
		std::string on = j["types"].get<std::string>();
		for (const char *p = web_type_letters(); *p; p++)
			sel.types[*p - 'A'] = on.find(*p) == std::string::npos &&
				fixed.find(*p) == std::string::npos ? 1 : 0;
	}
	std::string err;
	if (ctx.set_selections(sel, &err) < 0)
		return web_fail(res, 500, err);
	web_selections_get(ctx, res);
}

