// navsdr_sensitivity: what the I/Q path costs.  The same messages at the
// same SNRs go once straight into the device stream and once through a
// wideband capture in an SDR sample format and navsdr; both are decoded by
// the daemon's chain (-A: the enhanced one) and the SNRs at which the mean
// character error rate crosses 1 % are compared.
//
//   navsdr_sensitivity [-n seeds] [-F format] [-r iq-rate] [-f centre]
//                      [-e centre-error] [-k slot] [-A] [-l low-snr]
//                      [-H high-snr] [-s step]
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crossing.h"
#include "sdr_check.h"

namespace {

int usage()
{
	fprintf(stderr, "usage: navsdr_sensitivity [-n seeds] [-F format] [-r iq-rate] [-f centre] [-e centre-error]\n"
			"                          [-k slot] [-A] [-l low-snr] [-H high-snr] [-s step]\n");
	return 2;
}

} // namespace

int main(int argc, char **argv)
{
	int seeds = 20, slot = 1;
	double rate = 2048000, centre = 504000, error = 0, lo = 1.0, hi = 6.0, step = 0.25;
	iq_format::Format fmt = iq_format::Format::cu8;
	std::string chain = "specified";
	int c;
	while ((c = getopt(argc, argv, "n:F:r:f:e:k:Al:H:s:h")) != -1) {
		switch (c) {
		case 'n': seeds = atoi(optarg); break;
		case 'F':
			if (!iq_format::parse(optarg, fmt))
				return usage();
			break;
		case 'r': rate = atof(optarg); break;
		case 'f': centre = atof(optarg); break;
		case 'e': error = atof(optarg); break;
		case 'k': slot = atoi(optarg); break;
		case 'A': chain = "enhanced"; break;
		case 'l': lo = atof(optarg); break;
		case 'H': hi = atof(optarg); break;
		case 's': step = atof(optarg); break;
		default: return usage();
		}
	}
	if (optind != argc || seeds < 1 || seeds > 1000 || !(step > 0) || !(hi >= lo) || slot < 0 || slot > 2)
		return usage();

	std::vector<double> snrs, cer_direct, cer_iq;
	double worst_centre = 0;
	printf("| SNR dB | CER direct %% | CER I/Q %% | messages direct | messages I/Q |\n"
	       "|---|---|---|---|---|\n");
	for (double snr = lo; snr <= hi + 1e-9; snr += step) {
		double sum_d = 0, sum_q = 0;
		int msg_d = 0, msg_q = 0;
		for (int seed = 1; seed <= seeds; seed++) {
			sensitivity::condition cond;
			cond.sweep = "iq";
			cond.chain = chain;
			cond.snr_db = snr;
			cond.seed = static_cast<uint64_t>(seed);
			sensitivity::outcome od, oq;
			std::string err = sensitivity::run_case(cond, od);
			navsdr_check::iq_case ic;
			ic.cond = cond;
			ic.iq_rate = rate;
			ic.centre_hz = centre;
			ic.centre_error_hz = error;
			ic.format = fmt;
			ic.slot = slot;
			navsdr::ChannelReport rep;
			if (err.empty())
				err = navsdr_check::run_iq_case(ic, oq, &rep);
			if (!err.empty()) {
				fprintf(stderr, "navsdr_sensitivity: SNR %g dB, seed %d: %s\n", snr, seed, err.c_str());
				return 1;
			}
			if (rep.found)
				worst_centre = std::max(worst_centre, std::fabs(rep.tone_hz - error - navsdr::kNominalHz[slot]));
			sum_d += od.cer();
			sum_q += oq.cer();
			msg_d += od.msg_ok;
			msg_q += oq.msg_ok;
		}
		snrs.push_back(snr);
		cer_direct.push_back(sum_d / seeds);
		cer_iq.push_back(sum_q / seeds);
		printf("| %g | %.2f | %.2f | %d/%d | %d/%d |\n", snr, 100 * cer_direct.back(), 100 * cer_iq.back(), msg_d,
		       seeds, msg_q, seeds);
		fflush(stdout);
	}
	const double xd = sensitivity::crossing(snrs, cer_direct), xq = sensitivity::crossing(snrs, cer_iq);
	printf("\nMean CER below 1 %% from %.2f dB direct and from %.2f dB through %s I/Q at %g samples per second "
	       "(centre %g Hz, told %+g Hz off; %s chain): the I/Q path costs %.2f dB\n",
	       xd, xq, iq_format::name(fmt), rate, centre, error, chain.c_str(), xq - xd);
	printf("Largest error of a found tone centre: %.2f Hz\n", worst_centre);
	return 0;
}
