// The SNR at which a converter's mean character error rate falls through
// a limit, for comparing a conversion path with the direct stream.
#ifndef SENSITIVITY_CROSSING_H
#define SENSITIVITY_CROSSING_H

#include <algorithm>
#include <cmath>
#include <vector>

namespace sensitivity {

// The SNR at which the mean CER falls through `limit` for the last time,
// interpolated on a log scale between the two points around it (a CER of
// 0 counts as 1e-4); NaN when the last point is not below the limit.
inline double crossing(const std::vector<double> &snr, const std::vector<double> &cer, double limit = 0.01)
{
	constexpr double kFloor = 1e-4;
	for (size_t i = snr.size(); i-- > 0;) {
		if (cer[i] < limit)
			continue;
		if (i + 1 == snr.size())
			return NAN;
		const double a = std::log10(std::max(cer[i], kFloor)), b = std::log10(std::max(cer[i + 1], kFloor));
		const double t = (std::log10(limit) - a) / (b - a);
		return snr[i] + t * (snr[i + 1] - snr[i]);
	}
	return snr.empty() ? NAN : snr.front(); // below the limit all along
}

} // namespace sensitivity

#endif
