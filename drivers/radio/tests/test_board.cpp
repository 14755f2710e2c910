// The board emulation: the front end follows the timer compare values the
// module programs, so a regulation loop through the device's ioctls closes
// the gain loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include <hostkernel/chrdev.h>
#include <hostkernel/hostkernel.h>

#include "myradio.h"
#include "radio_board.h"

namespace {

constexpr int kTarget = 500;
constexpr double kBuffersPerSecond = 1e9 / (384 * 97600.0);

// Per channel: Q and I mean absolute deviation over one buffer of 64 frames,
// computed from the delivered stream as the daemon sees it.
struct Amp {
  int q, i;
};

class Board : public ::testing::Test {
 protected:
  void Start(const radio_board_config &cfg) {
    ASSERT_EQ(0, radio_board_start(&cfg));
    int err = 0;
    f_ = hk_chrdev_open(MYRADIO_MAJOR, MYRADIO_MINOR, O_RDONLY, &err);
    ASSERT_NE(nullptr, f_) << err;
  }

  void TearDown() override {
    if (f_) hk_file_close(f_);
    EXPECT_EQ(0, radio_board_stop());
    hk_task_clear_signal(hk_task_self());
    char buf[256];
    EXPECT_EQ(0, hk_res_live_total()) << hk_res_report(buf, sizeof buf);
  }

  // Read until the next buffer-end mark; the amplitudes of that buffer.
  // False at the end of the input.
  bool NextBuffer(std::array<Amp, 3> &amp) {
    while (true) {
      if (pos_ == have_) {
        long n = hk_file_read(f_, block_, sizeof block_);
        if (n <= 0) return false;
        EXPECT_EQ(0, n % 12);
        have_ = static_cast<size_t>(n);
        pos_ = 0;
      }
      for (; pos_ < have_; pos_ += 12) {
        bool mark = false;
        for (int w = 0; w < 6; ++w) {
          unsigned v = block_[pos_ + 2 * w] | (block_[pos_ + 2 * w + 1] << 8);
          mark |= (v & 0x8000) != 0;
          frame_[frames_][w] = v & 0x7fff;
        }
        if (++frames_ < 64) {
          EXPECT_FALSE(mark) << "mark inside a buffer";
          continue;
        }
        EXPECT_TRUE(mark) << "no mark at the end of a buffer";
        frames_ = 0;
        for (int w = 0; w < 6; ++w) {
          double mean = 0, s = 0;
          for (auto &fr : frame_) mean += fr[w];
          mean /= 64;
          for (auto &fr : frame_) s += std::fabs(fr[w] - mean);
          (w % 2 ? amp[w / 2].i : amp[w / 2].q) = static_cast<int>(s / 64);
        }
        pos_ += 12;
        return true;
      }
    }
  }

  long Adjust(int cha, int val) {
    chan_set cs{cha, val};
    return hk_file_ioctl(f_, RADIO_ADJUST, reinterpret_cast<unsigned long>(&cs));
  }

  long Get(int cha) { return hk_file_ioctl(f_, RADIO_GET, reinterpret_cast<unsigned long>(&cha)); }

  // One step of the daemon's regulation rule for one channel.
  void Regulate(int cha, const Amp &a) {
    int m = std::max(a.q, a.i), d = m - kTarget, val;
    if (d > 0)
      val = -(90 + d / 4);
    else if (std::abs(a.q - a.i) >= 50)
      val = -90;
    else
      val = 90 + (kTarget - m) / 4;
    ASSERT_EQ(0, Adjust(cha, val));
  }

  // Runs the loop for the given stream time, regulating on running means of
  // the per-buffer amplitudes (weight 1/smooth for the newest, as the
  // daemon's front end keeps them).  Per channel the buffer index from which
  // the mean stayed within tolerance of the target (-1: never).
  std::array<long, 3> RunLoop(double seconds, int smooth, double tolerance,
                              std::array<Amp, 3> &mean) {
    std::array<long, 3> settled{-1, -1, -1};
    first_ = {-1, -1, -1};
    late_ = {0, 0, 0};
    std::array<std::array<double, 2>, 3> m{};
    long buffers = std::lround(seconds * kBuffersPerSecond);
    for (long n = 0; n < buffers; ++n) {
      std::array<Amp, 3> amp{};
      if (!NextBuffer(amp)) break;
      for (int ch = 0; ch < 3; ++ch) {
        if (n == 0) m[ch] = {double(amp[ch].q), double(amp[ch].i)};
        m[ch][0] += (amp[ch].q - m[ch][0]) / smooth;
        m[ch][1] += (amp[ch].i - m[ch][1]) / smooth;
        mean[ch] = {int(m[ch][0]), int(m[ch][1])};
        bool near = std::abs(std::max(mean[ch].q, mean[ch].i) - kTarget) <= kTarget * tolerance;
        if (!near)
          settled[ch] = -1;
        else if (settled[ch] < 0)
          settled[ch] = n;
        if (near && first_[ch] < 0) first_[ch] = n;
        if (2 * n >= buffers) late_[ch] += std::max(mean[ch].q, mean[ch].i) / (buffers / 2.0);
        Regulate(ch, mean[ch]);
      }
    }
    return settled;
  }

