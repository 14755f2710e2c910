// sensitivity: sweeps SNR and impairments over synthesized transmissions,
// decodes each with the daemon's chain, writes a CSV of the cases, PNG
// charts of the mean figures (drawn by gnuplot; GNUPLOT in the environment
// names another program) and a summary on standard output.  Every chain in
// the cases gets its own series and table columns.
//
//   sensitivity [-n seeds] [-o cases.csv] [-d plot-folder]   run the sweeps
//   sensitivity -c cases.csv [-d plot-folder]                from a CSV
//   sensitivity -w parts [-n seeds] [-m minutes] [-k channels] [-N case-seeds]
//               [-t tail-minutes] [-o messages.csv]           watch mode
// Watch mode parts: s streams, p two transmissions a second apart, m a
// recording joined mid-message (or "all").
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "charts.h"
#include "sensitivity.h"
#include "watch_main.h"

using namespace sensitivity;

namespace {

constexpr double kBoardRate = 1707.65;
constexpr double kNominalRate = 1700.0;
// Impairment sweeps run at this SNR: a signal that decodes cleanly
// without the impairment.
constexpr double kImpairmentSnr = 10.0;
constexpr double kLimit = 0.01; // "working": mean CER below 1 %

std::vector<condition> plan(int seeds)
{
	std::vector<condition> cs;
	// Both chains decode the same recordings, side by side.
	auto add = [&](condition c) {
		for (const char *chain : {"specified", "enhanced"})
			for (int s = 1; s <= seeds; s++) {
				c.seed = uint64_t(s);
				c.chain = chain;
				cs.push_back(c);
			}
	};
	for (double rate : {kBoardRate, kNominalRate})
		for (int snr = -3; snr <= 15; snr++)
			add({"snr", "specified", rate, double(snr), 0, 0, 0, 0});
	for (double rate : {kBoardRate, kNominalRate}) {
		// Out to where the enhanced chain's frequency search (+-127 Hz) ends.
		for (int off = -120; off <= 120; off += 5)
			add({"offset", "specified", rate, kImpairmentSnr, double(off), 0, 0, 0});
		// Fine steps within the +-500 ppm of real transmitters, then coarse
		// ones out to where the bit clock gives up.
		for (int ppm = -8000; ppm <= 8000; ppm += ppm >= -1000 && ppm < 1000 ? 100 : 1000)
			add({"ppm", "specified", rate, kImpairmentSnr, 0, double(ppm), 0, 0});
	}
	for (double f : {0.0, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0})
		add({"fading", "specified", kBoardRate, kImpairmentSnr, 0, 0, f, 0});
	return cs;
}

constexpr double kCerFloor = 0.01; // per cent: the log axis's floor, where zero is drawn

const char *rate_name(double rate)
{
	return rate == kBoardRate ? "1707.65 frames/s" : "1700 frames/s";
}

// One series per chain and rate: colour by chain, dashes for 1700.
void add_series(panel &p, const std::vector<row> &rows, const std::vector<std::string> &names,
		const char *sweep, const char *axis, const std::vector<double> &rates, double point::*field)
{
	for (size_t k = 0; k < names.size(); k++)
		for (double rate : rates) {
			series s;
			s.title = names[k] + ", " + rate_name(rate);
			s.colour = int(k);
			s.dash = rate == kBoardRate ? 0 : 1;
			for (const point &pt : aggregate(rows, sweep, rate, axis, names[k])) {
				s.x.push_back(pt.x);
				s.y.push_back(100.0 * (pt.*field));
			}
			if (!s.x.empty())
				p.lines.push_back(s);
		}
}

panel cer_panel()
{
	panel p;
	p.ylabel = "CER (%), zero drawn at 0.01";
	p.log_y = true;
	p.ymin = kCerFloor;
	p.ymax = 100;
	p.yref = 100 * kLimit;
	return p;
}

panel percent_panel(const std::string &ylabel)
{
	panel p;
	p.ylabel = ylabel;
	p.ymin = 0;
	p.ymax = 100;
	return p;
}

// Draws the chart unless it has no points (a CSV without that sweep);
// false when gnuplot fails.
bool save(const chart &c, const std::string &dir, const std::string &name, const std::string &gnuplot)
{
	bool any = false;
	for (const panel &p : c.panels)
		any |= !p.lines.empty();
	if (!any) {
		fprintf(stderr, "sensitivity: no cases for %s, not drawn\n", name.c_str());
		return true;
	}
	const std::string path = dir + "/" + name;
	const std::string err = draw_chart(c, path, gnuplot);
	if (!err.empty()) {
		fprintf(stderr, "sensitivity: %s: %s\n", path.c_str(), err.c_str());
		return false;
	}
	return true;
}

bool plots(const std::vector<row> &rows, const std::string &dir, const std::string &gnuplot)
{
	const std::vector<std::string> names = chains(rows);
	const std::vector<double> both = {kBoardRate, kNominalRate};

	chart c;
	c.title = "Character error rate against SNR";
	c.xlabel = "SNR in 500 Hz (dB)";
	c.panels = {cer_panel()};
	add_series(c.panels[0], rows, names, "snr", "snr_db", both, &point::cer);
	if (!save(c, dir, "cer_vs_snr.png", gnuplot))
		return false;

	c.title = "Messages and bit clock lock against SNR";
	c.panels = {percent_panel("messages queued (%)"), percent_panel("bit clock locked (%)")};
	add_series(c.panels[0], rows, names, "snr", "snr_db", both, &point::msg_rate);
	add_series(c.panels[1], rows, names, "snr", "snr_db", both, &point::lock_rate);
	if (!save(c, dir, "messages_vs_snr.png", gnuplot))
		return false;

	struct imp {
		const char *sweep, *axis, *file, *title, *xlabel;
		double xmin, xmax;
	};
	const imp imps[] = {
		{"offset", "offset_hz", "impairment_offset.png", "Carrier offset at SNR 10 dB", "offset (Hz)", NAN, NAN},
		{"ppm", "ppm", "impairment_ppm.png", "Bit-rate error at SNR 10 dB", "bit-rate error (ppm)", NAN, NAN},
		{"ppm", "ppm", "impairment_ppm_zoom.png", "Bit-rate error at SNR 10 dB, within 1000 ppm",
		 "bit-rate error (ppm)", -1000, 1000},
		{"fading", "fading_hz", "impairment_fading.png", "Rayleigh fading at SNR 10 dB (mean)",
		 "Doppler spread (Hz)", NAN, NAN},
	};
	for (const imp &i : imps) {
		c.title = i.title;
		c.xlabel = i.xlabel;
		c.xmin = i.xmin;
		c.xmax = i.xmax;
		c.panels = {cer_panel(), percent_panel("messages queued (%)")};
		add_series(c.panels[0], rows, names, i.sweep, i.axis, both, &point::cer);
		add_series(c.panels[1], rows, names, i.sweep, i.axis, both, &point::msg_rate);
		if (!save(c, dir, i.file, gnuplot))
			return false;
	}
	return true;
}

std::string show(double v, const char *unit)
{
	if (std::isnan(v))
		return "none";
	char buf[64];
	snprintf(buf, sizeof buf, "%g %s", v, unit);
	return buf;
}

// The chains side by side: per x value each chain's CER, messages and lock.
void table(const std::vector<row> &rows, const std::vector<std::string> &names, const char *sweep, double rate,
	   const char *axis, const char *xname)
{
	std::map<double, std::vector<const point *>> by_x;
	std::vector<std::vector<point>> per_chain;
	for (const std::string &n : names)
		per_chain.push_back(aggregate(rows, sweep, rate, axis, n));
	for (size_t k = 0; k < names.size(); k++)
		for (const point &p : per_chain[k]) {
			auto &v = by_x[p.x];
			v.resize(names.size(), nullptr);
			v[k] = &p;
		}
	if (by_x.empty()) {
		printf("no cases\n\n");
		return;
	}
	const bool several = names.size() > 1;
	printf("| %s | cases |", xname);
	for (const std::string &n : names)
		if (several)
			printf(" CER %% %s | messages %% %s | lock %% %s |", n.c_str(), n.c_str(), n.c_str());
		else
			printf(" CER %% | messages %% | lock %% |");
	printf("\n|---|---|");
	for (size_t k = 0; k < names.size(); k++)
		printf("---|---|---|");
	printf("\n");
	for (const auto &[x, v] : by_x) {
		std::string cases;
		for (const point *p : v) {
			const std::string n = p ? std::to_string(p->cases) : "0";
			if (cases.empty() || cases != n)
				cases += (cases.empty() ? "" : "/") + n;
		}
		printf("| %g | %s |", x, cases.c_str());
		for (const point *p : v)
			if (p)
				printf(" %.2f | %.0f | %.0f |", 100 * p->cer, 100 * p->msg_rate, 100 * p->lock_rate);
			else
				printf(" - | - | - |");
		printf("\n");
	}
	printf("\n");
}

void summary(const std::vector<row> &rows)
{
	const std::vector<std::string> names = chains(rows);
	for (const std::string &n : names) {
		const char *chain = n.c_str();
		printf("%s chain: SNR from which the mean CER stays below 1 %%: %s at 1707.65 frames/s, %s at 1700 "
		       "frames/s\n",
		       chain, show(threshold_from_below(aggregate(rows, "snr", kBoardRate, "snr_db", n), kLimit), "dB").c_str(),
		       show(threshold_from_below(aggregate(rows, "snr", kNominalRate, "snr_db", n), kLimit), "dB").c_str());
		struct imp {
			const char *sweep, *axis, *unit;
		};
		for (const imp &i : {imp{"offset", "offset_hz", "Hz"}, imp{"ppm", "ppm", "ppm"}})
			for (double rate : {kBoardRate, kNominalRate}) {
				auto pts = aggregate(rows, i.sweep, rate, i.axis, n);
				range r = working_range(pts, kLimit);
				printf("%s chain: %s at SNR %g dB, %g frames/s: CER below 1 %% from %s%s to %s%s\n", chain,
				       i.sweep, kImpairmentSnr, rate, show(r.lo, i.unit).c_str(),
				       r.lo_broke ? "" : " (end of sweep)", show(r.hi, i.unit).c_str(),
				       r.hi_broke ? "" : " (end of sweep)");
			}
	}
	printf("\n");
	printf("SNR sweep, 1707.65 frames/s:\n\n");
	table(rows, names, "snr", kBoardRate, "snr_db", "SNR dB");
	printf("SNR sweep, 1700 frames/s:\n\n");
	table(rows, names, "snr", kNominalRate, "snr_db", "SNR dB");
	for (double rate : {kBoardRate, kNominalRate}) {
		printf("Carrier offset, SNR %g dB, %g frames/s:\n\n", kImpairmentSnr, rate);
		table(rows, names, "offset", rate, "offset_hz", "offset Hz");
		printf("Bit-rate error, SNR %g dB, %g frames/s:\n\n", kImpairmentSnr, rate);
		table(rows, names, "ppm", rate, "ppm", "ppm");
	}
	printf("Fading, SNR %g dB:\n\n", kImpairmentSnr);
	table(rows, names, "fading", kBoardRate, "fading_hz", "Doppler Hz");
}

int usage()
{
	fprintf(stderr, "usage: sensitivity [-n seeds] [-o cases.csv] [-d plot-folder]\n"
			"       sensitivity -c cases.csv [-d plot-folder]\n"
			"       sensitivity -w s|p|m|all [-n seeds] [-m minutes] [-k channels] [-N case-seeds]\n"
			"                   [-t tail-minutes] [-o messages.csv]\n"
			"watch mode (-w): s streams of consecutive transmissions (default 3 seeds, 60 minutes,\n"
			"3 channels), p two transmissions a second apart, m a recording joined mid-message\n"
			"that then goes dead for tail-minutes (default 10); p and m take case-seeds (default 10)\n");
	return 2;
}

} // namespace

