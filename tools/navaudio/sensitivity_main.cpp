// navaudio_sensitivity: what the audio path costs.  The same messages at
// the same SNRs go once straight into the device stream and once through
// receiver audio and navaudio; both are decoded by the daemon's chain and
// the SNRs at which the mean character error rate crosses 1 % are
// compared.
//
//   navaudio_sensitivity [-n seeds] [-A audio-rate] [-c centre] [-I] [-a]
//                        [-l low-snr] [-H high-snr] [-s step]
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "number_arg.h"

namespace {

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

	double worst_centre_error = 0;
	const auto run_audio = [&](const sensitivity::condition &cond, sensitivity::outcome &oa) {
		navaudio_check::audio_case ac;
		ac.cond = cond;
		ac.audio_rate = audio_rate;
		ac.centre_hz = centre;
		ac.lower = lower;
		ac.find_centre = find;
		double used = centre;
		const std::string err = navaudio_check::run_audio_case(ac, oa, &used);
		if (err.empty())
			worst_centre_error = std::max(worst_centre_error, std::fabs(used - centre));
		return err;
	};
	double xd = 0, xa = 0;
	if (!navaudio_check::compare_paths("navaudio_sensitivity", "audio", "audio", "specified", lo, hi, step, seeds,
					   run_audio, xd, xa))
		return 1;
	printf("\nMean CER below 1 %% from %.2f dB direct and from %.2f dB through %g Hz audio "
	       "(centre %g Hz, %s sideband%s): the audio path costs %.2f dB\n",
	       xd, xa, audio_rate, centre, lower ? "lower" : "upper", find ? ", centre found" : "", xa - xd);
	if (find)
		printf("Largest error of the found centre: %.2f Hz\n", worst_centre_error);
	return 0;
}
