// Watch mode streams: their plan, the navsynth settings that send it, and
// the scoring of what a chain queued; see watch.h.
#include "watch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace sensitivity {

namespace {

// Lines bulletins are made of; '#' stands for a random digit.  Letters,
// figures and punctuation, so case shifts and their errors take part.
const char *const kTitles[] = {
	"GALE WARNING NR ###", "NAVAREA I ###/26", "WEATHER FORECAST ##00 UTC", "NAV WARNING NR ##",
	"SUBFACTS AND GUNFACTS ##/##", "ICE REPORT ##", "SAR OPERATION ###/26",
};
const char *const kLines[] = {
	"SOUTHWESTERLY GALE FORCE 8 EXPECTED IN SEA AREAS ROCKALL AND MALIN LATER.",
	"VISIBILITY GOOD BECOMING MODERATE IN RAIN. SEA STATE ROUGH OR VERY ROUGH.",
	"ENGLISH CHANNEL. DOVER STRAIT.",
	"BUOY ##-##.#N 00#-##.#E UNLIT.",
	"MARINERS ARE ADVISED TO KEEP CLEAR AND NAVIGATE WITH CAUTION IN THE VICINITY.",
	"FAIR ISLE, FAEROES: NORTHWEST 5 TO 7, OCCASIONALLY GALE 8 LATER.",
	"MODERATE OR ROUGH. SHOWERS. GOOD, OCCASIONALLY POOR.",
	"DRIFTING CONTAINER REPORTED IN POSITION ##-##N 00#-##W AT ##15 UTC.",
	"VESSELS IN THE AREA ARE REQUESTED TO KEEP A SHARP LOOKOUT (SEE NR ##).",
	"CANCEL THIS MESSAGE ##1200 UTC DEC 26.",
	"WIND NE 4 OR 5, VEERING E 6 LATER. SEA SLIGHT OR MODERATE = FAIR.",
};

template <size_t N> const char *pick(const char *const (&from)[N], navsynth::Gauss &g)
{
	return from[std::min(N - 1, size_t(g.uniform() * N))];
}

std::string digits(const char *pattern, navsynth::Gauss &g)
{
	std::string s = pattern;
	for (char &c : s)
		if (c == '#')
			c = char('0' + std::min(9, int(g.uniform() * 10)));
	return s;
}

double between(navsynth::Gauss &g, double lo, double hi)
{
	return lo + (hi - lo) * g.uniform();
}

char letter(navsynth::Gauss &g)
{
	return char('A' + std::min(25, int(g.uniform() * 26)));
}

} // namespace

std::string watch_message::body() const
{
	const size_t nl = text.find('\n');
	return nl == std::string::npos ? "" : text.substr(nl + 1);
}

std::string watch_tx::text() const
{
	std::string t;
	for (const watch_message &m : messages)
		t += (t.empty() ? "" : "\n") + m.text;
	return t;
}

double transmission_seconds(const std::string &text, double ppm)
{
	const int phasing = int(std::lround(kWatchPhasingS * 100 / 14.0));
	const int idle = int(std::lround(kWatchIdleS * 100 / 14.0));
	const size_t codes = navsynth::interleave(navsynth::encode_text(text).codes, phasing, idle).size();
	return double(codes) * 7 / (100.0 * (1.0 + ppm * 1e-6));
}

