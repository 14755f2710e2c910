// rfspidrv on the host kernel layer: load and unload, the hardware set-up,
// the ring under simulated SPI transfers and interrupts, the read path, the
// gain and sound-device ioctls, and the release of everything a failed load
// had taken.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/soundcard.h>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <hostkernel/at91.h>
#include <hostkernel/chrdev.h>
#include <hostkernel/clk.h>
#include <hostkernel/dma.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/irq.h>
#include <hostkernel/mmio.h>
#include <hostkernel/uaccess.h>

#include "myradio.h"

extern "C" int soundcore_opens(void);

namespace {

constexpr const char *kModule = "rfspidrv";
constexpr unsigned kWords = PDC_BUFFER_WORDS;
constexpr uint32_t kSpi = 0xFFFA8000;
constexpr uint32_t kTc0 = 0xFFF7C000;
constexpr uint32_t kTc1 = 0xFFF7C040;

// The sound-device numbers the compatibility table is written against
static_assert(SNDCTL_DSP_RESET == 0x00005000);
static_assert(SNDCTL_DSP_SYNC == 0x00005001);
static_assert(SNDCTL_DSP_NONBLOCK == 0x0000500E);
static_assert(SNDCTL_DSP_SETDUPLEX == 0x00005016);
static_assert(SNDCTL_DSP_GETFMTS == 0x8004500B);
static_assert(SNDCTL_DSP_SETFMT == 0xC0045005);
static_assert(SNDCTL_DSP_SPEED == 0xC0045002);
static_assert(SNDCTL_DSP_STEREO == 0xC0045003);
static_assert(SNDCTL_DSP_CHANNELS == 0xC0045006);
static_assert(SNDCTL_DSP_GETBLKSIZE == 0xC0045004);
static_assert(SNDCTL_DSP_SETFRAGMENT == 0xC004500A);
static_assert(SNDCTL_DSP_GETODELAY == 0x80045017);
static_assert(OSS_GETVERSION == 0x80044D76);
static_assert(SNDCTL_DSP_GETISPACE == 0x8010500D);
static_assert(SNDCTL_DSP_GETIPTR == 0x800C5011);
static_assert(SNDCTL_DSP_PROFILE == 0x40045017);
static_assert(RADIO_ADJUST == 0x40045201);
static_assert(RADIO_GET == 0x40045202);

std::string Console() { return hk_printk_text(); }

uint16_t Word(const std::vector<uint8_t> &b, size_t k) {
  return static_cast<uint16_t>(b[2 * k] | (b[2 * k + 1] << 8));
}

// What the default converter answers for stream word g: input g mod 6, its
// (g / 6)-th conversion.
uint16_t Raw(uint64_t g) { return static_cast<uint16_t>(((g % 6) << 12) | ((g / 6) & 0xfff)); }

// Word k of a delivered buffer: raw value plus the buffer-end mark and the
// compare bits of channels 0 and 1 in bit 8 of words 0..15.
uint16_t Delivered(uint64_t g, unsigned k, int c0, int c1) {
  uint16_t v = Raw(g);
  if (k == kWords - 1) v |= 0x8000;
  if (k < 16 && (((c0 >> k) | (c1 >> k)) & 1)) v |= 0x100;
  return v;
}

class Radio : public ::testing::Test {
 protected:
  void SetUp() override {
    hk_fault_clear();
    hk_user_map_all();
    hk_set_idle_hook(nullptr, nullptr);
    hk_at91_reset();
    hk_irq_hold(15, 0);
    hk_printk_clear();
    hk_mmio_log_reset();
  }

  void TearDown() override {
    for (file *f : open_) hk_file_close(f);
    hk_set_idle_hook(nullptr, nullptr);
    hk_irq_hold(15, 0);
    if (hk_module_loaded(kModule)) {
      EXPECT_EQ(0, hk_module_unload(kModule));
    }
    char buf[256];
    EXPECT_EQ(0, hk_res_live_total()) << hk_res_report(buf, sizeof buf);
    EXPECT_EQ(0ul, hk_at91_pdc_faults());
  }

  int Load(const char *args = "") {
    int r = hk_module_load(kModule, args);
    hk_mmio_log_reset();
    return r;
  }

  file *Open(int flags = O_RDONLY) {
    int err = 0;
    file *f = hk_chrdev_open(MYRADIO_MAJOR, MYRADIO_MINOR, flags, &err);
    EXPECT_NE(nullptr, f) << err;
    if (f) open_.push_back(f);
    return f;
  }

  void Close(file *f) {
    std::erase(open_, f);
    EXPECT_EQ(0, hk_file_close(f));
  }

  // Let the converter fill n more buffers (interrupts happen on the way).
  static void Buffers(unsigned n) { hk_at91_spi_run(static_cast<unsigned long>(n) * kWords); }

  static long Read(file *f, std::vector<uint8_t> &out, size_t count) {
    out.assign(count, 0);
    long r = hk_file_read(f, out.data(), count);
    out.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return r;
  }

  static long Ioctl(file *f, unsigned cmd, void *arg) {
    return hk_file_ioctl(f, cmd, reinterpret_cast<unsigned long>(arg));
  }

