// Daemon object and settings, and the acquisition loop run in-process:
// regulation order, export records, start-time clock, and reads that end
// inside a frame (pipes).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "daemon_helpers.h"
#include "messages.h"
#include "skerrin.h"

namespace {

// The daemon keeps its object for the process's life; tests give theirs back.
struct Daemon {
	skerrin_all *o;
	std::string init_out;
	Daemon(int nch, int dbglev = 0)
	{
		testing::internal::CaptureStdout();
		o = skerrin_init(nch, dbglev, 1700);
		init_out = testing::internal::GetCapturedStdout();
	}
	~Daemon()
	{
		if (!o)
			return;
		for (int i = 0; i < o->no_of_chan; i++)
			gt_msg_reset(&o->channels[i].msg_obj);
		delete[] o->channels;
		delete o;
		while (MessageObj *m = message_list_get())
			message_remove(&m);
	}
	int run(int in_fd, int copy_fd = -1)
	{
		o->input_fd = in_fd;
		o->copy_fd = copy_fd;
		testing::internal::CaptureStdout();
		int r = decode_i_q_sig(o);
		out = testing::internal::GetCapturedStdout();
		return r;
	}
	std::string out;
};

struct Adjust {
	int cha;
	int val;
};
std::vector<Adjust> g_adjust;

int recording_radio(int, unsigned long code, void *arg)
{
	if (code == RADIO_ADJUST) {
		auto *cs = static_cast<chan_set *>(arg);
		g_adjust.push_back({cs->cha, cs->val});
		return 0;
	}
	return 1000;
}

int open_read(const std::string &p)
{
	return open(p.c_str(), O_RDONLY);
}

// Feeds `bytes` into a pipe in chunks of the given sizes, cycling.
std::thread feed_pipe(int wfd, std::string bytes, std::vector<size_t> chunks)
{
	return std::thread([wfd, bytes = std::move(bytes), chunks] {
		size_t off = 0, k = 0;
		while (off < bytes.size()) {
			size_t n = std::min(chunks[k++ % chunks.size()], bytes.size() - off);
			if (write(wfd, bytes.data() + off, n) != static_cast<ssize_t>(n))
				break;
			off += n;
			// Let the reader take each chunk on its own.
			std::this_thread::sleep_for(std::chrono::microseconds(200));
		}
		close(wfd);
	});
}

} // namespace

TEST(DaemonObject, InitSetsDefaultsPerChannel)
{
	Daemon d(4, 0x04 | 0x10);
	ASSERT_NE(d.o, nullptr);
	EXPECT_EQ(d.o->export_cha, -1);
	EXPECT_EQ(d.o->no_of_chan, 4);
	EXPECT_EQ(d.o->samp_ignored, 0u);
	EXPECT_EQ(d.o->samp_stop, 0u);
	EXPECT_EQ(th::count(d.init_out, "idelay : 5\n"), 4);
	const int freq[4] = {490, 518, 4209, 424};
	for (int i = 0; i < 4; i++) {
		const skerrin_cha &c = d.o->channels[i];
		EXPECT_EQ(c.msg_obj.freq, freq[i]);
		EXPECT_NE(c.det_obj.dbg_print, 0);
		EXPECT_EQ(c.bit_obj.dbg_print, 0);
		EXPECT_NE(c.msg_obj.dbg_print, 0);
		EXPECT_EQ(c.det_obj.minphasings, 2);
		EXPECT_EQ(c.msg_obj.max_err, 100.0);
		EXPECT_EQ(c.s_iq.signal_dbm.load(), 0.0);
	}
}

TEST(DaemonObject, SettingsReachEveryChannelAndEcho)
{
	Daemon d(3);
	int minph = 5, delay = 12, cha = 2;
	double maxerr = 7.5;
	unsigned ign = 1000, stop = 20000;
	time_t st = 0;
	double eq[3] = {20, 0, -100};
	testing::internal::CaptureStdout();
	EXPECT_EQ(skerrin_all_set(d.o, 0, &minph), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 1, &delay), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 2, &maxerr), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 3, &ign), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 4, &stop), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 5, &cha), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 6, &st), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 7, eq), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 8, &cha), -1);
	EXPECT_EQ(skerrin_all_set(d.o, -1, &cha), -1);
	std::string out = testing::internal::GetCapturedStdout();
	EXPECT_EQ(out, "Samples ignorred 1000\nStopping at sample 20000\nExport_cha set to 2\n"
		       "Cha 0: dbm equation: a:20.000000 b:0.000000 c:-100.000000\n"
		       "Cha 1: dbm equation: a:20.000000 b:0.000000 c:-100.000000\n"
		       "Cha 2: dbm equation: a:20.000000 b:0.000000 c:-100.000000\n");
	EXPECT_EQ(d.o->delay_pr_samp, 12);
	EXPECT_EQ(d.o->samp_ignored, 1000u);
	EXPECT_EQ(d.o->samp_stop, 20000u);
	EXPECT_EQ(d.o->export_cha, 2);
	for (int i = 0; i < 3; i++) {
		EXPECT_EQ(d.o->channels[i].det_obj.minphasings, 5);
		EXPECT_EQ(d.o->channels[i].msg_obj.max_err, 7.5);
		EXPECT_EQ(d.o->channels[i].s_iq.dbm_calc[2], -100.0);
	}
}