watch_stream plan_stream(uint64_t seed, int channels, double minutes, double rate)
{
	watch_stream s;
	s.seed = seed;
	s.rate = rate;
	s.length_s = minutes * 60;
	s.channels.resize(size_t(std::max(channels, 0)));
	std::set<std::string> used;
	for (int ch = 0; ch < channels; ch++) {
		navsynth::Gauss g(seed * 7919ull + uint64_t(ch) * 104729ull + 11);
		double t = 0;
		for (;;) {
			watch_tx tx;
			navsynth::TxParams &p = tx.params;
			const double kind = g.uniform();
			p.gap_s = s.channels[ch].empty() ? between(g, 1, 10)
				  : kind < 0.5		 ? between(g, 1, 3)
							 : between(g, 5, 120);
			const bool faded = g.uniform() < 0.2;
			p.snr_db = faded ? between(g, 10, 16) : between(g, 3, 12);
			p.fading_hz = !faded ? 0 : g.uniform() < 0.5 ? 0.2 : 1.0;
			p.offset_hz = between(g, -60, 60);
			p.ppm = between(g, -300, 300);
			const double n = g.uniform();
			const int count = n < 0.6 ? 1 : n < 0.85 ? 2 : 3;
			const char station = letter(g);
			for (int m = 0; m < count; m++) {
				watch_message msg;
				do
					msg.id = std::string(1, station) + letter(g) + digits("##", g);
				while (!used.insert(msg.id).second);
				std::string body = digits(pick(kTitles, g), g);
				for (int l = 1 + int(g.uniform() * 4); l > 0; l--)
					body += "\n" + digits(pick(kLines, g), g);
				msg.text = "ZCZC " + msg.id + "\n" + body + "\nNNNN";
				tx.messages.push_back(msg);
			}
			tx.start_s = t + p.gap_s;
			tx.end_s = tx.start_s + transmission_seconds(tx.text(), p.ppm);
			if (tx.end_s + 1 > s.length_s)
				break;
			// The ids of a transmission that does not fit stay used: the
			// plan of one channel never depends on the others' lengths.
			t = tx.end_s;
			s.channels[ch].push_back(tx);
		}
	}
	return s;
}

navsynth::Config stream_config(const watch_stream &s)
{
	navsynth::Config cfg;
	cfg.channels = int(s.channels.size());
	cfg.rate = s.rate;
	cfg.seed = s.seed;
	cfg.phasing_s = kWatchPhasingS;
	cfg.idle_s = kWatchIdleS;
	cfg.chan.resize(s.channels.size());
	for (size_t ch = 0; ch < s.channels.size(); ch++) {
		navsynth::ChannelConfig &cc = cfg.chan[ch];
		cc.snr_db = kWatchNoiseRefDb;
		double end = 0;
		for (const watch_tx &tx : s.channels[ch]) {
			cc.transmissions.push_back(tx.text());
			cc.tx.push_back(tx.params);
			end = tx.end_s;
		}
		cc.tail_s = std::max(0.0, s.length_s - end);
		// A channel with nothing to send still has the others' noise.
		if (cc.transmissions.empty()) {
			cc.noise_only_sigma = std::sqrt(cc.amplitude * cc.amplitude * s.rate /
							(1000.0 * std::pow(10.0, kWatchNoiseRefDb / 10)));
		}
	}
	return cfg;
}

const char *verdict_name(verdict v)
{
	switch (v) {
	case verdict::ok: return "ok";
	case verdict::errored: return "errors";
	case verdict::missed: return "missed";
	case verdict::never_sent: return "never-sent";
	case verdict::duplicate: return "duplicate";
	}
	return "?";
}

int edit_distance(const std::string &a, const std::string &b)
{
	std::vector<int> prev(b.size() + 1), cur(b.size() + 1);
	for (size_t j = 0; j <= b.size(); j++)
		prev[j] = int(j);
	for (size_t i = 1; i <= a.size(); i++) {
		cur[0] = int(i);
		for (size_t j = 1; j <= b.size(); j++)
			cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0)});
		std::swap(prev, cur);
	}
	return prev[b.size()];
}

std::vector<watch_line> score_stream(const watch_stream &s, const std::vector<queued> &got)
{
	std::vector<watch_line> lines, extra;
	for (size_t ch = 0; ch < s.channels.size(); ch++) {
		const size_t first = lines.size();
		const auto &txs = s.channels[ch];
		for (size_t t = 0; t < txs.size(); t++)
			for (size_t m = 0; m < txs[t].messages.size(); m++) {
				watch_line l;
				l.channel = int(ch);
				l.tx = int(t);
				l.msg = int(m);
				l.id = txs[t].messages[m].id;
				lines.push_back(l);
			}
		for (const queued &q : got) {
			if (q.channel != int(ch))
				continue;
			auto hit = std::find_if(lines.begin() + long(first), lines.end(),
						[&](const watch_line &l) { return l.id == q.id; });
			if (hit == lines.end()) {
				watch_line l;
				l.channel = int(ch);
				l.id = q.id;
				l.v = verdict::never_sent;
				l.at_s = double(q.frame) / s.rate;
				extra.push_back(l);
				continue;
			}
			const std::string ref = txs[size_t(hit->tx)].messages[size_t(hit->msg)].body();
			const double pct = 100.0 * edit_distance(ref, q.text) / double(std::max<size_t>(ref.size(), 1));
			watch_line l = *hit;
			l.at_s = double(q.frame) / s.rate;
			l.wrong_pct = pct;
			l.marked = q.errors;
			l.v = pct < 4.0 ? verdict::ok : verdict::errored;
			if (hit->v != verdict::missed) {
				// A second copy: the better one stands for the message.
				watch_line worse = hit->wrong_pct <= pct ? l : *hit;
				if (hit->wrong_pct > pct)
					*hit = l;
				worse.tx = worse.msg = -1;
				worse.v = verdict::duplicate;
				extra.push_back(worse);
			} else {
				*hit = l;
			}
		}
	}
	lines.insert(lines.end(), extra.begin(), extra.end());
	return lines;
}