  std::vector<file *> open_;
};

// Load and unload

TEST_F(Radio, LoadPrintsItsMessagesInOrder) {
  ASSERT_EQ(0, Load());
  std::string expected =
      "<6>Module myradio:\\.\\.\\. My Rvcxadio \\(myradio_init\\(\\):721\\)\n"
      "<6>Master clock : 100000000\n"
      "<6>Clock devider: scbr: 182 dlybtc 214\n";
  for (int i = 0; i < 20; ++i) expected += "<6>" + std::to_string(i) + ": PDC buffer at 0x[0-9A-F]+ \n";
  expected +=
      "<6>Returning from PDC allocate 20 \n"
      "<6>tx buf at 0x[0-9A-F]+ \n"
      "<6>spi base mapped at 0x[0-9A-F]+ \n"
      "<6>requesting interrupt\n"
      "<6>interrupt requested\n"
      "AT91_SPI_SR: [0-9A-F]{8}\n"
      "AT91_SPI_SR: [0-9A-F]{8}\n"
      "<6>TC base mapped at 0x[0-9A-F]+ and 0x[0-9A-F]+\n"
      "<6>Setting A:1792 B:1792 C:4096\n"
      "<6>TC initialized\n"
      "<6>Myradio fylly loaded\n";
  EXPECT_TRUE(std::regex_match(Console(), std::regex(expected))) << Console();
  EXPECT_STREQ("GPL", hk_module_info(kModule, "license"));
  EXPECT_STREQ("My Spi module for Tovane", hk_module_info(kModule, "description"));
}

TEST_F(Radio, LoadClaimsDeviceInterruptAndPins) {
  ASSERT_EQ(0, Load());
  EXPECT_TRUE(hk_chrdev_live(14, 3));
  EXPECT_FALSE(hk_chrdev_live(14, 4));
  EXPECT_TRUE(hk_chrdev_region_live(14, 3));
  EXPECT_FALSE(hk_chrdev_region_live(14, 4));
  EXPECT_TRUE(hk_irq_registered(15));
  EXPECT_STREQ("spi1", hk_irq_name(15));
  EXPECT_EQ(0ul, hk_irq_flags(15));
  EXPECT_EQ(nullptr, hk_irq_dev_id(15));
  EXPECT_EQ(1, hk_clk_enabled("spi1_clk"));
  EXPECT_EQ(1, hk_clk_enabled("tcb_clk"));
  for (unsigned pin : {76u, 77u, 78u, 79u}) {
    EXPECT_EQ('A', hk_at91_pin_function(pin)) << pin;
    EXPECT_EQ(1, hk_at91_pin_pullup(pin)) << pin;
  }
  for (unsigned pin : {178u, 179u, 168u}) {
    EXPECT_EQ('B', hk_at91_pin_function(pin)) << pin;
    EXPECT_EQ(1, hk_at91_pin_pullup(pin)) << pin;
  }
  char buf[16];
  EXPECT_STREQ("182", hk_module_param(kModule, "scbr", buf, sizeof buf));
  EXPECT_EQ(0444, hk_module_param_perm(kModule, "scbr"));
  EXPECT_EQ(0444, hk_module_param_perm(kModule, "dlybtc"));
}

TEST_F(Radio, ParametersFallBackTogetherAndOnlyTheLowByteCounts) {
  struct Case {
    const char *args;
    int shown_scbr, shown_dlybtc;
  } cases[] = {
      {"", 182, 214},
      {"scbr=100", 182, 214},
      {"dlybtc=50", 182, 214},
      {"scbr=0 dlybtc=50", 182, 214},
      {"scbr=100 dlybtc=50", 100, 50},
      {"scbr=300 dlybtc=214", 44, 214},
      {"scbr=182 dlybtc=0x1FF", 182, 255},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args);
    hk_printk_clear();
    ASSERT_EQ(0, hk_module_load(kModule, c.args));
    std::string line = "<6>Clock devider: scbr: " + std::to_string(c.shown_scbr) + " dlybtc " +
                       std::to_string(c.shown_dlybtc) + "\n";
    EXPECT_NE(std::string::npos, Console().find(line)) << Console();
    uint32_t csr = (static_cast<uint32_t>(c.shown_dlybtc) << 24) |
                   (static_cast<uint32_t>(c.shown_scbr) << 8) | 0x00050082;
    EXPECT_EQ(csr, hk_at91_spi_reg(0x30));
    EXPECT_EQ((16ull * c.shown_scbr + 32ull * c.shown_dlybtc) * 10, hk_at91_spi_transfer_ns());
    ASSERT_EQ(0, hk_module_unload(kModule));
  }
}

TEST_F(Radio, DefaultDividersGiveTheBoardsSampleRate) {
  ASSERT_EQ(0, Load());
  // 9760 master clocks per transfer at 100 MHz, six inputs per frame
  EXPECT_EQ(97600u, hk_at91_spi_transfer_ns());
  EXPECT_NEAR(1707.65, 1e9 / (6.0 * hk_at91_spi_transfer_ns()), 0.01);
}

TEST_F(Radio, ParameterOutOfRangeRefusesTheLoad) {
  EXPECT_EQ(-EINVAL, hk_module_load(kModule, "scbr=70000"));
  EXPECT_FALSE(hk_module_loaded(kModule));
  EXPECT_EQ(-ENOENT, hk_module_load(kModule, "speed=3"));
}

TEST_F(Radio, SetupProgramsSpiAndPdcInOrder) {
  hk_printk_clear();
  hk_mmio_log_reset();
  ASSERT_EQ(0, hk_module_load(kModule, ""));
  std::vector<std::pair<uint32_t, uint32_t>> spi, tc;
  for (size_t i = 0; i < hk_mmio_log_count(); ++i) {
    const hk_mmio_access &a = hk_mmio_log()[i];
    if (a.phys >= kSpi && a.phys < kSpi + 0x128) spi.emplace_back(a.phys - kSpi, a.value);
    if (a.phys >= kTc0 && a.phys < kTc0 + 0x100) tc.emplace_back(a.phys - kTc0, a.value);
  }
  const uint32_t tx = pdc_tx_buff.dma;
  std::vector<std::pair<uint32_t, uint32_t>> want = {
      {0x120, 0x202}, {0x18, 0xFF},  {0x00, 0x2},   {0x00, 0x80},          {0x00, 0x80},
      {0x00, 0x0},    {0x04, 0x06000001},           {0x30, 0xD6000000u | (182 << 8) | 0x50082},
      {0x00, 0x1},    {0x108, tx},   {0x10C, 384},  {0x100, pdc_buffers[0].dma}, {0x104, 384},
      {0x118, tx},    {0x11C, 384},  {0x110, pdc_buffers[1].dma},   {0x114, 384},
      {0x14, 0x10},   {0x120, 0x101}};
  EXPECT_EQ(want, spi);
  std::vector<std::pair<uint32_t, uint32_t>> want_tc = {
      {0x00, 0x2},    {0x04, 0x0909C400}, {0x14, 1792}, {0x18, 1792}, {0x1C, 4096},
      {0x28, 0xFF},   {0x00, 0x5},
      {0x40, 0x2},    {0x44, 0x0909C400}, {0x54, 1792}, {0x58, 0},    {0x5C, 4096},
      {0x68, 0xFF},   {0x40, 0x5}};
  EXPECT_EQ(want_tc, tc);
  EXPECT_TRUE(hk_at91_tc_running(0));
  EXPECT_TRUE(hk_at91_tc_running(1));
}

