// Sensitivity cases: synthesis, in-process decoding, scoring, CSV.
#include "sensitivity.h"

#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "navsynth.h"

namespace sensitivity {

namespace {

// Bulletins with letters, figures and punctuation, so that case shifts and
// their errors take part.
const char *const kBodies[] = {
	"GALE WARNING NR 123\nSOUTHWESTERLY GALE FORCE 8 EXPECTED IN SEA AREAS ROCKALL AND MALIN "
	"LATER. VISIBILITY GOOD BECOMING MODERATE IN RAIN. SEA STATE ROUGH OR VERY ROUGH.",
	"NAVAREA I 214/26\nENGLISH CHANNEL. DOVER STRAIT.\nBUOY 51-02.3N 001-31.6E UNLIT. "
	"MARINERS ARE ADVISED TO KEEP CLEAR AND NAVIGATE WITH CAUTION IN THE VICINITY.",
	"WEATHER FORECAST 0600 UTC\nFAIR ISLE, FAEROES: NORTHWEST 5 TO 7, OCCASIONALLY GALE 8 LATER. "
	"MODERATE OR ROUGH. SHOWERS. GOOD, OCCASIONALLY POOR.",
};
const char *const kIds[] = {"SA42", "LA14", "EB63"};

std::string fmt(double v)
{
	char buf[64];
	std::snprintf(buf, sizeof buf, "%.10g", v);
	return buf;
}

double column(const condition &c, const std::string &axis)
{
	if (axis == "snr_db")
		return c.snr_db;
	if (axis == "offset_hz")
		return c.offset_hz;
	if (axis == "ppm")
		return c.ppm;
	if (axis == "fading_hz")
		return c.fading_hz;
	return NAN;
}

} // namespace

std::string strip_marks(const std::string &echo)
{
	std::string out;
	for (char ch : echo)
		if (std::strchr("rsabclf", ch) == nullptr || ch == 0)
			out += ch;
	return out;
}

int fitting_distance(const std::string &reference, const std::string &echo)
{
	// Row i: reference prefix of length i against echo prefixes; the
	// first row is all zeros (the stretch may start anywhere) and the
	// answer is the smallest entry of the last row (end anywhere).
	std::vector<int> prev(echo.size() + 1, 0), cur(echo.size() + 1);
	for (size_t i = 1; i <= reference.size(); i++) {
		cur[0] = int(i);
		for (size_t j = 1; j <= echo.size(); j++)
			cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1,
					   prev[j - 1] + (reference[i - 1] != echo[j - 1] ? 1 : 0)});
		std::swap(prev, cur);
	}
	return *std::min_element(prev.begin(), prev.end());
}

int unmarked_errors(const std::string &reference, const std::string &echo)
{
	// The same fitting, carrying the unmarked edits along; among fittings
	// with the fewest edits the one with the fewest unmarked counts.
	using cell = std::pair<int, int>; // edits, unmarked
	std::vector<cell> prev(echo.size() + 1, {0, 0}), cur(echo.size() + 1);
	for (size_t i = 1; i <= reference.size(); i++) {
		cur[0] = {int(i), int(i)};
		for (size_t j = 1; j <= echo.size(); j++) {
			const bool same = reference[i - 1] == echo[j - 1];
			const bool marked = echo[j - 1] == '*';
			cell sub = {prev[j - 1].first + !same, prev[j - 1].second + (!same && !marked)};
			cell del = {prev[j].first + 1, prev[j].second + 1};
			cell ins = {cur[j - 1].first + 1, cur[j - 1].second + !marked};
			cur[j] = std::min({sub, del, ins});
		}
		std::swap(prev, cur);
	}
	return std::min_element(prev.begin(), prev.end())->second;
}

std::string message_id(uint64_t seed)
{
	return kIds[seed % 3];
}

std::string message_text(uint64_t seed)
{
	return "ZCZC " + message_id(seed) + "\n" + kBodies[seed % 3] + "\nNNNN";
}