void watch_tally::add(const watch_tally &o)
{
	sent += o.sent;
	ok += o.ok;
	errored += o.errored;
	missed += o.missed;
	fade02_sent += o.fade02_sent;
	fade02_ok += o.fade02_ok;
	fade1_sent += o.fade1_sent;
	fade1_ok += o.fade1_ok;
	never_sent += o.never_sent;
	duplicates += o.duplicates;
}

watch_tally tally(const watch_stream &s, const std::vector<watch_line> &lines, int channel)
{
	watch_tally t;
	for (const watch_line &l : lines) {
		if (l.channel != channel)
			continue;
		if (l.v == verdict::never_sent) {
			t.never_sent++;
			continue;
		}
		if (l.v == verdict::duplicate) {
			t.duplicates++;
			continue;
		}
		const double f = s.channels[size_t(channel)][size_t(l.tx)].params.fading_hz;
		const bool ok = l.v == verdict::ok;
		if (f == 0) {
			t.sent++;
			t.ok += ok;
			t.errored += l.v == verdict::errored;
			t.missed += l.v == verdict::missed;
		} else if (f < 0.5) {
			t.fade02_sent++;
			t.fade02_ok += ok;
		} else {
			t.fade1_sent++;
			t.fade1_ok += ok;
		}
	}
	return t;
}

namespace {

// A queued identifier can hold any character the chain decoded: control
// characters are written escaped, and a comma or quote puts it in quotes.
std::string csv_id(const std::string &id)
{
	std::string out;
	bool quote = false;
	for (char c : id) {
		if (c == '\n')
			out += "\\n";
		else if (static_cast<unsigned char>(c) < 32 || c == 127) {
			char buf[8];
			snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
			out += buf;
		} else {
			quote |= c == ',' || c == '"';
			out += c == '"' ? std::string("\"\"") : std::string(1, c);
		}
	}
	return quote ? "\"" + out + "\"" : out;
}

} // namespace

std::string watch_csv_header()
{
	return "seed,chain,channel,tx,msg,id,tx_start_s,gap_s,snr_db,offset_hz,ppm,fading_hz,chars,verdict,wrong_pct,"
	       "marked";
}

std::string watch_csv_line(const watch_stream &s, const std::string &chain, const watch_line &l)
{
	char buf[512];
	if (l.tx < 0) {
		// Its start: where the chain read "ZCZC".
		snprintf(buf, sizeof buf, "%llu,%s,%d,,,%s,%.0f,,,,,,,%s,%.2f,%d", (unsigned long long)s.seed,
			 chain.c_str(), l.channel, csv_id(l.id).c_str(), l.at_s, verdict_name(l.v), l.wrong_pct, l.marked);
		return buf;
	}
	const watch_tx &tx = s.channels[size_t(l.channel)][size_t(l.tx)];
	const navsynth::TxParams &p = tx.params;
	snprintf(buf, sizeof buf, "%llu,%s,%d,%d,%d,%s,%.1f,%.1f,%.1f,%.1f,%.0f,%g,%zu,%s,%.2f,%d",
		 (unsigned long long)s.seed, chain.c_str(), l.channel, l.tx, l.msg, l.id.c_str(), tx.start_s, p.gap_s,
		 p.snr_db, p.offset_hz, p.ppm, p.fading_hz, tx.messages[size_t(l.msg)].body().size(), verdict_name(l.v),
		 l.wrong_pct, l.marked);
	return buf;
}

} // namespace sensitivity