TEST_F(Radio, TransmitBufferCyclesThroughTheInputs) {
  ASSERT_EQ(0, Load());
  const auto *w = static_cast<const uint8_t *>(pdc_tx_buff.virt);
  auto word = [&](int k) { return static_cast<uint16_t>(w[2 * k] | (w[2 * k + 1] << 8)); };
  const uint16_t first[] = {0x0800, 0x1000, 0x1800, 0x2000, 0x2800, 0x0000};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(first[k], word(k)) << k;
  for (int k = 0; k < 384; ++k) ASSERT_EQ(((k + 1) % 6) << 11, word(k)) << k;
  EXPECT_EQ(0, word(383));
  // the controller really sends them
  Buffers(1);
  EXPECT_EQ(0x0000, hk_at91_spi_last_tx());
}

TEST_F(Radio, UnloadStopsTheDmaBeforeFreeingAndGivesEverythingBack) {
  ASSERT_EQ(0, Load());
  Buffers(3);
  hk_mmio_log_reset();
  ASSERT_EQ(0, hk_module_unload(kModule));
  EXPECT_EQ(0u, hk_at91_spi_reg(0x124));                 // PTSR: both PDC directions off
  EXPECT_EQ(0u, hk_at91_spi_reg(0x10) & (1u << 16));     // SPI disabled
  EXPECT_EQ(0u, hk_at91_spi_reg(0x1C));                  // no interrupt enabled
  EXPECT_FALSE(hk_at91_tc_running(0));
  EXPECT_FALSE(hk_at91_tc_running(1));
  EXPECT_FALSE(hk_chrdev_live(14, 3));
  EXPECT_FALSE(hk_chrdev_region_live(14, 3));
  EXPECT_FALSE(hk_irq_registered(15));
  EXPECT_EQ(0, hk_clk_enabled("spi1_clk"));
  EXPECT_EQ(0, hk_clk_enabled("tcb_clk"));
  EXPECT_EQ(0l, hk_res_live_total());
  // time goes on: nothing moves into the freed buffers
  unsigned long before = hk_at91_spi_transfers();
  hk_clock_advance(1000000000ull);
  EXPECT_EQ(before, hk_at91_spi_transfers());
  // and the module loads again from its start state
  ASSERT_EQ(0, Load());
  EXPECT_EQ(2, pdc_buff_wp);
  EXPECT_EQ(1792, pwm_obj.compare[1]);
}

TEST_F(Radio, UnloadIsRefusedWhileTheDeviceIsOpen) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  EXPECT_NE(0, hk_module_unload(kModule));
  EXPECT_TRUE(hk_module_loaded(kModule));
  Close(f);
  EXPECT_EQ(0, hk_module_unload(kModule));
}

// Failed loads

struct LoadFailure {
  const char *kind;
  int nth;
  int result;
  const char *console_tail;
};

class RadioLoadFailure : public Radio, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(RadioLoadFailure, GivesBackWhatItTook) {
  const LoadFailure &p = GetParam();
  hk_fault_inject(p.kind, p.nth, 1);
  EXPECT_EQ(p.result, hk_module_load(kModule, ""));
  hk_fault_clear();
  std::string c = Console();
  EXPECT_TRUE(std::regex_search(c, std::regex(std::string(p.console_tail) + "$"))) << c;
  EXPECT_FALSE(hk_module_loaded(kModule));
  EXPECT_FALSE(hk_chrdev_live(14, 3));
  EXPECT_FALSE(hk_chrdev_region_live(14, 3));
  EXPECT_FALSE(hk_irq_registered(15));
  EXPECT_LE(hk_clk_enabled("spi1_clk"), 0);
  EXPECT_LE(hk_clk_enabled("tcb_clk"), 0);
  char buf[256];
  EXPECT_EQ(0, hk_res_live_total()) << hk_res_report(buf, sizeof buf);
  // nothing of the failed attempt stands in the way of the next load
  EXPECT_EQ(0, hk_module_load(kModule, ""));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, RadioLoadFailure,
    ::testing::Values(
        LoadFailure{"clk_get", 1, -1,
                    "My Rvcxadio \\(myradio_init\\(\\):721\\)\n<3>Could not get clk \\((ffffffff)?fffffffe\\)\n"},
        LoadFailure{"dma_alloc", 1, -ENODEV,
                    "Clock devider: scbr: 182 dlybtc 214\n<6>DMA allocation failed\\.\\.\\.\n"
                    "<3>ERROR: allocate pdcbuffers\n"},
        LoadFailure{"dma_alloc", 11, -ENODEV,
                    "<6>9: PDC buffer at 0x[0-9A-F]+ \n<6>DMA allocation failed\\.\\.\\.\n"
                    "<3>ERROR: allocate pdcbuffers\n"},
        LoadFailure{"dma_alloc", 20, -ENODEV,
                    "<6>18: PDC buffer at 0x[0-9A-F]+ \n<6>DMA allocation failed\\.\\.\\.\n"
                    "<3>ERROR: allocate pdcbuffers\n"},
        LoadFailure{"dma_alloc", 21, -ENODEV,
                    "<6>Returning from PDC allocate 20 \nDMA allocation failed\\.\\.\\.\nallocate pdcbuffers\n"},
        LoadFailure{"ioremap", 1, -ENODEV, "<6>tx buf at 0x[0-9A-F]+ \ncould not map spi base\n"},
        LoadFailure{"chrdev_region", 1, -EBUSY,
                    "<6>spi base mapped at 0x[0-9A-F]+ \n<5>Error -16 reserving myspi sound dsp device 14:3\n"},
        LoadFailure{"cdev_add", 1, -ENOMEM,
                    "<6>spi base mapped at 0x[0-9A-F]+ \n<5>Error -12 adding myspi sound dsp device\n"},
        LoadFailure{"irq", 1, -EBUSY, "<6>requesting interrupt\n"}),
    [](const ::testing::TestParamInfo<LoadFailure> &i) {
      return std::string(i.param.kind) + "_" + std::to_string(i.param.nth);
    });

