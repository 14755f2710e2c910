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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h" // navaudio's: compare_paths
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

	double worst_centre = 0;
	const auto run_iq = [&](const sensitivity::condition &cond, sensitivity::outcome &oq) {
		navsdr_check::iq_case ic;
		ic.cond = cond;
		ic.iq_rate = rate;
		ic.centre_hz = centre;
		ic.centre_error_hz = error;
		ic.format = fmt;
		ic.slot = slot;
		navsdr::ChannelReport rep;
		const std::string err = navsdr_check::run_iq_case(ic, oq, &rep);
		if (err.empty() && rep.found)
			worst_centre = std::max(worst_centre, std::fabs(rep.tone_hz - error - navsdr::kNominalHz[slot]));
		return err;
	};
	double xd = 0, xq = 0;
	if (!navaudio_check::compare_paths("navsdr_sensitivity", "I/Q", "iq", chain, lo, hi, step, seeds, run_iq, xd,
					   xq))
		return 1;
	printf("\nMean CER below 1 %% from %.2f dB direct and from %.2f dB through %s I/Q at %g samples per second "
	       "(centre %g Hz, told %+g Hz off; %s chain): the I/Q path costs %.2f dB\n",
	       xd, xq, iq_format::name(fmt), rate, centre, error, chain.c_str(), xq - xd);
	printf("Largest error of a found tone centre: %.2f Hz\n", worst_centre);
	return 0;
}
