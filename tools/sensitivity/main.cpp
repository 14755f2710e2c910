// sensitivity: sweeps SNR and impairments over synthesized transmissions,
// decodes each with the daemon's chain, writes a CSV of the cases, PNG
// charts of the mean figures and a summary on standard output.
//
//   sensitivity [-n seeds] [-o cases.csv] [-d plot-folder]   run the sweeps
//   sensitivity -c cases.csv [-d plot-folder]                from a CSV
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plot.h"
#include "sensitivity.h"

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
			add({"snr", rate, double(snr), 0, 0, 0, 0});
	for (double rate : {kBoardRate, kNominalRate}) {
		// Out to where the enhanced chain's frequency search (+-127 Hz) ends.
		for (int off = -120; off <= 120; off += 5)
			add({"offset", rate, kImpairmentSnr, double(off), 0, 0, 0});
		// Fine steps within the +-500 ppm of real transmitters, then coarse
		// ones out to where the bit clock gives up.
		for (int ppm = -8000; ppm <= 8000; ppm += ppm >= -1000 && ppm < 1000 ? 100 : 1000)
			add({"ppm", rate, kImpairmentSnr, 0, double(ppm), 0, 0});
	}
	for (double f : {0.0, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0})
		add({"fading", kBoardRate, kImpairmentSnr, 0, 0, f, 0});
	return cs;
}

plot::series column(const std::vector<point> &pts, const std::string &name, double point::*field)
{
	plot::series s{name, {}, {}};
	for (const point &p : pts) {
		s.x.push_back(p.x);
		s.y.push_back(100.0 * (p.*field));
	}
	return s;
}

bool save(const plot::chart &c, const std::string &dir, const std::string &name)
{
	const std::string path = dir + "/" + name;
	if (!png::write_file(path, plot::draw(c, 800, 540).to_png(png::Deflate::runs))) {
		fprintf(stderr, "sensitivity: cannot write %s\n", path.c_str());
		return false;
	}
	return true;
}

plot::chart percent_chart(const std::string &title, const std::string &xlabel, double xmin, double xmax,
			  double xstep)
{
	plot::chart c;
	c.title = title;
	c.xlabel = xlabel;
	c.ylabel = "PER CENT";
	c.xmin = xmin;
	c.xmax = xmax;
	c.xstep = xstep;
	c.ymin = 0;
	c.ymax = 100;
	c.ystep = 10;
	return c;
}

bool plots(const std::vector<row> &rows, const std::string &dir)
{
	bool ok = true;
	auto snr_b = aggregate(rows, "snr", kBoardRate, "snr_db");
	auto snr_n = aggregate(rows, "snr", kNominalRate, "snr_db");

	plot::chart c = percent_chart("CHARACTER ERROR RATE AGAINST SNR", "SNR IN 500 HZ (DB)", -3, 15, 1);
	c.ylabel = "CER (%)";
	c.yref = 1.0;
	c.lines = {column(snr_b, "1707.65 FRAMES/S", &point::cer), column(snr_n, "1700 FRAMES/S", &point::cer)};
	ok &= save(c, dir, "cer_vs_snr.png");

	// The same near the 1 % line.
	c.title = "CHARACTER ERROR RATE AGAINST SNR, 0 TO 10 %";
	c.ymax = 10;
	c.ystep = 1;
	ok &= save(c, dir, "cer_vs_snr_zoom.png");

	c = percent_chart("MESSAGES AND PHASING LOCK AGAINST SNR", "SNR IN 500 HZ (DB)", -3, 15, 1);
	c.lines = {column(snr_b, "MESSAGES 1707.65", &point::msg_rate),
		   column(snr_n, "MESSAGES 1700", &point::msg_rate),
		   column(snr_b, "LOCK 1707.65", &point::lock_rate), column(snr_n, "LOCK 1700", &point::lock_rate)};
	ok &= save(c, dir, "messages_vs_snr.png");

	struct imp {
		const char *sweep, *axis, *file, *title, *xlabel;
		double xmin, xmax, xstep;
	};
	const imp imps[] = {
		{"offset", "offset_hz", "impairment_offset.png", "CARRIER OFFSET AT SNR 10 DB", "OFFSET (HZ)", -80, 80,
		 10},
		{"ppm", "ppm", "impairment_ppm.png", "BIT-RATE ERROR AT SNR 10 DB", "BIT-RATE ERROR (PPM)", -8000,
		 8000, 2000},
		{"ppm", "ppm", "impairment_ppm_zoom.png", "BIT-RATE ERROR AT SNR 10 DB, +-1000 PPM",
		 "BIT-RATE ERROR (PPM)", -1000, 1000, 200},
		{"fading", "fading_hz", "impairment_fading.png", "RAYLEIGH FADING AT SNR 10 DB",
		 "DOPPLER SPREAD (HZ)", 0, 5, 0.5},
	};
	for (const imp &i : imps) {
		auto pts_b = aggregate(rows, i.sweep, kBoardRate, i.axis);
		auto pts_n = aggregate(rows, i.sweep, kNominalRate, i.axis);
		c = percent_chart(i.title, i.xlabel, i.xmin, i.xmax, i.xstep);
		c.yref = 1.0;
		c.lines = {column(pts_b, "CER 1707.65", &point::cer), column(pts_b, "MESSAGES 1707.65", &point::msg_rate)};
		if (!pts_n.empty()) {
			c.lines.push_back(column(pts_n, "CER 1700", &point::cer));
			c.lines.push_back(column(pts_n, "MESSAGES 1700", &point::msg_rate));
		} else {
			c.lines.push_back(column(pts_b, "LOCK 1707.65", &point::lock_rate));
		}
		ok &= save(c, dir, i.file);
	}
	return ok;
}