TEST_F(Radio, MissingTimersStillLoadAndSampleWithoutTouchingThem) {
  struct Case {
    const char *kind;
    int nth;
    const char *tail;
  } cases[] = {
      {"clk_get", 2, "could not get TC clock\n<6>Myradio fylly loaded\n"},
      {"ioremap", 2, "could not map TC base 0\n<6>Myradio fylly loaded\n"},
      {"ioremap", 3, "could not map TC base 1\n<6>Myradio fylly loaded\n"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(std::string(k.kind) + " " + std::to_string(k.nth));
    hk_printk_clear();
    hk_fault_inject(k.kind, k.nth, 1);
    ASSERT_EQ(0, hk_module_load(kModule, ""));
    hk_fault_clear();
    std::string tail = k.tail;
    std::string c = Console();
    EXPECT_EQ(tail, c.substr(c.size() - std::min(c.size(), tail.size())));
    EXPECT_EQ(std::string::npos, c.find("TC initialized"));
    // what the timer step took is given back at once: only the SPI window stays
    EXPECT_EQ(1, hk_res_live("ioremap"));
    EXPECT_EQ(0, hk_clk_enabled("tcb_clk"));
    EXPECT_FALSE(hk_at91_tc_running(0));
    // gains are still tracked; a write through a missing window would stop the program
    file *f = Open();
    for (int cha = 0; cha < 3; ++cha) {
      chan_set cs{cha, 80};
      EXPECT_EQ(0, Ioctl(f, RADIO_ADJUST, &cs));
      int c2 = cha;
      EXPECT_EQ(1802, Ioctl(f, RADIO_GET, &c2));
    }
    // sampling runs
    Buffers(2);
    std::vector<uint8_t> data;
    EXPECT_EQ(768, Read(f, data, 768));
    Close(f);
    ASSERT_EQ(0, hk_module_unload(kModule));
    EXPECT_EQ(0, hk_res_live("ioremap"));
  }
}

// The timer block's clock is switched off late in boot when no driver has
// claimed it; the module claims it for as long as it is loaded, and leaves
// a clock the board code keeps on as it found it.
TEST_F(Radio, GainTimersRunOnTheirBlocksClockHeldWhileLoaded) {
  for (bool board_on : {false, true}) {
    SCOPED_TRACE(board_on ? "board keeps tcb_clk on" : "tcb_clk off after boot");
    hk_at91_reset();
    if (board_on) {
      ASSERT_EQ(1, hk_clk_board_enable("tcb_clk", 1));
    }
    const int base = board_on ? 1 : 0;
    ASSERT_EQ(0, Load());
    EXPECT_EQ(base + 1, hk_clk_enabled("tcb_clk"));
    EXPECT_TRUE(hk_at91_tc_running(0));
    EXPECT_TRUE(hk_at91_tc_running(1));
    file *f = Open();
    chan_set cs{2, -800};
    ASSERT_EQ(0, Ioctl(f, RADIO_ADJUST, &cs));
    EXPECT_EQ(1692u, hk_at91_tc_reg(1, 0x14));  // the gain output moved
    Close(f);
    ASSERT_EQ(0, hk_module_unload(kModule));
    EXPECT_EQ(base, hk_clk_enabled("tcb_clk"));
    EXPECT_FALSE(hk_at91_tc_running(0));
    EXPECT_FALSE(hk_at91_tc_running(1));
    if (board_on) {
      EXPECT_EQ(0, hk_clk_board_enable("tcb_clk", 0));
    }
  }
}

// Major 14 belongs to the sound core where the kernel has sound support.
// The load must fail then, not quietly take 14:3 away from it.
TEST_F(Radio, DeviceNumberOwnedByAnotherDriverFailsTheLoad) {
  ASSERT_EQ(0, hk_module_load("soundcore", ""));
  hk_printk_clear();
  EXPECT_EQ(-EBUSY, hk_module_load(kModule, ""));
  EXPECT_TRUE(std::regex_search(
      Console(), std::regex("<5>Error -16 reserving myspi sound dsp device 14:3\n$")))
      << Console();
  EXPECT_FALSE(hk_module_loaded(kModule));
  EXPECT_FALSE(hk_irq_registered(15));
  EXPECT_LE(hk_clk_enabled("spi1_clk"), 0);
  EXPECT_EQ(1, hk_res_live("chrdev_region"));  // the sound core's alone
  EXPECT_EQ(1, hk_res_live("cdev"));
  // 14:3 still opens the sound core's device
  int opens = soundcore_opens();
  int err = 0;
  file *f = hk_chrdev_open(14, 3, O_RDONLY, &err);
  ASSERT_NE(nullptr, f) << err;
  EXPECT_EQ(opens + 1, soundcore_opens());
  EXPECT_EQ(0, hk_file_close(f));
  // and once the sound core is gone the module loads
  ASSERT_EQ(0, hk_module_unload("soundcore"));
  EXPECT_EQ(0, Load());
  f = Open();
  EXPECT_EQ(opens + 1, soundcore_opens());
  Close(f);
}

// The ring

TEST_F(Radio, RingStatesAfterLoadAndEachInterrupt) {
  ASSERT_EQ(0, Load());
  EXPECT_EQ(PDC_FILLING, pdc_buffers[0].state);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[1].state);
  for (int i = 2; i < 20; ++i) EXPECT_EQ(PDC_FREE, pdc_buffers[i].state) << i;
  EXPECT_EQ(2, pdc_buff_wp);
  EXPECT_EQ(0, pdc_buff_rp);
  EXPECT_FALSE(check_pdc_read_buf());

  long irqs = hk_irq_count(15);
  hk_at91_spi_run(kWords - 1);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[0].state);  // one word short of full
  EXPECT_EQ(irqs, hk_irq_count(15));
  hk_at91_spi_run(1);
  EXPECT_EQ(irqs + 1, hk_irq_count(15));
  EXPECT_EQ(PDC_FULL, pdc_buffers[0].state);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[1].state);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[2].state);
  EXPECT_EQ(3, pdc_buff_wp);
  EXPECT_TRUE(check_pdc_read_buf());

  for (int n = 2; n <= 25; ++n) {
    Buffers(1);
    EXPECT_EQ((2 + n) % 20, pdc_buff_wp) << n;
    // the two queued buffers fill, everything else unread is full
    for (int i = 0; i < 20; ++i) {
      int age = ((2 + n) - 1 - i + 40) % 20;  // 0 = most recently queued
      int want = age < 2 ? PDC_FILLING : PDC_FULL;
      if (n + 2 <= 20 && i >= n + 2) want = PDC_FREE;
      EXPECT_EQ(want, pdc_buffers[i].state) << "n=" << n << " i=" << i;
    }
  }
  EXPECT_EQ(0u, hk_at91_spi_reg(0x10) & 0x80);  // never ran dry
}

