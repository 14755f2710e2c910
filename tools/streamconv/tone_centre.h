// Where a NAVTEX signal's two tones lie: the centre midway between them.
//
// PairSpectrum averages the power spectrum (FFTW, about 1 Hz bins) of
// complex samples, interleaved I and Q, and finds the strongest pair of
// tones 170 Hz apart in a range of frequencies; real audio goes in as
// complex samples with no imaginary part.  refine_centre then takes the
// spectral estimate to a fraction of a hertz from the phase turns of the
// keyed bits.
#ifndef STREAMCONV_TONE_CENTRE_H
#define STREAMCONV_TONE_CENTRE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace streamconv {

constexpr double kShiftHz = 85.0; // each tone's distance from the centre

class PairSpectrum {
public:
	// Samples at `rate`; the first `keep_seconds` of them are kept for
	// refine_centre.
	PairSpectrum(double rate, double keep_seconds);
	~PairSpectrum();
	PairSpectrum(const PairSpectrum &) = delete;
	PairSpectrum &operator=(const PairSpectrum &) = delete;

	void push(const float *iq, size_t n);       // n complex samples
	void push_real(const float *x, size_t n);   // n real samples
	double seconds() const;                     // seconds analysed so far
	// The centre of the strongest pair of tones 170 Hz apart, centres from
	// lo to hi Hz; false when no pair stands out of the noise in that
	// range or nothing was analysed.  `strength`, if given, receives how
	// far the pair stands out of the noise floor (more than 2).
	bool find(double lo, double hi, double &centre_hz, double *strength = nullptr) const;
	// The samples kept, interleaved complex.
	const std::vector<float> &kept() const;

private:
	struct Impl;
	std::unique_ptr<Impl> impl_;
};

// The centre of the tone pair near `rough` in complex samples (interleaved)
// at `rate`, at most 15 Hz from it; `rough` when the samples show no such
// pair.
double refine_centre(const std::vector<float> &iq, double rate, double rough);

} // namespace streamconv

#endif