TEST(DaemonObject, StartTimeEchoedWithCtimeText)
{
	Daemon d(1);
	time_t st = 1636228800;
	testing::internal::CaptureStdout();
	skerrin_all_set(d.o, 6, &st);
	char when[64];
	ctime_r(&st, when);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Start time set to ") + when + "\n");
	EXPECT_EQ(d.o->start_time, st);
}

TEST(DaemonObject, NoChannelsIgnoresChannelSettings)
{
	Daemon d(0);
	ASSERT_NE(d.o, nullptr);
	double eq[3] = {1, 2, 3};
	int minph = 4;
	testing::internal::CaptureStdout();
	EXPECT_EQ(skerrin_all_set(d.o, 7, eq), 0);
	EXPECT_EQ(skerrin_all_set(d.o, 0, &minph), 0);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Acquisition, RegulationRunsBeforeTheMarkedFrameIsDecoded)
{
	th::ScratchDir dir;
	// Only frame 0 carries a mark; its samples are far from the mid level.
	std::string rec = th::make_recording(128, 3, [](int, int) { return th::QI{30000, 30000}; },
					     false);
	rec[3 * 4 - 1] |= static_cast<char>(0x80);
	th::write_file(dir.file("r.raw"), rec);

	radio_ioctl_fn saved = radio_ioctl;
	radio_ioctl = recording_radio;
	g_adjust.clear();
	Daemon d(3);
	double eq[3] = {12.65, -0.02, -77.1};
	testing::internal::CaptureStdout();
	skerrin_all_set(d.o, 7, eq);
	testing::internal::GetCapturedStdout();
	int fd = open_read(dir.file("r.raw"));
	EXPECT_EQ(d.run(fd), 128);
	close(fd);
	radio_ioctl = saved;

	// Amplitudes were still zero: every channel stepped up by 90 + 500 / 4.
	ASSERT_EQ(g_adjust.size(), 3u);
	for (int i = 0; i < 3; i++) {
		EXPECT_EQ(g_adjust[i].cha, i);
		EXPECT_EQ(g_adjust[i].val, 215);
	}
	// The level equation saw the compare value 1000 from the radio.
	EXPECT_NEAR(d.o->channels[0].s_iq.signal_dbm.load(), -0.02 * 1000 - 77.1, 1e-9);
}

TEST(Acquisition, MarksOnOtherWordsDoNotRegulate)
{
	th::ScratchDir dir;
	std::string rec = th::make_recording(64, 2, th::ramp, false);
	for (int f = 0; f < 64; f++)
		for (int w = 0; w < 3; w++) // every word but the frame's last
			rec[f * 8 + w * 2 + 1] |= static_cast<char>(0x80);
	th::write_file(dir.file("r.raw"), rec);
	radio_ioctl_fn saved = radio_ioctl;
	radio_ioctl = recording_radio;
	g_adjust.clear();
	Daemon d(2);
	int fd = open_read(dir.file("r.raw"));
	EXPECT_EQ(d.run(fd), 64);
	close(fd);
	radio_ioctl = saved;
	EXPECT_TRUE(g_adjust.empty());
}

TEST(Acquisition, ExportRecordsCarryInputAndFrontEnd)
{
	th::ScratchDir dir;
	const int frames = 300;
	std::string rec = th::make_recording(frames, 3, th::ramp);
	th::write_file(dir.file("r.raw"), rec);
	Daemon d(3);
	d.o->export_cha = 1;
	int in = open_read(dir.file("r.raw"));
	int out = open(dir.file("x.raw").c_str(), O_WRONLY | O_CREAT, 0600);
	EXPECT_EQ(d.run(in, out), frames);
	close(in);
	close(out);
	std::string x = th::read_file(dir.file("x.raw"));
	ASSERT_EQ(x.size(), static_cast<size_t>(frames) * 12);
	auto word = [&](int f, int k) {
		return stream_format::get_word(reinterpret_cast<const unsigned char *>(x.data()) + f * 12 + 2 * k);
	};
	for (int f = 0; f < frames; f++) {
		th::QI s = th::ramp(f, 1);
		ASSERT_EQ(word(f, 0), s.i) << f;
		ASSERT_EQ(word(f, 1), s.q) << f;
	}
	// The last record holds the front end's state after the last frame.
	const s_interp_iq &fe = d.o->channels[1].s_iq;
	EXPECT_EQ(word(frames - 1, 2), static_cast<uint16_t>(fe.iqbuffer[0].real));
	EXPECT_EQ(word(frames - 1, 3), static_cast<uint16_t>(fe.iqbuffer[0].imag));
	EXPECT_EQ(word(frames - 1, 4), static_cast<uint16_t>(fe.detect / 1000));
	EXPECT_EQ(word(frames - 1, 5),
		  static_cast<uint16_t>(d.o->channels[1].det_obj.avg_prev_ph / 1000));
}