std::string show(double v, const char *unit)
{
	if (std::isnan(v))
		return "none";
	char buf[64];
	snprintf(buf, sizeof buf, "%g %s", v, unit);
	return buf;
}

void table(const std::vector<point> &pts, const char *xname)
{
	printf("| %s | cases | CER %% | messages %% | lock %% |\n|---|---|---|---|---|\n", xname);
	for (const point &p : pts)
		printf("| %g | %d | %.2f | %.0f | %.0f |\n", p.x, p.cases, 100 * p.cer, 100 * p.msg_rate,
		       100 * p.lock_rate);
	printf("\n");
}

void summary(const std::vector<row> &rows)
{
	auto snr_b = aggregate(rows, "snr", kBoardRate, "snr_db");
	auto snr_n = aggregate(rows, "snr", kNominalRate, "snr_db");
	printf("SNR from which the mean CER stays below 1 %%: %s at 1707.65 frames/s, %s at 1700 frames/s\n",
	       show(threshold_from_below(snr_b, kLimit), "dB").c_str(),
	       show(threshold_from_below(snr_n, kLimit), "dB").c_str());
	struct imp {
		const char *sweep, *axis, *unit;
	};
	for (const imp &i : {imp{"offset", "offset_hz", "Hz"}, imp{"ppm", "ppm", "ppm"}})
		for (double rate : {kBoardRate, kNominalRate}) {
			auto pts = aggregate(rows, i.sweep, rate, i.axis);
			range r = working_range(pts, kLimit);
			printf("%s at SNR %g dB, %g frames/s: CER below 1 %% from %s%s to %s%s\n", i.sweep,
			       kImpairmentSnr, rate, show(r.lo, i.unit).c_str(), r.lo_broke ? "" : " (end of sweep)",
			       show(r.hi, i.unit).c_str(), r.hi_broke ? "" : " (end of sweep)");
		}
	printf("\n");
	printf("SNR sweep, 1707.65 frames/s:\n\n");
	table(snr_b, "SNR dB");
	printf("SNR sweep, 1700 frames/s:\n\n");
	table(snr_n, "SNR dB");
	for (double rate : {kBoardRate, kNominalRate}) {
		printf("Carrier offset, SNR %g dB, %g frames/s:\n\n", kImpairmentSnr, rate);
		table(aggregate(rows, "offset", rate, "offset_hz"), "offset Hz");
		printf("Bit-rate error, SNR %g dB, %g frames/s:\n\n", kImpairmentSnr, rate);
		table(aggregate(rows, "ppm", rate, "ppm"), "ppm");
	}
	printf("Fading, SNR %g dB:\n\n", kImpairmentSnr);
	table(aggregate(rows, "fading", kBoardRate, "fading_hz"), "Doppler Hz");
}

int usage()
{
	fprintf(stderr, "usage: sensitivity [-n seeds] [-o cases.csv] [-d plot-folder]\n"
			"       sensitivity -c cases.csv [-d plot-folder]\n");
	return 2;
}

} // namespace

int main(int argc, char **argv)
{
	int seeds = 20;
	std::string out_csv, in_csv, dir;
	int c;
	while ((c = getopt(argc, argv, "n:o:c:d:h")) != -1) {
		switch (c) {
		case 'n':
			seeds = atoi(optarg);
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
		default:
			return usage();
		}
	}
	if (optind != argc || (!in_csv.empty() && !out_csv.empty()))
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
	if (!dir.empty() && !plots(rows, dir))
		return 1;
	return 0;
}
