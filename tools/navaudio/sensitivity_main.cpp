// navaudio_sensitivity: what the audio path costs.  The same messages at
// the same SNRs go once straight into the device stream and once through
// receiver audio and navaudio; both are decoded by the daemon's chain and
// the SNRs at which the mean character error rate crosses 1 % are
// compared.
//
//   navaudio_sensitivity [-n seeds] [-A audio-rate] [-c centre] [-I] [-a]
//                        [-l low-snr] [-H high-snr] [-s step]
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "crossing.h"
#include "number_arg.h"

namespace {

using sensitivity::crossing;

int usage()
{
	fprintf(stderr, "usage: navaudio_sensitivity [-n seeds] [-A audio-rate] [-c centre] [-I] [-a]\n"
			"                            [-l low-snr] [-H high-snr] [-s step]\n");
	return 2;
}

} // namespace

int main(int argc, char **argv)
{
	int seeds = 20;
	double audio_rate = 48000, centre = 1000, lo = 1.0, hi = 6.0, step = 0.25;
	bool lower = false, find = false;
	int c;
	bool ok = true;
	while ((c = getopt(argc, argv, "n:A:c:Ial:H:s:h")) != -1) {
		double n = 0;
		switch (c) {
		case 'n':
			ok = ok && to_double(optarg, n) && n == std::floor(n) && n >= 1 && n <= 1000;
			seeds = ok ? static_cast<int>(n) : 0;
			break;
		case 'A': ok = ok && to_double(optarg, audio_rate); break;
		case 'c': ok = ok && to_double(optarg, centre); break;
		case 'I': lower = true; break;
		case 'a': find = true; break;
		case 'l': ok = ok && to_double(optarg, lo); break;
		case 'H': ok = ok && to_double(optarg, hi); break;
		case 's': ok = ok && to_double(optarg, step); break;
		default: return usage();
		}
	}
	if (!ok)
		return usage();
	if (optind != argc || seeds < 1 || seeds > 1000 || !(step > 0) || !(hi >= lo))
		return usage();

	std::vector<double> snrs, cer_direct, cer_audio;
	double worst_centre_error = 0;
	printf("| SNR dB | CER direct %% | CER audio %% | messages direct | messages audio |\n"
	       "|---|---|---|---|---|\n");
	for (double snr = lo; snr <= hi + 1e-9; snr += step) {
		double sum_d = 0, sum_a = 0;
		int msg_d = 0, msg_a = 0;
		for (int seed = 1; seed <= seeds; seed++) {
			sensitivity::condition cond;
			cond.sweep = "audio";
			cond.snr_db = snr;
			cond.seed = static_cast<uint64_t>(seed);
			sensitivity::outcome od, oa;
			std::string err = sensitivity::run_case(cond, od);
			navaudio_check::audio_case ac;
			ac.cond = cond;
			ac.audio_rate = audio_rate;
			ac.centre_hz = centre;
			ac.lower = lower;
			ac.find_centre = find;
			double used = centre;
			if (err.empty())
				err = navaudio_check::run_audio_case(ac, oa, &used);
			if (!err.empty()) {
				fprintf(stderr, "navaudio_sensitivity: SNR %g dB, seed %d: %s\n", snr, seed, err.c_str());
				return 1;
			}
			worst_centre_error = std::max(worst_centre_error, std::fabs(used - centre));
			sum_d += od.cer();
			sum_a += oa.cer();
			msg_d += od.msg_ok;
			msg_a += oa.msg_ok;
		}
		snrs.push_back(snr);
		cer_direct.push_back(sum_d / seeds);
		cer_audio.push_back(sum_a / seeds);
		printf("| %g | %.2f | %.2f | %d/%d | %d/%d |\n", snr, 100 * cer_direct.back(), 100 * cer_audio.back(),
		       msg_d, seeds, msg_a, seeds);
		fflush(stdout);
	}
	const double xd = crossing(snrs, cer_direct), xa = crossing(snrs, cer_audio);
	printf("\nMean CER below 1 %% from %.2f dB direct and from %.2f dB through %g Hz audio "
	       "(centre %g Hz, %s sideband%s): the audio path costs %.2f dB\n",
	       xd, xa, audio_rate, centre, lower ? "lower" : "upper", find ? ", centre found" : "", xa - xd);
	if (find)
		printf("Largest error of the found centre: %.2f Hz\n", worst_centre_error);
	return 0;
}
