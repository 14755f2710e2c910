// Decoder speed: the front end's cost per channel-sample, and the whole
// acquisition loop on a 3-channel recording as a multiple of real time
// (the board delivers 1707.65 frames per second).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "messages.h"
#include "skerrin.h"
#include "stream_format.h"
#ifdef HAVE_NAVSYNTH
#include "navsynth.h"
#endif

namespace {

constexpr double kBoardRate = stream_format::kBoardFrameRate;

// Runs f with standard output sent to /dev/null (the stages print their
// settings when they start).
template <typename F> auto quietly(F f)
{
	fflush(stdout);
	int saved = dup(1);
	int null = open("/dev/null", O_WRONLY);
	dup2(null, 1);
	close(null);
	auto r = f();
	fflush(stdout);
	dup2(saved, 1);
	close(saved);
	return r;
}

void BM_FrontEnd(benchmark::State &state)
{
	s_interp_iq s{};
	quietly([&] { return interp_iq_init(&s, 1700); });
	// One second of an FSK-like tone pair around the mid level.
	std::vector<icomplex> in;
	for (int k = 0; k < 1700; k++) {
		double hz = (k / 17) % 2 ? 85.0 : -85.0;
		double ph = 2 * M_PI * hz * k / 1700.0;
		in.push_back({16384 + static_cast<int>(500 * std::cos(ph)),
			      16384 + static_cast<int>(500 * std::sin(ph))});
	}
	size_t k = 0;
	for (auto _ : state) {
		benchmark::DoNotOptimize(interp_iq(&s, in[k]));
		if (++k == in.size())
			k = 0;
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrontEnd);

// A recording file: synthesized NAVTEX traffic on all three channels when
// the synthesizer library is there, else the same length of tones.
int make_recording(size_t *frames)
{
	FILE *f = tmpfile();
	if (!f)
		return -1;
#ifdef HAVE_NAVSYNTH
	navsynth::Config cfg;
	cfg.channels = 3;
	cfg.chan.resize(3);
	const std::string text = "ZCZC SA42\nGALE WARNING NR 123. SOUTHWESTERLY GALE FORCE 8 "
				 "EXPECTED IN SEA AREAS ROCKALL AND MALIN LATER. VISIBILITY GOOD "
				 "BECOMING MODERATE IN RAIN.\nNNNN";
	for (int c = 0; c < 3; c++) {
		cfg.chan[c].transmissions = {text, text};
		cfg.chan[c].snr_db = 20;
	}
	std::string err = navsynth::write_recording(cfg, f, nullptr);
	if (!err.empty()) {
		fprintf(stderr, "navsynth: %s\n", err.c_str());
		fclose(f);
		return -1;
	}
#else
	unsigned char fr[12];
	for (int k = 0; k < 60 * 1708; k++) {
		for (int c = 0; c < 3; c++) {
			double ph = 2 * M_PI * 85.0 * k / kBoardRate;
			stream_format::put_word(fr + 4 * c, stream_format::to_sample(std::lround(500 * std::sin(ph))));
			stream_format::put_word(fr + 4 * c + 2, stream_format::to_sample(std::lround(500 * std::cos(ph))));
		}
		fwrite(fr, 1, sizeof(fr), f);
	}
#endif
	fflush(f);
	int fd = dup(fileno(f));
	fclose(f);
	*frames = static_cast<size_t>(lseek(fd, 0, SEEK_END)) / 12;
	return fd;
}

void BM_DecodeRecording(benchmark::State &state)
{
	size_t frames = 0;
	int fd = make_recording(&frames);
	if (fd < 0) {
		state.SkipWithError("cannot make the recording");
		return;
	}
	int queued = 0;
	for (auto _ : state) {
		state.PauseTiming();
		skerrin_all *o = quietly([] { return skerrin_init(3, 0, 1700); });
		o->input_fd = fd;
		o->copy_fd = -1;
		lseek(fd, 0, SEEK_SET);
		state.ResumeTiming();

		int n = quietly([o] { return decode_i_q_sig(o); });
		benchmark::DoNotOptimize(n);

		state.PauseTiming();
		queued = message_list_len();
		for (int i = 0; i < 3; i++)
			gt_msg_reset(&o->channels[i].msg_obj);
		while (MessageObj *m = message_list_get())
			message_remove(&m);
		delete[] o->channels;
		delete o;
		state.ResumeTiming();
	}
	close(fd);
	state.counters["frames"] = static_cast<double>(frames);
	state.counters["messages"] = queued; // decoded per run: the chain really ran
	state.counters["x_realtime"] = benchmark::Counter(
		static_cast<double>(frames) / kBoardRate * static_cast<double>(state.iterations()),
		benchmark::Counter::kIsRate);
	state.SetItemsProcessed(static_cast<int64_t>(frames * 3) * state.iterations());
}
BENCHMARK(BM_DecodeRecording)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