std::string record(const navsynth::Config &cfg, int &fd)
{
	fd = scratch_fd("recording");
	if (fd < 0)
		return std::string("cannot make a scratch file: ") + strerror(errno);
	FILE *rf = fdopen(dup(fd), "w");
	std::string err = rf ? navsynth::write_recording(cfg, rf, nullptr) : "fdopen failed";
	if (rf && fclose(rf) != 0 && err.empty())
		err = std::string("cannot write the recording: ") + strerror(errno);
	if (!err.empty()) {
		close(fd);
		fd = -1;
		return "navsynth: " + err;
	}
	return "";
}

int transmissions_per_case(const std::string &sweep)
{
	return sweep == "offset" || sweep == "ppm" || sweep == "fading" ? 2 : 1;
}

std::string run_case(const condition &c, outcome &out)
{
	out = outcome{};
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.rate = c.rate;
	cfg.seed = c.seed;
	cfg.chan.resize(1);
	navsynth::ChannelConfig &ch = cfg.chan[0];
	// Consecutive transmissions carry other texts, so each is scored on
	// its own; the next seed's text has another identifier.
	const int sent = transmissions_per_case(c.sweep);
	for (int k = 0; k < sent; k++)
		ch.transmissions.push_back(message_text(c.seed + uint64_t(k)));
	ch.snr_db = c.snr_db;
	ch.offset_hz = c.offset_hz;
	ch.ppm = c.ppm;
	ch.fading_hz = c.fading_hz;

	int rec = -1;
	std::string err = record(cfg, rec);
	if (!err.empty())
		return err;
	decoded d;
	err = decode_recording(rec, c.chain, d);
	close(rec);
	if (!err.empty())
		return err;

	const std::string echo = strip_marks(d.echo);
	out.locked = !d.echo.empty();
	int queued = 0;
	for (int k = 0; k < sent; k++) {
		const std::string id = message_id(c.seed + uint64_t(k));
		for (size_t m = 0; m < d.ids.size(); m++)
			if (d.ids[m] == id) {
				out.msg_errors = std::max(out.msg_errors, 0) + d.errors[m];
				queued++;
				break;
			}
		const std::string ref = message_text(c.seed + uint64_t(k));
		out.ref_chars += int(ref.size());
		out.wrong_chars += fitting_distance(ref, echo);
		out.unmarked += unmarked_errors(ref, echo);
	}
	out.msg_ok = queued == sent;
	return "";
}

std::string csv_header()
{
	return "sweep,chain,rate,snr_db,offset_hz,ppm,fading_hz,seed,ref_chars,wrong_chars,cer,locked,msg_ok,msg_errors";
}

std::string csv_line(const row &r)
{
	const condition &c = r.cond;
	const outcome &o = r.out;
	return c.sweep + "," + c.chain + "," + fmt(c.rate) + "," + fmt(c.snr_db) + "," + fmt(c.offset_hz) + "," + fmt(c.ppm) +
	       "," + fmt(c.fading_hz) + "," + std::to_string(c.seed) + "," + std::to_string(o.ref_chars) + "," +
	       std::to_string(o.wrong_chars) + "," + fmt(o.cer()) + "," + (o.locked ? "1" : "0") + "," +
	       (o.msg_ok ? "1" : "0") + "," + std::to_string(o.msg_errors);
}

