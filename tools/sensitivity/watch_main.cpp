// The watch mode of the sensitivity tool: streams decoded by both chains,
// the target cases beside them, a CSV of every message and the tables on
// standard output; progress on standard error.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "sensitivity.h"
#include "watch.h"
#include "watch_main.h"

namespace sensitivity {

namespace {

const char *const kChains[] = {"specified", "enhanced"};

std::string pct(int part, int whole)
{
	char buf[32];
	snprintf(buf, sizeof buf, "%.1f %%", whole > 0 ? 100.0 * part / whole : 0.0);
	return buf;
}

struct stream_result {
	watch_stream plan;
	std::vector<watch_line> lines[2]; // per chain
};

// Unfaded messages lost (errors or missed) by level and by the gap before
// their transmission: what still costs messages.
void losses(const std::vector<stream_result> &runs)
{
	const char *cols[] = {"3-6 dB", "6-9 dB", "9-12 dB", "after 1-3 s", "after a longer gap", "second or third in a transmission"};
	int sent[6] = {}, lost[2][6] = {};
	for (const stream_result &r : runs)
		for (int c = 0; c < 2; c++)
			for (const watch_line &l : r.lines[c]) {
				if (l.tx < 0)
					continue;
				const watch_tx &tx = r.plan.channels[size_t(l.channel)][size_t(l.tx)];
				if (tx.params.fading_hz > 0)
					continue;
				const int band = tx.params.snr_db < 6 ? 0 : tx.params.snr_db < 9 ? 1 : 2;
				const bool first = r.plan.channels[size_t(l.channel)].front().start_s == tx.start_s;
				const int gap = tx.params.gap_s <= 3 && !first ? 3 : 4;
				const bool bad = l.v != verdict::ok;
				for (int k : {band, gap}) {
					sent[k] += c == 0;
					lost[c][k] += bad;
				}
				if (l.msg > 0) {
					sent[5] += c == 0;
					lost[c][5] += bad;
				}
			}
	printf("Unfaded messages lost (queued with 4 %% or more wrong, or not at all), by level and by what "
	       "came before:\n\n|  |");
	for (const char *c : cols)
		printf(" %s |", c);
	printf("\n|---|");
	for (size_t k = 0; k < 6; k++)
		printf("---|");
	printf("\n| sent |");
	for (int k = 0; k < 6; k++)
		printf(" %d |", sent[k]);
	for (int c = 0; c < 2; c++) {
		printf("\n| %s lost |", kChains[c]);
		for (int k = 0; k < 6; k++)
			printf(" %d |", lost[c][k]);
	}
	printf("\n\n");
}

void stream_tables(const std::vector<stream_result> &runs)
{
	printf("Messages sent without fading (3-12 dB in 500 Hz): ok = queued with the right identifier and under "
	       "4 %% wrong, ≥4 %% = queued with 4 %% or more wrong, missed = not queued with its identifier; "
	       "faded ones (10-16 dB mean): ok of sent; never sent = identifiers queued that were not sent on the "
	       "channel.\n\n");
	printf("| seed | channel | sent | specified: ok / ≥4 %% / missed | enhanced: ok / ≥4 %% / missed | faded 0.2 Hz: "
	       "sent, ok specified / enhanced | faded 1 Hz: sent, ok specified / enhanced | never sent: specified / "
	       "enhanced |\n|---|---|---|---|---|---|---|---|\n");
	watch_tally all[2];
	for (const stream_result &r : runs)
		for (size_t ch = 0; ch < r.plan.channels.size(); ch++) {
			watch_tally t[2];
			for (int c = 0; c < 2; c++) {
				t[c] = tally(r.plan, r.lines[c], int(ch));
				all[c].add(t[c]);
			}
			printf("| %llu | %zu | %d | %d / %d / %d | %d / %d / %d | %d, %d / %d | %d, %d / %d | %d / %d |\n",
			       (unsigned long long)r.plan.seed, ch, t[0].sent, t[0].ok, t[0].errored, t[0].missed, t[1].ok,
			       t[1].errored, t[1].missed, t[0].fade02_sent, t[0].fade02_ok, t[1].fade02_ok, t[0].fade1_sent,
			       t[0].fade1_ok, t[1].fade1_ok, t[0].never_sent, t[1].never_sent);
		}
	printf("| all | | %d | %d / %d / %d (%s) | %d / %d / %d (%s) | %d, %d / %d | %d, %d / %d | %d / %d |\n\n",
	       all[0].sent, all[0].ok, all[0].errored, all[0].missed, pct(all[0].ok, all[0].sent).c_str(), all[1].ok,
	       all[1].errored, all[1].missed, pct(all[1].ok, all[1].sent).c_str(), all[0].fade02_sent, all[0].fade02_ok,
	       all[1].fade02_ok, all[0].fade1_sent, all[0].fade1_ok, all[1].fade1_ok, all[0].never_sent,
	       all[1].never_sent);
	if (all[0].duplicates + all[1].duplicates > 0)
		printf("Second copies queued: specified %d, enhanced %d.\n\n", all[0].duplicates, all[1].duplicates);
	losses(runs);
}

bool streams(const watch_options &o, FILE *csv)
{
	std::vector<stream_result> runs;
	for (int s = 1; s <= o.seeds; s++) {
		stream_result r;
		r.plan = plan_stream(uint64_t(s), o.channels, o.minutes, o.rate);
		fprintf(stderr, "sensitivity: watch stream, seed %d: %g min, %d channels\n", s, o.minutes, o.channels);
		int rec = -1;
		std::string err = record(stream_config(r.plan), rec);
		for (int c = 0; c < 2 && err.empty(); c++) {
			decoded d;
			decode_settings ds;
			ds.channels = o.channels;
			ds.chain = kChains[c];
			err = decode_recording(rec, ds, d);
			r.lines[c] = score_stream(r.plan, d.messages);
			for (const watch_line &l : r.lines[c])
				if (csv)
					fprintf(csv, "%s\n", watch_csv_line(r.plan, kChains[c], l).c_str());
			fprintf(stderr, "sensitivity: seed %d, %s chain decoded\n", s, kChains[c]);
		}
		if (rec >= 0)
			close(rec);
		if (!err.empty()) {
			fprintf(stderr, "sensitivity: %s\n", err.c_str());
			return false;
		}
		runs.push_back(r);
	}
	stream_tables(runs);
	return true;
}

bool pairs(const watch_options &o)
{
	printf("Two transmissions one second apart, 10 dB: messages queued with the right identifier and under "
	       "4 %% wrong, of %d (seeds 1-%d):\n\n| offset Hz | specified | enhanced |\n|---|---|---|\n",
	       2 * o.case_seeds, o.case_seeds);
	for (double off : {-100.0, -40.0, 0.0, 40.0, 100.0}) {
		int got[2] = {};
		for (int c = 0; c < 2; c++)
			for (int s = 1; s <= o.case_seeds; s++) {
				std::string err;
				got[c] += run_pair(off, uint64_t(s), kChains[c], err);
				if (!err.empty()) {
					fprintf(stderr, "sensitivity: %s\n", err.c_str());
					return false;
				}
			}
		printf("| %+g | %d | %d |\n", off, got[0], got[1]);
	}
	printf("\n");
	return true;
}

bool midstart(const watch_options &o)
{
	printf("Joined mid-message (no phasing heard), 10 dB, lost mid-message, then %g minutes of DC, silence or "
	       "noise (seeds 1-%d): CER of the echo from 2 s after the join to the loss (mean, worst); the second "
	       "message queued under 4 %% wrong; echo characters after the loss (worst seed) within 2 s, 10 s and "
	       "by the end; the step after the loss (1, 2, 5, 10 or 30 s) from which no seed echoed any more; the open message's length at the loss, 10 s later and at the end (worst growth).\n\n",
	       o.tail_minutes, o.case_seeds);
	printf("| tail | chain | CER mean | CER worst | second message | echo +2 s | echo +10 s | echo to the end | echo "
	       "over by | open message: loss, +10 s, end |\n|---|---|---|---|---|---|---|---|---|---|\n");
	for (const char *tail : {"dc", "silence", "noise"})
		for (int c = 0; c < 2; c++) {
			double sum = 0, worst = 0;
			int second = 0, e2 = 0, e10 = 0, eend = 0;
			int over = -1; // the latest step after which a seed echoed nothing more, 5: none
			midstart_result grow; // the seed whose open message grew most
			int growth = INT_MIN;
			for (int s = 1; s <= o.case_seeds; s++) {
				midstart_result r;
				std::string err = run_midstart(uint64_t(s), tail, o.tail_minutes * 60, kChains[c], r);
				if (!err.empty()) {
					fprintf(stderr, "sensitivity: %s\n", err.c_str());
					return false;
				}
				sum += r.cer;
				worst = std::max(worst, r.cer);
				second += r.second_ok;
				e2 = std::max(e2, r.echo_after[1]);
				e10 = std::max(e10, r.echo_after[3]);
				eend = std::max(eend, r.echo_after[5]);
				int step = r.echo_after[5] == 0 ? -1 : 0;
				while (step >= 0 && step < 5 && r.echo_after[step] != r.echo_after[5])
					step++;
				over = std::max(over, step);
				const int g = std::max(r.open_at_end, 0) - std::max(r.open_at_loss, 0);
				if (g > growth) {
					growth = g;
					grow = r;
				}
			}
			char by[32] = "later";
			if (over < 0)
				snprintf(by, sizeof by, "no echo");
			else if (over < 5)
				snprintf(by, sizeof by, "%g s", kMidstartSteps[over]);
			printf("| %s | %s | %.2f %% | %.2f %% | %d of %d | %d | %d | %d | %s | %d, %d, %d |\n", tail,
			       kChains[c], 100 * sum / o.case_seeds, 100 * worst, second, o.case_seeds, e2, e10, eend, by,
			       grow.open_at_loss, grow.open_after10, grow.open_at_end);
			fprintf(stderr, "sensitivity: joined mid-message, %s, %s chain done\n", tail, kChains[c]);
		}
	printf("\n(open message -1: none open)\n\n");
	return true;
}

} // namespace

std::string watch_option(int opt, const char *arg, watch_options &w)
{
	char *end = nullptr;
	const double v = strtod(arg, &end);
	const bool number = end != arg && *end == 0;
	auto in = [&](double lo, double hi, bool whole) { return number && v >= lo && v <= hi && (!whole || v == std::floor(v)); };
	switch (opt) {
	case 'w':
		w.parts = std::string(arg) == "all" ? "spm" : arg;
		if (w.parts.empty() || w.parts.find_first_not_of("spm") != std::string::npos)
			return "watch parts are s, p, m or all";
		return "";
	case 'm':
		w.minutes = v;
		return in(1, 24 * 60, false) ? "" : "minutes must be 1 to 1440";
	case 'k':
		w.channels = int(v);
		return in(1, 4, true) ? "" : "channels must be 1 to 4";
	case 'N':
		w.case_seeds = int(v);
		return in(1, 1000, true) ? "" : "case seeds must be 1 to 1000";
	case 't':
		w.tail_minutes = v;
		return in(0, 600, false) ? "" : "tail minutes must be 0 to 600";
	}
	return "not a watch mode option";
}

int watch_mode(const watch_options &o)
{
	FILE *csv = nullptr;
	if (!o.csv.empty() && !(csv = fopen(o.csv.c_str(), "w"))) {
		fprintf(stderr, "sensitivity: cannot write %s\n", o.csv.c_str());
		return 1;
	}
	if (csv)
		fprintf(csv, "%s\n", watch_csv_header().c_str());
	bool ok = true;
	if (o.parts.find('s') != std::string::npos) {
		printf("Watch streams: %g minutes, %d channels, seeds 1-%d, %g frames/s\n\n", o.minutes, o.channels,
		       o.seeds, o.rate);
		ok = streams(o, csv);
	}
	if (ok && o.parts.find('p') != std::string::npos)
		ok = pairs(o);
	if (ok && o.parts.find('m') != std::string::npos)
		ok = midstart(o);
	if (csv && fclose(csv) != 0) {
		fprintf(stderr, "sensitivity: cannot write %s\n", o.csv.c_str());
		return 1;
	}
	return ok ? 0 : 1;
}

} // namespace sensitivity