TEST_F(Radio, LateInterruptRestartsTheTransfersAlignedOnFrames) {
  ASSERT_EQ(0, Load());
  hk_irq_hold(15, 1);
  Buffers(3);  // both queued buffers complete, then the controller stops
  EXPECT_EQ(2ul * kWords, hk_at91_spi_transfers());
  EXPECT_EQ(0xD0u, hk_at91_spi_reg(0x10) & 0xD0);  // ENDRX latched, RXBUFF, TXBUFE
  hk_printk_clear();
  hk_irq_hold(15, 0);  // the handler runs late
  EXPECT_EQ(".", Console());
  EXPECT_EQ(4, pdc_buff_wp);
  EXPECT_EQ(PDC_FULL, pdc_buffers[0].state);
  EXPECT_EQ(PDC_FULL, pdc_buffers[1].state);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[2].state);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[3].state);
  Buffers(1);
  file *f = Open();
  std::vector<uint8_t> d;
  ASSERT_EQ(3 * 768, Read(f, d, 4 * 768));
  for (unsigned k = 0; k < 3 * kWords; ++k)
    ASSERT_EQ(k % 6, (Word(d, k) >> 12) & 7u) << "word " << k << " is not input " << k % 6;
  for (unsigned k = 0; k < 3 * kWords; ++k)
    ASSERT_EQ(Delivered(k, k % kWords, 1792, 1792), Word(d, k)) << k;
}

TEST_F(Radio, SpuriousInterruptIsReportedAndIgnored) {
  ASSERT_EQ(0, Load());
  hk_printk_clear();
  EXPECT_EQ(1, hk_irq_trigger(15));  // IRQ_HANDLED
  EXPECT_TRUE(std::regex_match(Console(), std::regex("Interrupt : [0-9A-F]{8}\n"))) << Console();
  EXPECT_EQ(2, pdc_buff_wp);
  EXPECT_EQ(PDC_FILLING, pdc_buffers[0].state);
}

TEST_F(Radio, StreamStaysContinuousOverManyBuffers) {
  ASSERT_EQ(0, Load());
  hk_printk_clear();
  file *f = Open();
  // A reader that keeps up: each time it would sleep, one more buffer fills.
  hk_set_idle_hook([](void *) { Buffers(1); return 1; }, nullptr);
  uint64_t g = 0;
  std::vector<uint8_t> d;
  while (g < 60 * kWords) {
    long n = Read(f, d, 1536);
    ASSERT_TRUE(n == 768 || n == 1536) << n;  // whole buffers only
    for (long k = 0; k < n / 2; ++k, ++g)
      ASSERT_EQ(Delivered(g, static_cast<unsigned>(g % kWords), 1792, 1792), Word(d, k)) << g;
  }
  EXPECT_EQ(std::string::npos, Console().find('>'));
}

// Reads

TEST_F(Radio, ReadSizesWithNoneOneOrTwoBuffersReady) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  std::vector<uint8_t> d;
  file *nb = Open(O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(-EAGAIN, Read(nb, d, 768));  // none ready

  Buffers(1);  // one ready
  EXPECT_EQ(768, Read(f, d, 1536));      // does not wait for a second
  EXPECT_EQ(1, pdc_buff_rp);
  EXPECT_EQ(PDC_FREE, pdc_buffers[0].state);

  Buffers(2);  // two ready
  EXPECT_EQ(1536, Read(f, d, 1536));
  EXPECT_EQ(3, pdc_buff_rp);

  Buffers(1);
  EXPECT_EQ(768, Read(f, d, 768));
  EXPECT_EQ(4, pdc_buff_rp);
  for (unsigned k = 0; k < kWords; ++k) ASSERT_EQ(Delivered(3 * kWords + k, k, 1792, 1792), Word(d, k));
}

