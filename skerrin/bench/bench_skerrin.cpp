// Decoder cost, stage by stage and as a whole.
//
// Per channel-sample: the front end, the phasing detector, the bit sampler
// and the whole per-channel dispatch; per character: the character decoder
// and the message assembler; per message: the socket text and a GETMSG
// served over a socket pair.  The acquisition loop runs on a 3-channel
// recording and reports its speed as a multiple of real time (the board
// delivers 1707.65 frames per second).  Peak memory is the ru_maxrss of the
// built daemon decoding a ten-minute recording.
//
// Counters: ns_per_chan_sample is CPU time per channel-sample in ns (the
// library prints it with an "s" suffix, being an inverted rate);
// x_realtime the decode speed on one core, from CPU time.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "decode_char.h"
#include "get_msg.h"
#include "messages.h"
#include "skerrin.h"
#include "stream_format.h"
#ifdef HAVE_NAVSYNTH
#include "navsynth.h"
#endif

namespace {

constexpr double kBoardRate = stream_format::kBoardFrameRate;

const std::string kBulletin = "ZCZC SA42\nGALE WARNING NR 123. SOUTHWESTERLY GALE FORCE 8 "
			      "EXPECTED IN SEA AREAS ROCKALL AND MALIN LATER. VISIBILITY GOOD "
			      "BECOMING MODERATE IN RAIN.\nNNNN";

// Runs f with standard output sent to /dev/null (the stages print their
// settings when they start, the echo prints characters).
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

void per_channel_sample(benchmark::State &state)
{
	state.SetItemsProcessed(state.iterations());
	state.counters["ns_per_chan_sample"] =
		benchmark::Counter(static_cast<double>(state.iterations()) * 1e-9,
				   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One channel's raw samples: a synthesized transmission (phasing, the
// bulletin, idle) when the synthesizer is there, else an FSK tone pair.
const std::vector<icomplex> &channel_samples()
{
	static const std::vector<icomplex> samples = [] {
		std::vector<icomplex> in;
#ifdef HAVE_NAVSYNTH
		navsynth::Config cfg;
		cfg.channels = 1;
		cfg.rate = 1700;
		cfg.chan.resize(1);
		cfg.chan[0].transmissions = {kBulletin};
		cfg.chan[0].snr_db = 20;
		navsynth::ChannelSignal sig;
		if (navsynth::render_channel(cfg, 0, sig, 0).empty()) {
			for (size_t k = 0; k < sig.i.size(); k++)
				in.push_back({stream_format::to_sample(std::lround(sig.i[k])),
					      stream_format::to_sample(std::lround(sig.q[k]))});
			return in;
		}
#endif
		for (int k = 0; k < 20 * 1700; k++) {
			double hz = (k / 17) % 2 ? 85.0 : -85.0;
			double ph = 2 * M_PI * hz * k / 1700.0;
			in.push_back({16384 + static_cast<int>(500 * std::cos(ph)),
				      16384 + static_cast<int>(500 * std::sin(ph))});
		}
		return in;
	}();
	return samples;
}

// The front end's output for those samples.
const std::vector<int> &channel_detect()
{
	static const std::vector<int> detect = [] {
		s_interp_iq s{};
		quietly([&] { return interp_iq_init(&s, 1700); });
		std::vector<int> d;
		for (const icomplex &iq : channel_samples())
			d.push_back(interp_iq(&s, iq));
		return d;
	}();
	return detect;
}

void BM_FrontEnd(benchmark::State &state)
{
	s_interp_iq s{};
	quietly([&] { return interp_iq_init(&s, 1700); });
	const auto &in = channel_samples();
	size_t k = 0;
	for (auto _ : state) {
		benchmark::DoNotOptimize(interp_iq(&s, in[k]));
		if (++k == in.size())
			k = 0;
	}
	per_channel_sample(state);
}
BENCHMARK(BM_FrontEnd);

// Search and lock alike: each pass over the stream (noise, phasing, text)
// starts idle.
void BM_PhasingDetector(benchmark::State &state)
{
	pha_obj det{};
	detect_pha_init(&det, 1700, 0);
	const auto &in = channel_detect();
	size_t k = 0;
	int locked = 0;
	for (auto _ : state) {
		int r = detect_pha(&det, in[k], static_cast<int>(k));
		locked += r >= 0;
		benchmark::DoNotOptimize(r);
		if (++k == in.size()) {
			// Back to idle, so that every pass searches before it locks.
			k = 0;
			detect_pha_init(&det, 1700, 0);
		}
	}
	per_channel_sample(state);
	state.counters["locked_share"] = static_cast<double>(locked) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PhasingDetector);

void BM_BitSampler(benchmark::State &state)
{
	sample_bit_obj bit{};
	sample_bit_init(&bit, 0);
	sample_bit_reset(&bit);
	const auto &in = channel_detect();
	size_t k = 0;
	int pos = 0;
	for (auto _ : state) {
		benchmark::DoNotOptimize(sample_bit(&bit, in[k], pos));
		if (++pos == 17)
			pos = 0;
		if (++k == in.size())
			k = 0;
	}
	per_channel_sample(state);
}
BENCHMARK(BM_BitSampler);

// Every alphabet entry as bit averages, taken in turn as first copy and
// repetition: half the calls combine, half store.
void BM_CharacterDecoder(benchmark::State &state)
{
	std::vector<SevenUnit> units(ALPHABET_SIZE);
	for (int c = 0; c < ALPHABET_SIZE; c++)
		for (int j = 0; j < 7; j++)
			units[c].bits[j] = Alphabet[c].sevenbit[j] ? -900 : 900;
	sample_bit_obj bit{};
	sample_bit_init(&bit, 0);
	sample_bit_reset(&bit);
	int n = 0;
	for (auto _ : state) {
		bit.unit = units[(n / 2) % ALPHABET_SIZE];
		bit.bytcnt = n & 1;
		benchmark::DoNotOptimize(decode_char(&bit, 0));
		n++;
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CharacterDecoder);

// Characters of a bulletin through the assembler; each completed message
// is taken back out of the queue at once so the queue stays empty.
void BM_MessageAssembly(benchmark::State &state)
{
	gt_msg_obj msg{};
	gt_msg_init(&msg, 518, 0);
	msg.time = 1;
	const std::string text = "ZCZC " + kBulletin.substr(5);
	size_t k = 0;
	for (auto _ : state) {
		benchmark::DoNotOptimize(gt_msg(&msg, text[k], -60.0));
		if (++k == text.size()) {
			k = 0;
			while (MessageObj *m = message_list_get())
				message_remove(&m);
		}
	}
	gt_msg_reset(&msg);
	while (MessageObj *m = message_list_get())
		message_remove(&m);
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MessageAssembly);

MessageObj *bulletin_message()
{
	MessageObj *m = message_create(518, 1765000000);
	for (char c : kBulletin.substr(5))
		message_addchr(m, c, 0);
	m->signal = -63.5;
	return m;
}

void BM_MessageFormat(benchmark::State &state)
{
	MessageObj *m = bulletin_message();
	std::vector<char> buf(10240);
	for (auto _ : state)
		benchmark::DoNotOptimize(message_print_socket(m, buf.data(), static_cast<int>(buf.size())));
	message_remove(&m);
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MessageFormat);

// The server's GETMSG path: a queued message taken, formatted, sent over a
// socket pair and read by the client, request to complete reply.
void BM_ServerGetmsg(benchmark::State &state)
{
	int fd[2];
	if (socketpair(AF_UNIX, SOCK_STREAM, 0, fd) != 0) {
		state.SkipWithError("socketpair failed");
		return;
	}
	skerrin_all o{};
	std::thread server([&] { socket_loop(fd[1], &o, 0); });
	char reply[10240];
	size_t bytes = 0;
	for (auto _ : state) {
		state.PauseTiming();
		message_list_put(bulletin_message());
		state.ResumeTiming();
		if (send(fd[0], "GETMSG\n", 7, MSG_NOSIGNAL) != 7) {
			state.SkipWithError("send failed");
			break;
		}
		// The reply ends with the reception time line.
		size_t got = 0;
		for (;;) {
			ssize_t r = recv(fd[0], reply + got, sizeof reply - 1 - got, 0);
			if (r <= 0)
				break;
			got += static_cast<size_t>(r);
			reply[got] = 0;
			if (strstr(reply, "TIME:") && reply[got - 1] == '\n')
				break;
		}
		bytes += got;
	}
	send(fd[0], "EXIT\n", 5, MSG_NOSIGNAL);
	server.join();
	close(fd[0]);
	close(fd[1]);
	while (MessageObj *m = message_list_get())
		message_remove(&m);
	state.SetItemsProcessed(state.iterations());
	state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ServerGetmsg)->UseRealTime();

// A recording of about a minute per repeat: synthesized NAVTEX traffic on all
// three channels when the synthesizer library is there, else tones.
int make_recording(size_t *frames, int repeats)
{
	FILE *f = tmpfile();
	if (!f)
		return -1;
#ifdef HAVE_NAVSYNTH
	navsynth::Config cfg;
	cfg.channels = 3;
	cfg.chan.resize(3);
	for (int c = 0; c < 3; c++) {
		cfg.chan[c].transmissions.assign(2 * repeats, kBulletin);
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
	for (int k = 0; k < 60 * 1708 * repeats; k++) {
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
	int fd = make_recording(&frames, 1);
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
	const double chan_samples = static_cast<double>(frames) * 3 * static_cast<double>(state.iterations());
	state.counters["frames"] = static_cast<double>(frames);
	state.counters["messages"] = queued; // decoded per run: the chain really ran
	state.counters["x_realtime"] = benchmark::Counter(
		static_cast<double>(frames) / kBoardRate * static_cast<double>(state.iterations()),
		benchmark::Counter::kIsRate);
	state.counters["ns_per_chan_sample"] = benchmark::Counter(
		chan_samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
	state.SetItemsProcessed(static_cast<int64_t>(chan_samples));
}
// CPU time: the machine is shared, and one core's work is what counts.
BENCHMARK(BM_DecodeRecording)->Unit(benchmark::kMillisecond);

#ifdef SKERRIN_BIN
// Peak resident memory of the daemon decoding a recording of about ten
// minutes (the server on a free port, output discarded).
void BM_DaemonPeakMemory(benchmark::State &state)
{
	size_t frames = 0;
	int fd = make_recording(&frames, 10);
	if (fd < 0) {
		state.SkipWithError("cannot make the recording");
		return;
	}
	const std::string path = "/proc/self/fd/" + std::to_string(fd);
	long maxrss_kb = 0;
	for (auto _ : state) {
		lseek(fd, 0, SEEK_SET);
		pid_t pid = fork();
		if (pid == 0) {
			int null = open("/dev/null", O_WRONLY);
			dup2(null, 1);
			dup2(null, 2);
			execl(SKERRIN_BIN, "skerrin", "-f", "-p", "0", "-i", path.c_str(), static_cast<char *>(nullptr));
			_exit(127);
		}
		int status = 0;
		struct rusage ru {};
		if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) ||
		    WEXITSTATUS(status) != 0) {
			state.SkipWithError("the daemon run failed");
			break;
		}
		maxrss_kb = ru.ru_maxrss;
	}
	close(fd);
	state.counters["recording_s"] = static_cast<double>(frames) / kBoardRate;
	state.counters["maxrss_kB"] = static_cast<double>(maxrss_kb);
}
BENCHMARK(BM_DaemonPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
#endif

} // namespace

BENCHMARK_MAIN();