TEST(Acquisition, ExportWriterReportsFailures)
{
	th::ScratchDir dir;
	Daemon d(1);
	EXPECT_EQ(decode_wri_dbg(&d.o->channels[0], 5, icomplex{1, 2}, -1), 0);
	th::write_file(dir.file("ro"), "");
	int fd = open_read(dir.file("ro"));
	EXPECT_EQ(decode_wri_dbg(&d.o->channels[0], 5, icomplex{1, 2}, fd), -1);
	close(fd);
}

TEST(Acquisition, StartTimeClockFollowsFrames)
{
	th::ScratchDir dir;
	th::write_file(dir.file("r.raw"), th::make_recording(3500, 2, th::ramp));
	Daemon d(2);
	d.o->start_time = 1000000;
	int fd = open_read(dir.file("r.raw"));
	EXPECT_EQ(d.run(fd), 3500);
	close(fd);
	EXPECT_EQ(d.o->channels[0].msg_obj.time, 1000002);
	EXPECT_EQ(d.o->channels[1].msg_obj.time, 1000002);
}

TEST(Acquisition, ReadsEndingInsideFramesLoseNothing)
{
	th::ScratchDir dir;
	const int frames = 700;
	std::string rec = th::make_recording(frames, 3, th::ramp);
	th::write_file(dir.file("r.raw"), rec);

	// Reference: the same bytes from a file, read in whole blocks.
	Daemon ref(3);
	ref.o->export_cha = 2;
	int in = open_read(dir.file("r.raw"));
	int out = open(dir.file("ref.x").c_str(), O_WRONLY | O_CREAT, 0600);
	EXPECT_EQ(ref.run(in, out), frames);
	close(in);
	close(out);

	int p[2];
	ASSERT_EQ(pipe(p), 0);
	std::thread w = feed_pipe(p[1], rec, {5, 1, 13, 700, 7, 1536, 3});
	Daemon d(3);
	d.o->export_cha = 2;
	out = open(dir.file("pipe.x").c_str(), O_WRONLY | O_CREAT, 0600);
	EXPECT_EQ(d.run(p[0], out), frames);
	w.join();
	close(p[0]);
	close(out);
	EXPECT_TRUE(th::read_file(dir.file("pipe.x")) == th::read_file(dir.file("ref.x")))
		<< "contents differ";
}

TEST(Acquisition, CopyFromOddChunksIsByteIdentical)
{
	th::ScratchDir dir;
	// Ends inside a frame: those bytes are copied as read, never decoded.
	std::string rec = th::make_recording(500, 3, th::ramp) + std::string("\x01\x02\x03\x04\x05", 5);
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	std::thread w = feed_pipe(p[1], rec, {1, 2, 3, 11, 12, 25, 1536});
	Daemon d(3);
	int out = open(dir.file("copy.raw").c_str(), O_WRONLY | O_CREAT, 0600);
	testing::internal::CaptureStderr();
	EXPECT_EQ(d.run(p[0], out), 500);
	std::string err = testing::internal::GetCapturedStderr();
	w.join();
	close(p[0]);
	close(out);
	EXPECT_TRUE(th::read_file(dir.file("copy.raw")) == rec) << "contents differ";
	EXPECT_NE(err.find("decode_i_q_sig: input ended inside a frame: 5 bytes dropped"),
		  std::string::npos)
		<< err;
}

TEST(Acquisition, DebugFileOpenedNotWritten)
{
	th::ScratchDir dir;
	th::write_file(dir.file("r.raw"), th::make_recording(10, 3, th::ramp));
	char old[4096];
	ASSERT_NE(getcwd(old, sizeof(old)), nullptr);
	ASSERT_EQ(chdir(dir.path().c_str()), 0);
	Daemon d(3, 0x40);
	int fd = open_read("r.raw");
	EXPECT_EQ(d.run(fd), 10);
	close(fd);
	struct stat st {};
	EXPECT_EQ(stat("debug.raw", &st), 0);
	EXPECT_EQ(st.st_size, 0);
	ASSERT_EQ(chdir(old), 0);
}