TEST_F(Radio, ReadOfZeroStampsOnceAndLeavesTheBufferPartial) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  Buffers(1);
  std::vector<uint8_t> d;
  EXPECT_EQ(0, Read(f, d, 0));
  EXPECT_EQ(PDC_PARTIAL, pdc_buffers[0].state);
  EXPECT_EQ(0, pdc_buffers[0].pos);
  EXPECT_EQ(0, pdc_buff_rp);
  // The stamp was taken at 1792; a later gain change must not reach this buffer.
  chan_set cs{0, 8 * (4000 - 1792)};
  ASSERT_EQ(0, Ioctl(f, RADIO_ADJUST, &cs));  // compare 0 -> 3522 = 0xDC2
  ASSERT_EQ(768, Read(f, d, 768));
  for (unsigned k = 0; k < kWords; ++k) ASSERT_EQ(Delivered(k, k, 1792, 1792), Word(d, k)) << k;
  // the next fill carries the new value
  Buffers(1);
  ASSERT_EQ(768, Read(f, d, 768));
  for (unsigned k = 0; k < kWords; ++k) ASSERT_EQ(Delivered(kWords + k, k, 3522, 1792), Word(d, k)) << k;
}

TEST_F(Radio, PartialReadContinuesWhereItStopped) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  std::vector<uint8_t> d, all;
  Buffers(1);
  ASSERT_EQ(100, Read(f, d, 100));
  all = d;
  EXPECT_EQ(PDC_PARTIAL, pdc_buffers[0].state);
  EXPECT_EQ(100, pdc_buffers[0].pos);
  ASSERT_EQ(668, Read(f, d, 1536));  // nothing further ready
  all.insert(all.end(), d.begin(), d.end());

  Buffers(2);
  ASSERT_EQ(100, Read(f, d, 100));
  all.insert(all.end(), d.begin(), d.end());
  ASSERT_EQ(1436, Read(f, d, 1536));  // 668 of this buffer and all of the next
  all.insert(all.end(), d.begin(), d.end());
  EXPECT_EQ(3, pdc_buff_rp);

  Buffers(3);
  ASSERT_EQ(100, Read(f, d, 100));
  all.insert(all.end(), d.begin(), d.end());
  ASSERT_EQ(1536, Read(f, d, 1536));  // filled before the third buffer
  all.insert(all.end(), d.begin(), d.end());
  EXPECT_EQ(PDC_PARTIAL, pdc_buffers[5].state);
  EXPECT_EQ(100, pdc_buffers[5].pos);

  ASSERT_EQ(all.size() % 2, 0u);
  for (unsigned g = 0; g < all.size() / 2; ++g)
    ASSERT_EQ(Delivered(g, g % kWords, 1792, 1792), Word(all, g)) << g;
}

TEST_F(Radio, OnlyTheLastWordOfEachBufferCarriesTheMark) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  Buffers(4);
  std::vector<uint8_t> d;
  ASSERT_EQ(4 * 768, Read(f, d, 4 * 768));
  for (unsigned k = 0; k < 4 * kWords; ++k)
    EXPECT_EQ((k % kWords) == kWords - 1, (Word(d, k) & 0x8000) != 0) << k;
  // 1792 = 0x700: bits 8, 9 and 10 forced, the others as converted
  for (unsigned k = 0; k < 16; ++k) {
    bool forced = k >= 8 && k <= 10;
    EXPECT_EQ(forced || (Raw(k) & 0x100), (Word(d, k) & 0x100) != 0) << k;
  }
}

TEST_F(Radio, StampCarriesTheOrOfChannelsZeroAndOne) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  chan_set a{0, 8 * (0x0C5 - 1792)};
  chan_set b{1, 8 * (0x30A - 1792)};
  chan_set c{2, 8 * 1000};  // channel 2 is not stamped
  ASSERT_EQ(0, Ioctl(f, RADIO_ADJUST, &a));
  ASSERT_EQ(0, Ioctl(f, RADIO_ADJUST, &b));
  ASSERT_EQ(0, Ioctl(f, RADIO_ADJUST, &c));
  Buffers(1);
  std::vector<uint8_t> d;
  ASSERT_EQ(768, Read(f, d, 768));
  for (unsigned k = 0; k < kWords; ++k) ASSERT_EQ(Delivered(k, k, 0x0C5, 0x30A), Word(d, k)) << k;
}

TEST_F(Radio, NonBlockingReadsAndWritesFailEvenWithDataReady) {
  ASSERT_EQ(0, Load());
  Buffers(2);
  file *nb = Open(O_RDONLY | O_NONBLOCK);
  std::vector<uint8_t> d;
  EXPECT_EQ(-EAGAIN, Read(nb, d, 768));
  file *rw = Open(O_RDWR);
  EXPECT_EQ(5, hk_file_write(rw, "abcde", 5));
  EXPECT_EQ(0, Ioctl(rw, SNDCTL_DSP_NONBLOCK, nullptr));
  EXPECT_NE(0u, hk_file_flags(rw) & O_NONBLOCK);
  EXPECT_EQ(-EAGAIN, hk_file_write(rw, "abcde", 5));
  EXPECT_EQ(-EAGAIN, Read(rw, d, 768));
  EXPECT_EQ(0, pdc_buff_rp);  // nothing consumed
}

TEST_F(Radio, OpenersShareOneRingAndNothingResetsOnOpen) {
  ASSERT_EQ(0, Load());
  file *a = Open();
  file *b = Open();
  EXPECT_EQ(4, hk_module_refcount(kModule));  // the file system's reference and the open's own, per file
  Buffers(3);
  std::vector<uint8_t> d, all;
  ASSERT_EQ(100, Read(a, d, 100));
  all = d;
  ASSERT_EQ(768, Read(b, d, 768));  // b continues where a stopped
  all.insert(all.end(), d.begin(), d.end());
  Close(a);
  Close(b);
  EXPECT_EQ(0, hk_module_refcount(kModule));
  file *c = Open();  // a new file continues from the read index
  ASSERT_EQ(3 * 768 - 868, Read(c, d, 1536));
  all.insert(all.end(), d.begin(), d.end());
  ASSERT_EQ(3u * 768, all.size());
  for (unsigned g = 0; g < all.size() / 2; ++g)
    ASSERT_EQ(Delivered(g, g % kWords, 1792, 1792), Word(all, g)) << g;
}

