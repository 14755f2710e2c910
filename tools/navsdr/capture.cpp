// Capture metadata; see capture.h.
#include "capture.h"

#include <nlohmann/json.hpp>

#include "number_arg.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace navsdr {

bool centre_from_auxi(const unsigned char *d, size_t n, double &hz)
{
	if (n < 36)
		return false;
	const uint32_t v = static_cast<uint32_t>(d[32]) | static_cast<uint32_t>(d[33]) << 8 |
			   static_cast<uint32_t>(d[34]) << 16 | static_cast<uint32_t>(d[35]) << 24;
	if (v == 0)
		return false;
	hz = v;
	return true;
}

bool centre_from_sound_file(SNDFILE *sf, double &hz)
{
	SF_CHUNK_INFO want{};
	memcpy(want.id, "auxi", 4);
	want.id_size = 4;
	SF_CHUNK_ITERATOR *it = sf_get_chunk_iterator(sf, &want);
	while (it) {
		SF_CHUNK_INFO info{};
		if (sf_get_chunk_size(it, &info) != SF_ERR_NO_ERROR || info.datalen == 0 || info.datalen > (1u << 20)) {
			it = sf_next_chunk_iterator(it);
			continue;
		}
		std::vector<unsigned char> data(info.datalen);
		info.data = data.data();
		if (sf_get_chunk_data(it, &info) == SF_ERR_NO_ERROR && centre_from_auxi(data.data(), info.datalen, hz))
			return true;
		it = sf_next_chunk_iterator(it);
	}
	return false;
}

bool centre_from_name(const std::string &path, double &hz)
{
	const size_t slash = path.rfind('/');
	const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
	bool found = false;
	for (size_t k = 0; k < name.size(); k++) {
		// A number that starts here (not inside another one).
		if (!isdigit(static_cast<unsigned char>(name[k])) ||
		    (k > 0 && (isdigit(static_cast<unsigned char>(name[k - 1])) || name[k - 1] == '.')))
			continue;
		size_t e = k;
		while (e < name.size() && (isdigit(static_cast<unsigned char>(name[e])) || name[e] == '.'))
			e++;
		const std::string num = name.substr(k, e - k);
		if (std::count(num.begin(), num.end(), '.') > 1 || num.back() == '.')
			continue;
		double scale = 0;
		auto unit = [&](const char *u) {
			const size_t len = strlen(u);
			if (name.size() - e < len)
				return false;
			for (size_t j = 0; j < len; j++)
				if (tolower(static_cast<unsigned char>(name[e + j])) != u[j])
					return false;
			// The unit ends the word: "_516kHz_", not "_516khzx".
			return e + len == name.size() || !isalpha(static_cast<unsigned char>(name[e + len]));
		};
		if (unit("hz"))
			scale = 1;
		else if (unit("khz"))
			scale = 1e3;
		else if (unit("mhz"))
			scale = 1e6;
		else
			continue;
		const double v = strtod(num.c_str(), nullptr) * scale;
		if (v > 0 && std::isfinite(v)) {
			hz = v;
			found = true;
		}
	}
	return found;
}

std::string parse_sigmf(const std::string &text, Sigmf &out)
{
	using nlohmann::json;
	const json doc = json::parse(text, nullptr, false);
	if (doc.is_discarded() || !doc.is_object())
		return "not a SigMF metadata file (no JSON object)";
	const auto global = doc.find("global");
	if (global == doc.end() || !global->is_object())
		return "no \"global\" object";
	const auto type = global->find("core:datatype");
	if (type == global->end() || !type->is_string())
		return "no \"core:datatype\"";
	const std::string t = type->get<std::string>();
	if (t == "cu8")
		out.format = iq_format::Format::cu8;
	else if (t == "ci8")
		out.format = iq_format::Format::cs8;
	else if (t == "ci16_le")
		out.format = iq_format::Format::cs16;
	else if (t == "cf32_le")
		out.format = iq_format::Format::cf32;
	else
		return "unsupported datatype \"" + t + "\" (navsdr reads cu8, ci8, ci16_le and cf32_le)";
	const auto rate = global->find("core:sample_rate");
	if (rate == global->end() || !rate->is_number())
		return "no \"core:sample_rate\"";
	out.rate = rate->get<double>();
	out.have_centre = false;
	const auto caps = doc.find("captures");
	if (caps != doc.end() && caps->is_array() && !caps->empty() && (*caps)[0].is_object()) {
		const auto f = (*caps)[0].find("core:frequency");
		if (f != (*caps)[0].end() && f->is_number()) {
			out.centre_hz = f->get<double>();
			out.have_centre = std::isfinite(out.centre_hz);
		}
	}
	return "";
}

std::string parse_channel_list(const std::string &list, Settings &s)
{
	size_t start = 0;
	while (start <= list.size()) {
		size_t comma = list.find(',', start);
		if (comma == std::string::npos)
			comma = list.size();
		const std::string item = list.substr(start, comma - start);
		start = comma + 1;
		const size_t eq = item.find('=');
		if (eq == std::string::npos)
			return "bad channel '" + item + "' for -c: write channel=hz, e.g. 518=518300";
		const std::string key = item.substr(0, eq);
		int slot = -1;
		if (key == "490")
			slot = 0;
		else if (key == "518")
			slot = 1;
		else if (key == "4209" || key == "4209.5")
			slot = 2;
		else
			return "unknown channel '" + key + "' for -c: 490, 518 or 4209";
		double hz = 0;
		if (!to_double(item.substr(eq + 1).c_str(), hz) || hz <= 0)
			return "bad frequency in '" + item + "' for -c: give it in Hz";
		s.chan_hz[static_cast<size_t>(slot)] = hz;
		s.given[static_cast<size_t>(slot)] = true;
	}
	return "";
}

} // namespace navsdr