std::string parse_csv(const std::string &text, std::vector<row> &rows)
{
	std::istringstream in(text);
	std::string line;
	int lineno = 0;
	while (std::getline(in, line)) {
		lineno++;
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		if (line.empty() || line == csv_header())
			continue;
		std::vector<std::string> f;
		std::string field;
		std::istringstream ls(line);
		while (std::getline(ls, field, ','))
			f.push_back(field);
		if (!line.empty() && line.back() == ',')
			f.push_back("");
		const std::string where = "line " + std::to_string(lineno) + ": ";
		if (f.size() != 14)
			return where + std::to_string(f.size()) + " fields, not 14";
		if (f[0].empty())
			return where + "no sweep name";
		if (f[1] != "specified" && f[1] != "enhanced")
			return where + "unknown chain \"" + f[1] + "\"";
		row r;
		r.cond.sweep = f[0];
		r.cond.chain = f[1];
		f.erase(f.begin() + 1);
		try {
			size_t used = 0;
			auto num = [&](const std::string &s) {
				double v = std::stod(s, &used);
				if (used != s.size() || !std::isfinite(v))
					throw std::invalid_argument(s);
				return v;
			};
			auto whole = [&](const std::string &s) {
				long long v = std::stoll(s, &used);
				if (used != s.size())
					throw std::invalid_argument(s);
				return v;
			};
			r.cond.rate = num(f[1]);
			r.cond.snr_db = num(f[2]);
			r.cond.offset_hz = num(f[3]);
			r.cond.ppm = num(f[4]);
			r.cond.fading_hz = num(f[5]);
			long long seed = whole(f[6]);
			r.out.ref_chars = int(whole(f[7]));
			r.out.wrong_chars = int(whole(f[8]));
			num(f[9]); // the rate is recomputed from the counts
			long long locked = whole(f[10]), ok = whole(f[11]);
			r.out.msg_errors = int(whole(f[12]));
			if (seed < 0 || locked < 0 || locked > 1 || ok < 0 || ok > 1 || r.out.ref_chars <= 0 ||
			    r.out.wrong_chars < 0 || r.out.wrong_chars > r.out.ref_chars)
				return where + "value out of range";
			r.cond.seed = uint64_t(seed);
			r.out.locked = locked == 1;
			r.out.msg_ok = ok == 1;
		} catch (const std::exception &) {
			return where + "not a number where one belongs";
		}
		rows.push_back(r);
	}
	return "";
}

std::vector<std::string> chains(const std::vector<row> &rows)
{
	std::vector<std::string> names;
	for (const char *known : {"specified", "enhanced"})
		for (const row &r : rows)
			if (r.cond.chain == known) {
				names.push_back(known);
				break;
			}
	for (const row &r : rows)
		if (std::find(names.begin(), names.end(), r.cond.chain) == names.end())
			names.push_back(r.cond.chain);
	return names;
}

std::vector<point> aggregate(const std::vector<row> &rows, const std::string &sweep, double rate,
			     const std::string &axis, const std::string &chain)
{
	std::map<double, point> by_x;
	for (const row &r : rows) {
		if (r.cond.sweep != sweep || r.cond.chain != chain || std::fabs(r.cond.rate - rate) > 1e-6)
			continue;
		const double x = column(r.cond, axis);
		if (std::isnan(x))
			continue;
		point &p = by_x[x];
		p.x = x;
		p.cases++;
		p.cer += r.out.cer();
		p.msg_rate += r.out.msg_ok;
		p.lock_rate += r.out.locked;
	}
	std::vector<point> pts;
	for (auto &[x, p] : by_x) {
		p.cer /= p.cases;
		p.msg_rate /= p.cases;
		p.lock_rate /= p.cases;
		pts.push_back(p);
	}
	return pts;
}

double threshold_from_below(const std::vector<point> &pts, double limit)
{
	double t = NAN;
	for (auto it = pts.rbegin(); it != pts.rend() && it->cer < limit; ++it)
		t = it->x;
	return t;
}

range working_range(const std::vector<point> &pts, double limit)
{
	range r;
	// Start at the point nearest to 0.
	size_t z = 0;
	for (size_t i = 1; i < pts.size(); i++)
		if (std::fabs(pts[i].x) < std::fabs(pts[z].x))
			z = i;
	if (pts.empty() || pts[z].cer >= limit) {
		r.lo_broke = r.hi_broke = true;
		r.lo = r.hi = NAN;
		return r;
	}
	r.lo = r.hi = pts[z].x;
	for (size_t i = z + 1; i < pts.size(); i++) {
		if (pts[i].cer >= limit) {
			r.hi_broke = true;
			break;
		}
		r.hi = pts[i].x;
	}
	for (size_t i = z; i-- > 0;) {
		if (pts[i].cer >= limit) {
			r.lo_broke = true;
			break;
		}
		r.lo = pts[i].x;
	}
	return r;
}

} // namespace sensitivity