TEST_F(Radio, PollReportsNothingEvenWithDataReady) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  EXPECT_EQ(0u, hk_file_poll(f));
  Buffers(3);
  EXPECT_EQ(0u, hk_file_poll(f));
}

TEST_F(Radio, BlockingReadSleepsUntilTheInterruptWakesIt) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  std::atomic<task_struct *> reader{nullptr};
  std::atomic<long> result{0};
  std::vector<uint8_t> d(1536);
  std::thread t([&] {
    reader = hk_task_self();
    result = hk_file_read(f, d.data(), d.size());
  });
  // wait (bounded) until the reader is asleep on the device
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       !(reader && hk_task_sleeping(reader)) && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  ASSERT_TRUE(reader && hk_task_sleeping(reader));
  EXPECT_EQ(0, result.load());
  Buffers(1);  // the interrupt of the first completed buffer wakes it
  t.join();
  EXPECT_EQ(768, result.load());
}

TEST_F(Radio, SignalWhileWaitingGivesRestartsys) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  hk_set_idle_hook(
      [](void *) {
        hk_task_signal(hk_task_self());
        return 1;
      },
      nullptr);
  std::vector<uint8_t> d;
  EXPECT_EQ(-512, Read(f, d, 768));
  hk_task_clear_signal(hk_task_self());
  EXPECT_EQ(0, pdc_buff_rp);
}

TEST_F(Radio, OverrunIsReportedAndOverwrittenBuffersAreWaitedFor) {
  std::vector<uint8_t> d;
  {
    // 17 buffers behind: the record before the reader is still free
    ASSERT_EQ(0, Load());
    file *f = Open();
    Buffers(17);
    hk_printk_clear();
    ASSERT_EQ(768, Read(f, d, 768));
    EXPECT_EQ("", Console());
    Close(f);
    ASSERT_EQ(0, hk_module_unload(kModule));
  }
  ASSERT_EQ(0, Load());
  file *f = Open();
  Buffers(18);  // 18 behind: the producer has come round to the reader
  hk_printk_clear();
  ASSERT_EQ(768, Read(f, d, 768));
  EXPECT_EQ(">", Console());

  // Far behind: the buffer at the read index is being filled again.  The
  // reader must not get it before it is complete, and then gets the new
  // contents from their start.
  Buffers(22);  // 40 interrupts: records 0 and 1 are the queued pair
  ASSERT_EQ(1, pdc_buff_rp);
  ASSERT_EQ(PDC_FILLING, pdc_buffers[1].state);
  EXPECT_FALSE(check_pdc_read_buf());
  hk_printk_clear();
  hk_set_idle_hook([](void *) { Buffers(1); return 1; }, nullptr);
  ASSERT_EQ(768, Read(f, d, 768));
  EXPECT_EQ(">", Console());
  EXPECT_EQ(2, pdc_buff_rp);
  // Record 1 was queued 42nd since this load: it holds the load's stream
  // buffer 41, after the 17 buffers the converter delivered before.
  for (unsigned k = 0; k < kWords; ++k)
    ASSERT_EQ(Delivered((17 + 41) * kWords + k, k, 1792, 1792), Word(d, k)) << k;
}

TEST_F(Radio, FaultingDestinationGivesEfaultOrTheBytesBeforeIt) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  Buffers(2);
  std::vector<uint8_t> d(1536);
  hk_user_unmap(d.data(), d.size());
  EXPECT_EQ(-EFAULT, hk_file_read(f, d.data(), 768));
  EXPECT_EQ(1, pdc_buff_rp);  // the chunk is consumed
  hk_user_map_all();

  Buffers(2);
  hk_user_unmap(d.data() + 768, 768);
  EXPECT_EQ(768, hk_file_read(f, d.data(), 1536));
  EXPECT_EQ(3, pdc_buff_rp);
  hk_user_map_all();

  Buffers(1);
  hk_fault_inject("copy_to_user", 1, 1);
  EXPECT_EQ(-EFAULT, hk_file_read(f, d.data(), 768));
}

TEST_F(Radio, DataPathAllocatesNothing) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  long allocs = hk_alloc_calls(), dma = hk_fault_calls("dma_alloc");
  std::vector<uint8_t> d;
  for (int i = 0; i < 10; ++i) {
    Buffers(2);
    ASSERT_EQ(1536, Read(f, d, 1536));
  }
  EXPECT_EQ(allocs, hk_alloc_calls());
  EXPECT_EQ(dma, hk_fault_calls("dma_alloc"));
}

// Gain ioctls

TEST_F(Radio, RadioAdjustScalesClampsAndClearsTheChannel) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  struct Case {
    int cha, val;
    int want[3];
  } cases[] = {
      {0, -20, {1790, 1792, 1792}},   {0, 7, {1790, 1792, 1792}},
      {0, -7, {1790, 1792, 1792}},    {0, 8, {1791, 1792, 1792}},
      {0, -15, {1790, 1792, 1792}},   {2, -100000, {1790, 1792, 12}},
      {1, 100000, {1790, 3522, 12}},  {2, 8 * 3, {1790, 3522, 15}},
      {3, 800, {1790, 3522, 15}},     {-1, 800, {1790, 3522, 15}},
      {1, -8 * 3510, {1790, 12, 15}}, {1, -8, {1790, 12, 15}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.cha) + "," + std::to_string(c.val));
    chan_set cs{c.cha, c.val};
    EXPECT_EQ(0, Ioctl(f, RADIO_ADJUST, &cs));
    EXPECT_EQ(0, cs.cha);
    EXPECT_EQ(c.val, cs.val);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.want[i], pwm_obj.compare[i]) << i;
    EXPECT_EQ(static_cast<uint32_t>(c.want[0]), hk_at91_tc_reg(0, 0x14));
    EXPECT_EQ(static_cast<uint32_t>(c.want[1]), hk_at91_tc_reg(0, 0x18));
    EXPECT_EQ(static_cast<uint32_t>(c.want[2]), hk_at91_tc_reg(1, 0x14));
    EXPECT_EQ(0u, hk_at91_tc_reg(1, 0x18));
  }
  chan_set extreme{0, INT32_MIN};
  EXPECT_EQ(0, Ioctl(f, RADIO_ADJUST, &extreme));
  EXPECT_EQ(12, pwm_obj.compare[0]);
  extreme = {0, INT32_MAX};
  EXPECT_EQ(0, Ioctl(f, RADIO_ADJUST, &extreme));
  EXPECT_EQ(3522, pwm_obj.compare[0]);
}