int main(int argc, char **argv)
{
	int seeds = 20;
	bool seeds_given = false;
	std::string out_csv, in_csv, dir;
	watch_options w;
	bool watch = false, watch_only = false;
	int c;
	while ((c = getopt(argc, argv, "n:o:c:d:w:m:k:N:t:h")) != -1) {
		switch (c) {
		case 'n':
			seeds = atoi(optarg);
			seeds_given = true;
			if (seeds < 1 || seeds > 1000) {
				fprintf(stderr, "sensitivity: seeds must be 1 to 1000\n");
				return 2;
			}
			break;
		case 'o':
			out_csv = optarg;
			break;
		case 'c':
			in_csv = optarg;
			break;
		case 'd':
			dir = optarg;
			break;
		case 'w':
			watch = true;
			[[fallthrough]];
		case 'm':
		case 'k':
		case 'N':
		case 't': {
			watch_only |= c != 'w';
			const std::string err = watch_option(c, optarg, w);
			if (!err.empty()) {
				fprintf(stderr, "sensitivity: %s\n", err.c_str());
				return 2;
			}
			break;
		}
		default:
			return usage();
		}
	}
	if (watch) {
		if (optind != argc || !in_csv.empty() || !dir.empty())
			return usage();
		if (seeds_given)
			w.seeds = seeds;
		w.csv = out_csv;
		return watch_mode(w);
	}
	if (watch_only || optind != argc || (!in_csv.empty() && !out_csv.empty()))
		return usage();

	std::vector<row> rows;
	if (!in_csv.empty()) {
		std::ifstream in(in_csv);
		if (!in) {
			fprintf(stderr, "sensitivity: cannot read %s\n", in_csv.c_str());
			return 1;
		}
		std::stringstream ss;
		ss << in.rdbuf();
		std::string err = parse_csv(ss.str(), rows);
		if (!err.empty()) {
			fprintf(stderr, "sensitivity: %s: %s\n", in_csv.c_str(), err.c_str());
			return 1;
		}
	} else {
		FILE *csv = nullptr;
		if (!out_csv.empty() && !(csv = fopen(out_csv.c_str(), "w"))) {
			fprintf(stderr, "sensitivity: cannot write %s\n", out_csv.c_str());
			return 1;
		}
		if (csv)
			fprintf(csv, "%s\n", csv_header().c_str());
		const auto cases = plan(seeds);
		for (size_t k = 0; k < cases.size(); k++) {
			row r{cases[k], {}};
			std::string err = run_case(r.cond, r.out);
			if (!err.empty()) {
				fprintf(stderr, "sensitivity: %s\n", err.c_str());
				return 1;
			}
			rows.push_back(r);
			if (csv)
				fprintf(csv, "%s\n", csv_line(r).c_str());
			if ((k + 1) % 100 == 0)
				fprintf(stderr, "sensitivity: %zu of %zu cases\n", k + 1, cases.size());
		}
		if (csv && fclose(csv) != 0) {
			fprintf(stderr, "sensitivity: cannot write %s\n", out_csv.c_str());
			return 1;
		}
	}
	summary(rows);
	const char *gnuplot = getenv("GNUPLOT");
	if (!dir.empty() && !plots(rows, dir, gnuplot && *gnuplot ? gnuplot : "gnuplot"))
		return 1;
	return 0;
}
