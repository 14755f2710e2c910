// Speed of the audio conversion: seconds of audio converted per second of
// one core, for the rates people record at.  Items are audio samples; the
// "realtime" counter is audio seconds per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "navaudio.h"
#include "navsynth.h"

namespace {

// Ten seconds of keyed tones with noise around 1 kHz.
std::vector<float> audio(double rate)
{
	navsynth::Config cfg;
	cfg.channels = 1;
	cfg.chan.resize(1);
	cfg.chan[0].transmissions = {"ZCZC SA42\nGALE WARNING\nNNNN\n"};
	cfg.chan[0].snr_db = 10;
	cfg.phasing_s = 2;
	cfg.gap_s = 0;
	navsynth::AudioConfig ac;
	ac.rate = rate;
	std::vector<float> out;
	navsynth::render_audio(cfg, 0, ac, out);
	out.resize(static_cast<size_t>(10 * rate));
	return out;
}

void BM_Convert(benchmark::State &state)
{
	const double rate = static_cast<double>(state.range(0));
	const std::vector<float> a = audio(rate);
	navaudio::Settings s;
	s.in_rate = rate;
	std::vector<unsigned char> out;
	for (auto _ : state) {
		navaudio::Converter conv(s);
		for (size_t k = 0; k < a.size(); k += 4096) {
			out.clear();
			conv.push(a.data() + k, std::min<size_t>(4096, a.size() - k), out);
		}
		conv.finish(out);
		benchmark::DoNotOptimize(out.data());
	}
	state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(a.size()));
	state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 10.0,
							benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Convert)->Arg(8000)->Arg(11025)->Arg(44100)->Arg(48000)->Unit(benchmark::kMillisecond);

// Looking for the centre reads the audio once more before converting it.
void BM_FindCentre(benchmark::State &state)
{
	const double rate = static_cast<double>(state.range(0));
	const std::vector<float> a = audio(rate);
	for (auto _ : state) {
		navaudio::CentreFinder f(rate);
		for (size_t k = 0; k < a.size(); k += 4096)
			f.push(a.data() + k, std::min<size_t>(4096, a.size() - k));
		double c = 0;
		benchmark::DoNotOptimize(f.result(c));
	}
	state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(a.size()));
	state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 10.0,
							benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FindCentre)->Arg(8000)->Arg(48000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