TEST_F(Radio, RadioAdjustWithAnUnreadableRecordChangesNothing) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  chan_set cs{0, 800};
  hk_user_unmap(&cs, sizeof cs);
  EXPECT_EQ(-EFAULT, Ioctl(f, RADIO_ADJUST, &cs));
  hk_user_map_all();
  EXPECT_EQ(1792, pwm_obj.compare[0]);
  EXPECT_EQ(-EFAULT, Ioctl(f, RADIO_ADJUST, nullptr));
  // the record half readable: still nothing
  chan_set two[2] = {{0, 0}, {0, 0}};
  hk_user_unmap(&two[0].val, sizeof(int));
  two[0] = {0, 800};
  EXPECT_EQ(-EFAULT, Ioctl(f, RADIO_ADJUST, &two[0]));
  hk_user_map_all();
  EXPECT_EQ(1792, pwm_obj.compare[0]);
  // the result of storing the cleared channel is the call's result
  hk_fault_inject("put_user", 1, 1);
  cs = {1, 80};
  EXPECT_EQ(-EFAULT, Ioctl(f, RADIO_ADJUST, &cs));
  EXPECT_EQ(1802, pwm_obj.compare[1]);
}

TEST_F(Radio, RadioGetReturnsTheCompareValue) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  int ch = 1;
  EXPECT_EQ(1792, Ioctl(f, RADIO_GET, &ch));
  EXPECT_EQ(1, ch);  // returned, not stored
  chan_set cs{2, -80};
  ASSERT_EQ(0, Ioctl(f, RADIO_ADJUST, &cs));
  ch = 2;
  EXPECT_EQ(1782, Ioctl(f, RADIO_GET, &ch));
  for (int bad : {3, 5, -1, INT32_MIN}) {
    ch = bad;
    EXPECT_EQ(-1, Ioctl(f, RADIO_GET, &ch)) << bad;
  }
  EXPECT_EQ(-EFAULT, Ioctl(f, RADIO_GET, nullptr));
}

// Sound-device compatibility

TEST_F(Radio, SoundCommandsAnswerWithTheDevicesConstants) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  struct Case {
    unsigned cmd;
    int in;          // value in the caller's int before the call
    long result;     // the call's result
    int out;         // the int afterwards
    bool touches;    // reads or writes through the pointer
  } cases[] = {
      {SNDCTL_DSP_RESET, 77, 0, 77, false},
      {SNDCTL_DSP_SYNC, 77, 0, 77, false},
      {SNDCTL_DSP_SETDUPLEX, 77, 0, 0, true},
      {SNDCTL_DSP_GETFMTS, 77, 0, 16, true},
      {SNDCTL_DSP_SETFMT, 16, 0, 16, true},
      {SNDCTL_DSP_SETFMT, 8, -EFAULT, 8, true},
      {SNDCTL_DSP_SPEED, 8000, 0, 8000, true},
      {SNDCTL_DSP_SPEED, 44100, 0, 44100, true},
      {SNDCTL_DSP_STEREO, 0, 0, 1, true},
      {SNDCTL_DSP_CHANNELS, 77, 0, 2, true},
      {SNDCTL_DSP_GETBLKSIZE, 77, 0, 8000, true},
      {SNDCTL_DSP_SETFRAGMENT, 0x7fff0008, 0, 8000, true},
      {SNDCTL_DSP_GETODELAY, 77, 0, 5, true},
      {OSS_GETVERSION, 77, 0, 0x030802, true},
      {SNDCTL_DSP_GETISPACE, 77, -EINVAL, 77, false},
      {SNDCTL_DSP_GETIPTR, 77, -EINVAL, 77, false},
      {SNDCTL_DSP_PROFILE, 77, -EINVAL, 77, false},
      {0x1234, 77, 0, 77, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.cmd << std::dec << " in " << c.in);
    int v = c.in;
    EXPECT_EQ(c.result, Ioctl(f, c.cmd, &v));
    EXPECT_EQ(c.out, v);
    // through a pointer the kernel cannot use
    long r = Ioctl(f, c.cmd, nullptr);
    EXPECT_EQ(c.touches ? -EFAULT : c.result, r);
  }
  EXPECT_EQ(0u, hk_file_flags(f) & O_NONBLOCK);
  EXPECT_EQ(1792, pwm_obj.compare[0]);
}

TEST_F(Radio, ChannelsWritesWithoutReading) {
  ASSERT_EQ(0, Load());
  file *f = Open();
  long reads = hk_fault_calls("get_user");
  int v = -5;
  EXPECT_EQ(0, Ioctl(f, SNDCTL_DSP_CHANNELS, &v));
  EXPECT_EQ(2, v);
  EXPECT_EQ(reads, hk_fault_calls("get_user"));
  // a read that fails stops the command before it writes
  hk_fault_inject("get_user", 1, 1);
  v = 8000;
  EXPECT_EQ(-EFAULT, Ioctl(f, SNDCTL_DSP_SPEED, &v));
  hk_fault_inject("get_user", 1, 1);
  v = 0;
  EXPECT_EQ(-EFAULT, Ioctl(f, SNDCTL_DSP_STEREO, &v));
  EXPECT_EQ(0, v);
}

}  // namespace