  std::array<long, 3> first_{};   // first buffer within tolerance
  std::array<double, 3> late_{};  // mean amplitude over the second half
  file *f_ = nullptr;
  uint8_t block_[1536];
  size_t have_ = 0, pos_ = 0;
  unsigned frame_[64][6];
  int frames_ = 0;
};

TEST_F(Board, FrontEndFollowsTheTimerCompareValue) {
  radio_board_config cfg{};
  cfg.gain[0] = cfg.gain[1] = cfg.gain[2] = 1.0;
  Start(cfg);
  std::array<Amp, 3> a{};
  ASSERT_TRUE(NextBuffer(a));
  ASSERT_TRUE(NextBuffer(a));
  // synthesized tones: mean amplitude 500 at the load's compare values
  for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(500, a[ch].q, 25) << ch;
  // +190 counts double the gain, -190 halve it
  ASSERT_EQ(0, Adjust(0, 8 * 190));
  ASSERT_EQ(0, Adjust(2, -8 * 190));
  EXPECT_EQ(1982, Get(0));
  // the buffer being filled at the change mixes both gains; the next is clean
  ASSERT_TRUE(NextBuffer(a));
  ASSERT_TRUE(NextBuffer(a));
  ASSERT_TRUE(NextBuffer(a));
  EXPECT_NEAR(1000, a[0].i, 50);
  EXPECT_NEAR(500, a[1].i, 25);
  EXPECT_NEAR(250, a[2].i, 15);
  radio_board_stats st;
  radio_board_last(&st);
  EXPECT_EQ(1982, st.compare[0]);
  EXPECT_EQ(1792, st.compare[1]);
  EXPECT_EQ(1602, st.compare[2]);
  EXPECT_NEAR(2.0, radio_board_gain(1982), 0.01);
}

TEST_F(Board, RegulationThroughTheIoctlsConverges) {
  radio_board_config cfg{};
  cfg.gain[0] = 8.0;     // far too strong
  cfg.gain[1] = 0.125;   // far too weak
  cfg.gain[2] = 3.0;
  Start(cfg);
  std::array<Amp, 3> last{};
  std::array<long, 3> settled = RunLoop(20.0, 1, 0.1, last);
  for (int ch = 0; ch < 3; ++ch) {
    SCOPED_TRACE(ch);
    ASSERT_GE(settled[ch], 0) << "never settled";
    EXPECT_NEAR(kTarget, std::max(last[ch].q, last[ch].i), kTarget / 10);
    std::printf("channel %d settles within 10%% of %d after %.2f s, compare %ld\n", ch, kTarget,
                settled[ch] / kBuffersPerSecond, Get(ch));
    RecordProperty("settle_seconds_ch" + std::to_string(ch),
                   std::to_string(settled[ch] / kBuffersPerSecond));
  }
  // the compare values found make up for the front-end factors
  EXPECT_NEAR(1792 - 12.65 * std::log10(8.0) / 0.02, Get(0), 25);
  EXPECT_NEAR(1792 + 12.65 * std::log10(8.0) / 0.02, Get(1), 25);
  EXPECT_NEAR(1792 - 12.65 * std::log10(3.0) / 0.02, Get(2), 25);
}

TEST_F(Board, RegulationConvergesOnAnOffAirRecording) {
  std::filesystem::path rec = std::filesystem::path(NAVTEX_TESTDATA_DIR) / "offair-518-weather.raw";
  if (!std::filesystem::exists(rec)) GTEST_SKIP() << "recording not found: " << rec;
  radio_board_config cfg{};
  std::string path = rec.string();
  cfg.recording = path.c_str();
  cfg.gain[0] = cfg.gain[1] = cfg.gain[2] = 6.0;
  Start(cfg);
  std::array<Amp, 3> mean{};
  RunLoop(60.0, 8, 0.2, mean);
  // The recording's own level varies (fading, keying), so the mean only
  // stays near the target on average.
  for (int ch = 0; ch < 3; ++ch) {
    SCOPED_TRACE(ch);
    ASSERT_GE(first_[ch], 0) << "never came near the target";
    std::printf("off-air channel %d within 20%% of %d after %.2f s; mean %.0f over the last 30 s,"
                " compare %ld\n", ch, kTarget, first_[ch] / kBuffersPerSecond, late_[ch], Get(ch));
    EXPECT_NEAR(kTarget, late_[ch], kTarget * 0.15);
  }
  // the signal channel's gain makes up for the front-end factor of 6
  EXPECT_NEAR(1792 - 12.65 * std::log10(6.0) / 0.02, Get(1), 60);
}

TEST_F(Board, EndOfTheRecordingEndsTheInput) {
  // a short recording of 130 frames, played twice
  std::filesystem::path tmp = std::filesystem::temp_directory_path() /
                              ("rfspidrv_board_" + std::to_string(::getpid()) + ".raw");
  {
    std::FILE *out = std::fopen(tmp.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    for (int f = 0; f < 130; ++f)
      for (int w = 0; w < 6; ++w) {
        uint16_t v = static_cast<uint16_t>(16384 + (f % 2 ? 100 : -100));
        std::fputc(v & 0xff, out);
        std::fputc(v >> 8, out);
      }
    std::fclose(out);
  }
  radio_board_config cfg{};
  std::string path = tmp.string();
  cfg.recording = path.c_str();
  cfg.loops = 2;
  Start(cfg);
  std::array<Amp, 3> a{};
  int buffers = 0;
  while (NextBuffer(a)) ++buffers;
  std::filesystem::remove(tmp);
  EXPECT_TRUE(radio_board_exhausted());
  EXPECT_EQ(260 / 64, buffers);  // whole buffers of the two plays
  EXPECT_NEAR(100, a[1].q, 10);
}

}  // namespace
