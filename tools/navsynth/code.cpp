// NAVTEX transmitter model, the code: characters to seven-unit code
// points with their shifts, the DX/RX interleaving of a transmission, and
// message files split into transmissions; see navsynth.h.
#include <algorithm>

#include "navsynth.h"

namespace navsynth {

namespace {

// Code points written in the order the units are sent.
Code make(const char *units)
{
	uint8_t b = 0;
	for (int j = 0; j < 7; j++)
		if (units[j] == '1')
			b |= static_cast<uint8_t>(1u << j);
	return Code{b};
}

struct Letter {
	char letter;
	char figure; // 0: none usable in figures case
	const char *units;
};

const Letter kLetters[] = {
	{'A', '-', "1110001"}, {'B', '?', "0100111"}, {'C', ':', "1011100"},
	{'D', 0, "1100101"},   {'E', '3', "0110101"}, {'F', 0, "1101100"},
	{'G', 0, "1010110"},   {'H', 0, "1001011"},   {'I', '8', "1011001"},
	{'J', 0, "1110100"},   {'K', '(', "0111100"}, {'L', ')', "1010011"},
	{'M', '.', "1001110"}, {'N', ',', "1001101"}, {'O', '9', "1000111"},
	{'P', '0', "1011010"}, {'Q', '1', "0111010"}, {'R', '4', "1010101"},
	{'S', '`', "1101001"}, {'T', '5', "0010111"}, {'U', '7', "0111001"},
	{'V', '=', "0011110"}, {'W', '2', "1110010"}, {'X', '/', "0101110"},
	{'Y', '6', "1101010"}, {'Z', '+', "1100011"},
};

const Code kCr = make("0001111");
const Code kLf = make("0011011");
const Code kSpace = make("0011101");

} // namespace

Code code_letters() { return make("0101101"); }
Code code_figures() { return make("0110110"); }
Code code_alpha() { return make("1111000"); }
Code code_beta() { return make("1100110"); }
Code code_rq() { return make("0110011"); }

Encoded encode_text(const std::string &text)
{
	Encoded e;
	Case cur = Case::letters;
	auto shift_to = [&](Case want) {
		if (cur != want) {
			e.codes.push_back(want == Case::letters ? code_letters() : code_figures());
			cur = want;
		}
	};
	for (size_t pos = 0; pos < text.size(); pos++) {
		char c = text[pos];
		if (c == '\r')
			continue; // a newline already brings its carriage return
		if (c == '\n') {
			e.codes.push_back(kCr);
			e.codes.push_back(kLf);
			continue;
		}
		if (c == ' ') {
			e.codes.push_back(kSpace);
			continue;
		}
		if (c >= 'a' && c <= 'z')
			c = static_cast<char>(c - 'a' + 'A');
		if (c == '\'')
			c = '`';
		const Letter *hit = nullptr;
		bool figure = false;
		for (const Letter &l : kLetters) {
			if (l.letter == c) {
				hit = &l;
				break;
			}
			if (l.figure == c) {
				hit = &l;
				figure = true;
				break;
			}
		}
		if (!hit) {
			e.codes.clear();
			e.error = "cannot send character ";
			if (static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) < 127)
				e.error += std::string("'") + c + "'";
			else
				e.error += "code " + std::to_string(static_cast<unsigned char>(c));
			e.error += " at offset " + std::to_string(pos);
			return e;
		}
		shift_to(figure ? Case::figures : Case::letters);
		e.codes.push_back(make(hit->units));
	}
	return e;
}

std::vector<Code> interleave(const std::vector<Code> &text, int phasing, int idle)
{
	// DX stream: phasing signal 1, the text, then alpha.
	std::vector<Code> dx;
	dx.insert(dx.end(), static_cast<size_t>(std::max(phasing, 0)), code_rq());
	dx.insert(dx.end(), text.begin(), text.end());
	dx.insert(dx.end(), static_cast<size_t>(std::max(idle, 0)), code_alpha());
	// Each RX slot repeats the DX character sent five slots earlier, the
	// one two pairs back; during phasing and before the first repetition
	// it carries phasing signal 2 (alpha).  Two more pairs at the end let
	// the last repetitions out.
	std::vector<Code> out;
	size_t pairs = dx.size() + 2;
	out.reserve(pairs * 2);
	for (size_t m = 0; m < pairs; m++) {
		out.push_back(m < dx.size() ? dx[m] : code_alpha());
		size_t back = m >= 2 ? m - 2 : 0;
		bool repeat = m >= 2 && back >= static_cast<size_t>(std::max(phasing, 0)) && back < dx.size();
		out.push_back(repeat ? dx[back] : code_alpha());
	}
	return out;
}

std::vector<std::string> split_messages(const std::string &file_text)
{
	std::vector<std::string> out;
	std::string cur;
	size_t start = 0;
	while (start < file_text.size()) {
		size_t nl = file_text.find('\n', start);
		size_t end = nl == std::string::npos ? file_text.size() : nl + 1;
		std::string line = file_text.substr(start, end - start);
		cur += line;
		std::string bare = line;
		while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r' || bare.back() == ' '))
			bare.pop_back();
		if (bare == "NNNN") {
			if (cur.back() != '\n')
				cur += '\n';
			out.push_back(cur);
			cur.clear();
		}
		start = end;
	}
	if (cur.find_first_not_of(" \r\n\t") != std::string::npos)
		out.push_back(cur);
	return out;
}

} // namespace navsynth
