// Test helper: cuts a stream of feedmock GETMSG replies into messages.
#pragma once

#include <string>
#include <vector>

namespace th {

struct fm_message {
	std::string freq, id, body;
};

// "GETMSG:\n" freq "\nZCZC\n" id "\n" body "NNNN\n", repeated.  Anything
// that does not fit ends the list, so a malformed reply shows as missing.
inline std::vector<fm_message> split_replies(const std::string &s)
{
	std::vector<fm_message> out;
	size_t p = 0;
	const std::string head = "GETMSG:\n";
	while (s.compare(p, head.size(), head) == 0) {
		p += head.size();
		size_t f_end = s.find('\n', p);
		if (f_end == std::string::npos || s.compare(f_end, 6, "\nZCZC\n") != 0)
			break;
		size_t id_start = f_end + 6;
		size_t id_end = s.find('\n', id_start);
		size_t end = s.find("NNNN\n", id_start);
		if (id_end == std::string::npos || end == std::string::npos || end < id_end)
			break;
		out.push_back({s.substr(p, f_end - p), s.substr(id_start, id_end - id_start),
			       s.substr(id_end + 1, end - id_end - 1)});
		p = end + 5;
	}
	return out;
}

// Two letters from first..last and two digits.
inline bool is_identifier(const std::string &id, char first = 'A', char last = 'Z')
{
	return id.size() == 4 && id[0] >= first && id[0] <= last && id[1] >= first &&
	       id[1] <= last && id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9';
}

} // namespace th
