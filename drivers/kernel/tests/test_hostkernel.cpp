// The host kernel layer itself: what the module tests rely on behaves as the
// kernel and the AT91 hardware do, and catches what they would not forgive.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>

#include <linux/input.h>

#include <hostkernel/at91.h>
#include <hostkernel/chrdev.h>
#include <hostkernel/clk.h>
#include <hostkernel/dma.h>
#include <hostkernel/hostkernel.h>
#include <hostkernel/input_sim.h>
#include <hostkernel/irq.h>
#include <hostkernel/mmio.h>
#include <hostkernel/uaccess.h>

extern "C" {
void probe_set_init_result(int r);
int probe_inits(void);
int probe_exits(void);
void *probe_kmalloc(size_t n, int atomic);
void *probe_kzalloc(size_t n);
void probe_kfree(void *p);
void probe_udelay(unsigned long us);
void probe_msleep(unsigned int ms);
unsigned long probe_jiffies(void);
unsigned long probe_copy_to_user(void *to, const void *from, unsigned long n);
unsigned long probe_copy_from_user(void *to, const void *from, unsigned long n);
int probe_put_user(int v, int *p);
int probe_get_user(int *v, const int *p);
int probe_access_ok(const void *p, unsigned long n);
void *probe_ioremap(unsigned long phys, size_t size);
void probe_iounmap(void *p);
unsigned probe_readl(void *base, unsigned off);
void probe_writel(unsigned v, void *base, unsigned off);
void *probe_dma_alloc(size_t n, unsigned *bus);
void probe_dma_free(size_t n, void *p, unsigned bus);
long probe_clk(const char *name, int enable);
int probe_request_irq(unsigned irq, unsigned long flags);
void probe_free_irq(unsigned irq);
long probe_irq_calls(void);
int probe_irq_in_context(void);
void probe_set_irq_action(void (*fn)(void));
unsigned long probe_irq_save(void);
void probe_irq_restore(unsigned long f);
int probe_wait(void);
void probe_wake(void);
int probe_cdev_add(unsigned major, unsigned minor);
void probe_cdev_del(void);
int probe_register_region(unsigned major, unsigned minor, unsigned n);
void probe_unregister_region(unsigned major, unsigned minor, unsigned n);
int at91_set_A_periph(unsigned pin, int use_pullup);
int probe_cdev_add_wide(unsigned major, unsigned count);
void probe_cdev_del_wide(void);
int probe_printk(const char *fmt, ...);
int probe_input_register(int fuzz);
void probe_input_event(unsigned type, unsigned code, int value);
void probe_input_unregister(void);
}

namespace {

constexpr const char *kProbe = "hkprobe";
constexpr unsigned kIrq = 20;

class HostKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    hk_fault_clear();
    hk_user_map_all();
    hk_set_idle_hook(nullptr, nullptr);
    hk_at91_reset();
    hk_printk_clear();
    probe_set_init_result(0);
    probe_set_irq_action(nullptr);
  }
  void TearDown() override {
    if (hk_module_loaded(kProbe)) {
      EXPECT_EQ(0, hk_module_unload(kProbe));
    }
    char buf[256];
    EXPECT_EQ(0, hk_res_live_total()) << hk_res_report(buf, sizeof buf);
  }
};

using HostKernelDeathTest = HostKernel;

// Modules

TEST_F(HostKernel, EachLoadStartsFromTheInitialParametersThenAppliesItsArguments) {
  ASSERT_EQ(0, hk_module_load(kProbe, "p_int=-12 p_ushort=0x10 p_byte=255 p_charp=hello p_bool p_long=-3"));
  EXPECT_EQ("<6>probe: int -12 ushort 16 byte 255 charp hello bool 1 long -3\n", std::string(hk_printk_text()));
  char buf[32];
  EXPECT_STREQ("16", hk_module_param(kProbe, "p_ushort", buf, sizeof buf));
  EXPECT_STREQ("Y", hk_module_param(kProbe, "p_bool", buf, sizeof buf));
  EXPECT_EQ(0644, hk_module_param_perm(kProbe, "p_int"));
  EXPECT_EQ(nullptr, hk_module_param(kProbe, "nope", buf, sizeof buf));
  ASSERT_EQ(0, hk_module_unload(kProbe));
  hk_printk_clear();
  ASSERT_EQ(0, hk_module_load(kProbe, nullptr));
  EXPECT_EQ("<6>probe: int -5 ushort 7 byte 1 charp none bool 0 long 1\n", std::string(hk_printk_text()));
  EXPECT_STREQ("GPL", hk_module_info(kProbe, "license"));
  EXPECT_STREQ("probe", hk_module_info(kProbe, "author"));
  EXPECT_EQ(nullptr, hk_module_info(kProbe, "version"));
}

TEST_F(HostKernel, BadArgumentsRefuseTheLoadBeforeInitRuns) {
  int inits = probe_inits();
  for (const char *args : {"p_byte=256", "p_ushort=65536", "p_ushort=abc", "p_int=99999999999", "p_int=",
                           "p_bool=maybe", "p_int=5x"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(-EINVAL, hk_module_load(kProbe, args));
  }
  EXPECT_EQ(-ENOENT, hk_module_load(kProbe, "colour=blue"));
  EXPECT_NE(std::string::npos, std::string(hk_printk_text()).find("Unknown parameter `colour'"));
  EXPECT_EQ(inits, probe_inits());
  EXPECT_FALSE(hk_module_loaded(kProbe));
}

TEST_F(HostKernel, FailedInitLeavesTheModuleUnloaded) {
  int exits = probe_exits();
  probe_set_init_result(-EIO);
  EXPECT_EQ(-EIO, hk_module_load(kProbe, ""));
  EXPECT_FALSE(hk_module_loaded(kProbe));
  EXPECT_EQ(-ENOENT, hk_module_unload(kProbe));
  EXPECT_EQ(exits, probe_exits());
  probe_set_init_result(0);
  EXPECT_EQ(0, hk_module_load(kProbe, ""));
  EXPECT_EQ(-EEXIST, hk_module_load(kProbe, ""));
  EXPECT_EQ(0, hk_module_unload(kProbe));
  EXPECT_EQ(exits + 1, probe_exits());
  EXPECT_EQ(-ENOENT, hk_module_load("nosuchmodule", ""));
}

// Faults and the ledger

TEST_F(HostKernel, InjectedFailuresHitExactlyTheCallsAsked) {
  hk_fault_inject("kmalloc", 2, 2);
  std::vector<void *> got;
  for (int i = 0; i < 5; ++i) got.push_back(probe_kmalloc(8, 0));
  EXPECT_NE(nullptr, got[0]);
  EXPECT_EQ(nullptr, got[1]);
  EXPECT_EQ(nullptr, got[2]);
  EXPECT_NE(nullptr, got[3]);
  EXPECT_NE(nullptr, got[4]);
  EXPECT_EQ(3, hk_res_live("kmalloc"));
  char buf[64];
  EXPECT_STREQ("kmalloc=3", hk_res_report(buf, sizeof buf));
  for (void *p : got) probe_kfree(p);
  EXPECT_EQ(0, hk_res_live("kmalloc"));
  hk_fault_inject("kmalloc", 1, -1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(nullptr, probe_kmalloc(8, 1));
  hk_fault_clear();
  void *p = probe_kzalloc(64);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(std::vector<char>(64, 0), std::vector<char>(static_cast<char *>(p), static_cast<char *>(p) + 64));
  probe_kfree(p);
  probe_kfree(nullptr);
  long calls = hk_alloc_calls();
  probe_kfree(probe_kmalloc(1, 0));
  EXPECT_EQ(calls + 1, hk_alloc_calls());
}

TEST_F(HostKernelDeathTest, DoubleAndForeignFreesStopTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        void *p = probe_kmalloc(8, 0);
        probe_kfree(p);
        probe_kfree(p);
      },
      "already freed");
  EXPECT_DEATH(
      {
        static long not_ours[8];
        probe_kfree(&not_ours[4]);
      },
      "not from kmalloc");
}

// Time

TEST_F(HostKernel, DelaysAdvanceTheClockAndJiffiesFollowAtTheBoardsHz) {
  hk_delay_reset();
  uint64_t t0 = hk_clock_ns();
  unsigned long j0 = probe_jiffies();
  probe_udelay(250);
  EXPECT_EQ(t0 + 250000, hk_clock_ns());
  probe_msleep(1000);
  EXPECT_EQ(2, hk_delay_calls());
  EXPECT_EQ(1000250000u, hk_delay_total_ns());
  EXPECT_EQ(1000000000u, hk_delay_last_ns());
  EXPECT_EQ(j0 + 128, probe_jiffies());  // one second at 128 ticks per second
  static uint64_t seen;
  auto listener = [](void *, uint64_t now) { seen = now; };
  ASSERT_EQ(0, hk_clock_listen(listener, nullptr));
  hk_clock_advance(5);
  EXPECT_EQ(hk_clock_ns(), seen);
  hk_clock_unlisten(listener, nullptr);
  hk_clock_advance(5);
  EXPECT_EQ(hk_clock_ns() - 5, seen);
}

// User memory

TEST_F(HostKernel, UserCopiesStopAtTheFirstUnmappedByte) {
  char src[64], dst[64];
  std::memset(src, 'x', sizeof src);
  std::memset(dst, 0, sizeof dst);
  EXPECT_EQ(0u, probe_copy_to_user(dst, src, 64));
  EXPECT_EQ(64u, probe_copy_to_user(nullptr, src, 64));
  EXPECT_EQ(32u, probe_copy_to_user(reinterpret_cast<void *>(4096 - 16), src, 32));  // first page
  std::memset(dst, 0, sizeof dst);
  hk_user_unmap(dst + 40, 8);
  EXPECT_EQ(24u, probe_copy_to_user(dst, src, 64));
  EXPECT_EQ('x', dst[39]);
  EXPECT_EQ(0, dst[40]);
  EXPECT_FALSE(probe_access_ok(dst, 64));
  EXPECT_TRUE(probe_access_ok(dst, 40));
  EXPECT_TRUE(probe_access_ok(dst + 48, 16));
  // reading: what could not be read is zeroed
  std::memset(src, 'y', sizeof src);
  std::memset(dst + 48, 'y', 16);
  char k[64];
  std::memset(k, 'k', sizeof k);
  EXPECT_EQ(24u, probe_copy_from_user(k, dst, 64));
  EXPECT_EQ(0, k[40]);
  EXPECT_EQ(0, k[63]);
  hk_user_map_all();
  int v = 0;
  EXPECT_EQ(0, probe_put_user(42, &v));
  EXPECT_EQ(42, v);
  int w = 0;
  EXPECT_EQ(0, probe_get_user(&w, &v));
  EXPECT_EQ(42, w);
  EXPECT_EQ(-EFAULT, probe_put_user(1, nullptr));
  EXPECT_EQ(-EFAULT, probe_get_user(&w, nullptr));
  EXPECT_EQ(0, w);
  hk_fault_inject("copy_to_user", 1, 1);
  EXPECT_EQ(64u, probe_copy_to_user(dst, src, 64));
  EXPECT_EQ(0u, probe_copy_to_user(dst, src, 64));
}

// Registers and DMA memory

TEST_F(HostKernel, MappingsReachDeviceModelsOrPlainRegisters) {
  char *plain = static_cast<char *>(probe_ioremap(0x10000000, 0x100));
  ASSERT_NE(nullptr, plain);
  probe_writel(0xDEADBEEF, plain, 0x10);
  EXPECT_EQ(0xDEADBEEFu, probe_readl(plain, 0x10));
  EXPECT_EQ(0u, probe_readl(plain, 0x14));
  EXPECT_TRUE(hk_mmio_mapped(0x100000FF));
  EXPECT_FALSE(hk_mmio_mapped(0x10000100));
  // the SPI1 model behind its window
  hk_mmio_log_reset();
  char *spi = static_cast<char *>(probe_ioremap(0xFFFA8000, 0x128));
  probe_writel(0x10, spi, 0x14);  // IER ENDRX
  EXPECT_EQ(0x10u, probe_readl(spi, 0x1C));
  EXPECT_EQ(0x10u, hk_at91_spi_reg(0x1C));
  ASSERT_EQ(1u, hk_mmio_log_count());
  EXPECT_EQ(0xFFFA8014u, hk_mmio_log()[0].phys);
  EXPECT_EQ(2, hk_res_live("ioremap"));
  probe_iounmap(spi);
  probe_iounmap(plain);
  EXPECT_FALSE(hk_mmio_mapped(0x10000000));
  hk_fault_inject("ioremap", 1, 1);
  EXPECT_EQ(nullptr, probe_ioremap(0x10000000, 0x100));
}

TEST_F(HostKernelDeathTest, AccessThroughAnUnmappedWindowStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        void *p = probe_ioremap(0xFFF7C000, 0x100);
        probe_iounmap(p);
        probe_writel(1, p, 0x14);
      },
      "no live mapping");
  EXPECT_DEATH(probe_readl(nullptr, 0x10), "no live mapping");
}

TEST_F(HostKernel, DmaMemoryIsReachableByBusAddressOnlyWhileAllocated) {
  unsigned bus = 0, bus2 = 0;
  char *p = static_cast<char *>(probe_dma_alloc(768, &bus));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(p, hk_dma_virt(bus, 768));
  EXPECT_EQ(p + 766, hk_dma_virt(bus + 766, 2));
  EXPECT_EQ(nullptr, hk_dma_virt(bus + 767, 2));  // runs past the end
  EXPECT_EQ(bus, hk_dma_block(bus + 100));
  probe_dma_free(768, p, bus);
  EXPECT_EQ(nullptr, hk_dma_virt(bus, 2));
  char *q = static_cast<char *>(probe_dma_alloc(768, &bus2));
  EXPECT_NE(bus, bus2);  // a stale bus address never becomes valid again
  EXPECT_EQ(nullptr, hk_dma_virt(bus, 2));
  probe_dma_free(768, q, bus2);
  hk_fault_inject("dma_alloc", 1, 1);
  EXPECT_EQ(nullptr, probe_dma_alloc(16, &bus));
}

TEST_F(HostKernel, BoardClocksRunAtTheMasterClock) {
  EXPECT_EQ(100000000, probe_clk("spi1_clk", 1));
  EXPECT_EQ(-ENOENT, probe_clk("nonesuch", 0));
  hk_fault_inject("clk_get", 1, 1);
  EXPECT_EQ(-ENOENT, probe_clk("spi1_clk", 0));
}

// Interrupts

TEST_F(HostKernel, LevelTriggeredLineRunsItsHandlerInInterruptContext) {
  ASSERT_EQ(0, probe_request_irq(kIrq, 0));
  EXPECT_EQ(-EBUSY, probe_request_irq(kIrq, 0));
  EXPECT_STREQ("probe", hk_irq_name(kIrq));
  long calls = probe_irq_calls();
  // the handler lowers the line on its third run
  static int runs;
  runs = 0;
  probe_set_irq_action([] {
    if (++runs == 3) hk_irq_set_level(kIrq, 0);
  });
  hk_irq_set_level(kIrq, 1);
  EXPECT_EQ(calls + 3, probe_irq_calls());
  EXPECT_TRUE(probe_irq_in_context());
  probe_set_irq_action([] { hk_irq_set_level(kIrq, 0); });

  // held: serviced only on release
  hk_irq_hold(kIrq, 1);
  hk_irq_set_level(kIrq, 1);
  EXPECT_EQ(calls + 3, probe_irq_calls());
  hk_irq_hold(kIrq, 0);
  EXPECT_EQ(calls + 4, probe_irq_calls());

  // interrupts disabled on this thread: pending until restored
  unsigned long f = probe_irq_save();
  EXPECT_EQ(0u, f);
  EXPECT_EQ(1u, probe_irq_save());  // nested
  hk_irq_set_level(kIrq, 1);
  EXPECT_EQ(calls + 4, probe_irq_calls());
  probe_irq_restore(1);
  EXPECT_EQ(calls + 4, probe_irq_calls());
  probe_irq_restore(f);
  EXPECT_EQ(calls + 5, probe_irq_calls());

  EXPECT_EQ(1, hk_irq_trigger(kIrq));  // spurious: once, whatever the level
  EXPECT_EQ(calls + 6, probe_irq_calls());
  probe_free_irq(kIrq);
  EXPECT_FALSE(hk_irq_registered(kIrq));
  EXPECT_EQ(-1, hk_irq_trigger(kIrq));
  hk_fault_inject("irq", 1, 1);
  EXPECT_EQ(-EBUSY, probe_request_irq(kIrq, 0));
}

// Sleeping and waking

TEST_F(HostKernel, WaitQueueSleeperIsWokenFromAnotherThread) {
  std::atomic<task_struct *> task{nullptr};
  std::atomic<int> result{1};
  std::thread t([&] {
    task = hk_task_self();
    result = probe_wait();
  });
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       !(task && hk_task_sleeping(task)) && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  ASSERT_TRUE(task && hk_task_sleeping(task));
  probe_wake();
  t.join();
  EXPECT_EQ(0, result.load());
}

TEST_F(HostKernel, SignalEndsAnInterruptibleWait) {
  std::atomic<task_struct *> task{nullptr};
  std::atomic<int> result{1};
  std::thread t([&] {
    task = hk_task_self();
    result = probe_wait();
  });
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
       !(task && hk_task_sleeping(task)) && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  ASSERT_TRUE(task && hk_task_sleeping(task));
  hk_task_signal(task);
  t.join();
  EXPECT_EQ(-512, result.load());
}

TEST_F(HostKernel, IdleHookRunsTheMachineInsteadOfBlocking) {
  static int idles;
  idles = 0;
  hk_set_idle_hook(
      [](void *) {
        if (++idles == 3) probe_wake();
        return 1;
      },
      nullptr);
  EXPECT_EQ(0, probe_wait());
  EXPECT_EQ(3, idles);
}

// Character devices

TEST_F(HostKernel, OpenedDevicesCallTheirOperationsAsTheSystemCallsDo) {
  ASSERT_EQ(0, hk_module_load(kProbe, ""));
  int err = 0;
  EXPECT_EQ(nullptr, hk_chrdev_open(60, 0, O_RDONLY, &err));
  EXPECT_EQ(-ENXIO, err);
  ASSERT_EQ(0, probe_cdev_add(60, 0));
  EXPECT_TRUE(hk_chrdev_live(60, 0));
  file *f = hk_chrdev_open(60, 0, O_RDONLY, &err);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(1, hk_module_refcount(kProbe));
  EXPECT_NE(0, hk_module_unload(kProbe));  // busy while open
  char buf[8];
  EXPECT_EQ(8, hk_file_read(f, buf, 8));
  EXPECT_EQ(-EBADF, hk_file_write(f, buf, 8));
  EXPECT_EQ(0x1234, hk_file_ioctl(f, 0x1234, 0));  // the old ioctl runs under the big lock
  int on = 1;
  EXPECT_EQ(0, hk_file_ioctl(f, 0x5421, reinterpret_cast<unsigned long>(&on)));  // FIONBIO
  EXPECT_EQ(-EAGAIN, hk_file_read(f, buf, 8));
  EXPECT_NE(0u, hk_file_poll(f));  // no poll operation: always ready
  EXPECT_EQ(0, hk_file_close(f));
  EXPECT_EQ(0, hk_module_refcount(kProbe));
  probe_cdev_del();
  EXPECT_FALSE(hk_chrdev_live(60, 0));

  ASSERT_EQ(0, probe_register_region(61, 0, 4));
  EXPECT_EQ(-EBUSY, probe_register_region(61, 3, 2));
  EXPECT_TRUE(hk_chrdev_region_live(61, 3));
  probe_unregister_region(61, 0, 4);
  EXPECT_FALSE(hk_chrdev_region_live(61, 3));
}

TEST_F(HostKernel, AddingADeviceOverAnotherTakesItsNumberOver) {
  ASSERT_EQ(0, hk_module_load(kProbe, ""));
  // cdev_add asks no reservation, and the narrower device keeps the number
  // it covers whichever came first
  ASSERT_EQ(0, probe_cdev_add(62, 3));
  ASSERT_EQ(0, probe_cdev_add_wide(62, 256));
  char buf[4];
  int err = 0;
  for (unsigned minor : {3u, 4u}) {
    file *f = hk_chrdev_open(62, minor, O_RDONLY, &err);
    ASSERT_NE(nullptr, f) << minor;
    EXPECT_EQ(minor == 3 ? 4 : -EIO, hk_file_read(f, buf, 4)) << minor;
    EXPECT_EQ(0, hk_file_close(f));
  }
  probe_cdev_del();
  file *f = hk_chrdev_open(62, 3, O_RDONLY, &err);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(-EIO, hk_file_read(f, buf, 4));
  EXPECT_EQ(0, hk_file_close(f));
  probe_cdev_del_wide();
}

// Console and input core: as strict as the 2.6.25 kernel's

TEST_F(HostKernel, PrintkFormatsPointersAndStringsAsTheKernel) {
  void *p = reinterpret_cast<void *>(0x1234);
  const std::string digits(2 * sizeof(void *) - 4, '0');
  probe_printk("<3>at %p|%8p|%-6p|%#p|%s|%f\n", p, p, p, p, static_cast<char *>(nullptr));
  EXPECT_EQ("<3>at " + digits + "1234|    1234|1234  |0x" + digits.substr(2) + "1234|<NULL>|%f\n",
            std::string(hk_printk_text()));
  hk_printk_clear();
  EXPECT_EQ(24, probe_printk("%d %ld %lu %lld %zu %x %5.2s|%c%%", -1, -2L, 3UL, -4LL, size_t{5}, 255u,
                             "abc", 'z'));
  EXPECT_EQ("-1 -2 3 -4 5 ff    ab|z%", std::string(hk_printk_text()));
  // one message holds what the kernel's printk buffer holds
  hk_printk_clear();
  const std::string longer(1500, 'x');
  EXPECT_EQ(1023, probe_printk("%s", longer.c_str()));
  EXPECT_EQ(1023u, hk_printk_length());
}

TEST_F(HostKernel, InputCorePassesOnOnlyWhatChanges) {
  hk_input_events_clear();
  long dropped = hk_input_dropped();
  ASSERT_EQ(0, probe_input_register(0));
  const int sent[][3] = {
      {EV_ABS, ABS_X, 0},       // the axis starts at 0: nothing new
      {EV_KEY, BTN_TOUCH, 1},   {EV_KEY, BTN_TOUCH, 1},  {EV_ABS, ABS_X, 100},
      {EV_ABS, ABS_X, 100},     {EV_SYN, SYN_REPORT, 0}, {EV_SYN, SYN_REPORT, 0},
      {EV_ABS, ABS_X, 100},     {EV_KEY, BTN_TOUCH, 0},  {EV_SYN, SYN_REPORT, 0},
      {EV_SYN, SYN_REPORT, 0},
  };
  for (const auto &e : sent) probe_input_event(e[0], e[1], e[2]);
  std::vector<std::vector<int>> got;
  for (size_t i = 0; i < hk_input_event_count(); ++i) {
    hk_input_event e{};
    ASSERT_EQ(0, hk_input_event_get(i, &e));
    got.push_back({static_cast<int>(e.type), static_cast<int>(e.code), e.value});
  }
  const std::vector<std::vector<int>> want = {
      {EV_KEY, BTN_TOUCH, 1}, {EV_ABS, ABS_X, 100}, {EV_SYN, SYN_REPORT, 0},
      {EV_KEY, BTN_TOUCH, 0}, {EV_SYN, SYN_REPORT, 0}};
  EXPECT_EQ(want, got);
  EXPECT_EQ(dropped + 6, hk_input_dropped());
  probe_input_unregister();

  // An axis with fuzz: jitter within half of it is dropped, a little more is smoothed
  hk_input_events_clear();
  ASSERT_EQ(0, probe_input_register(8));
  for (int v : {100, 103, 106}) probe_input_event(EV_ABS, ABS_X, v);
  ASSERT_EQ(2u, hk_input_event_count());
  hk_input_event e{};
  ASSERT_EQ(0, hk_input_event_get(1, &e));
  EXPECT_EQ(101, e.value);
  probe_input_unregister();
  hk_input_events_clear();
}

// The AT91 models

TEST_F(HostKernel, SpiPdcMovesWordsReloadsAndLatchesItsFlags) {
  unsigned tx_bus, rx_bus, rx2_bus;
  auto *tx = static_cast<uint16_t *>(probe_dma_alloc(16, &tx_bus));
  auto *rx = static_cast<uint16_t *>(probe_dma_alloc(8, &rx_bus));
  auto *rx2 = static_cast<uint16_t *>(probe_dma_alloc(8, &rx2_bus));
  for (int k = 0; k < 8; ++k) tx[k] = static_cast<uint16_t>(((k + 1) % 6) << 11);
  const uint32_t spi = 0xFFFA8000;
  hk_mmio_write(spi + 0x04, 0x1);                     // master
  hk_mmio_write(spi + 0x30, (2u << 24) | (10u << 8)); // 16 x 10 + 32 x 2 clocks
  EXPECT_EQ(2240u, hk_at91_spi_transfer_ns());
  hk_mmio_write(spi + 0x108, tx_bus);
  hk_mmio_write(spi + 0x10C, 8);
  hk_mmio_write(spi + 0x100, rx_bus);
  hk_mmio_write(spi + 0x104, 4);
  hk_mmio_write(spi + 0x110, rx2_bus);
  hk_mmio_write(spi + 0x114, 4);
  hk_mmio_write(spi + 0x00, 0x1);    // SPIEN
  hk_mmio_write(spi + 0x120, 0x101); // RXTEN | TXTEN
  hk_at91_spi_run(3);
  EXPECT_EQ(3u, hk_at91_spi_transfers());
  EXPECT_EQ(0u, hk_at91_spi_reg(0x10) & 0x10);
  hk_at91_spi_run(1);
  uint32_t sr = hk_at91_spi_reg(0x10);
  EXPECT_EQ(0x10u, sr & 0x10);  // ENDRX: first block full, next one loaded
  EXPECT_EQ(0u, sr & 0x40);     // not RXBUFF: the next block is current now
  EXPECT_EQ(rx2_bus, hk_at91_spi_reg(0x100));
  EXPECT_EQ(4u, hk_at91_spi_reg(0x104));
  EXPECT_EQ(0u, hk_at91_spi_reg(0x114));
  // the converter answered each word with the input the previous one chose
  for (int k = 0; k < 4; ++k) EXPECT_EQ(k, rx[k] >> 12) << k;
  hk_mmio_write(spi + 0x114, 0);  // writing RNCR clears ENDRX
  EXPECT_EQ(0u, hk_at91_spi_reg(0x10) & 0x10);
  hk_at91_spi_run(10);  // only 4 more words to send
  EXPECT_EQ(8u, hk_at91_spi_transfers());
  sr = hk_at91_spi_reg(0x10);
  EXPECT_EQ(0xF0u, sr & 0xF0);  // ENDRX, ENDTX, RXBUFF, TXBUFE
  for (int k = 0; k < 4; ++k) EXPECT_EQ((4 + k) % 6, rx2[k] >> 12) << k;
  EXPECT_EQ(0u, hk_at91_pdc_faults());
  hk_mmio_write(spi + 0x120, 0x202);
  EXPECT_EQ(0u, hk_at91_spi_reg(0x124));
  probe_dma_free(16, tx, tx_bus);
  probe_dma_free(8, rx, rx_bus);
  probe_dma_free(8, rx2, rx2_bus);
  // a PDC pointed at freed memory is caught
  hk_mmio_write(spi + 0x108, tx_bus);
  hk_mmio_write(spi + 0x10C, 2);
  hk_mmio_write(spi + 0x120, 0x100);
  hk_at91_spi_run(2);
  EXPECT_EQ(2u, hk_at91_pdc_faults());
}

TEST_F(HostKernel, TimerChannelsKeepTheirRegistersAndClockState) {
  const uint32_t tc1 = 0xFFF7C040;
  // the block's clock is off after boot: its registers take nothing, it never runs
  hk_mmio_write(tc1 + 0x14, 0x1111);
  hk_mmio_write(tc1 + 0x00, 0x5);
  EXPECT_EQ(0u, hk_at91_tc_reg(1, 0x14));
  EXPECT_FALSE(hk_at91_tc_running(1));
  ASSERT_EQ(1, hk_clk_board_enable("tcb_clk", 1));
  EXPECT_FALSE(hk_at91_tc_running(1));
  hk_mmio_write(tc1 + 0x14, 0x12345);  // 16-bit registers
  hk_mmio_write(tc1 + 0x1C, 4096);
  EXPECT_EQ(0x2345u, hk_at91_tc_reg(1, 0x14));
  EXPECT_EQ(4096u, hk_at91_tc_reg(1, 0x1C));
  EXPECT_FALSE(hk_at91_tc_running(1));
  hk_mmio_write(tc1 + 0x00, 0x5);
  EXPECT_TRUE(hk_at91_tc_running(1));
  EXPECT_FALSE(hk_at91_tc_running(0));
  hk_mmio_write(tc1 + 0x00, 0x3);  // CLKDIS wins
  EXPECT_FALSE(hk_at91_tc_running(1));
  hk_mmio_write(tc1 + 0x00, 0x5);
  ASSERT_EQ(0, hk_clk_board_enable("tcb_clk", 0));  // clock off: the counter stops
  EXPECT_FALSE(hk_at91_tc_running(1));
  EXPECT_EQ(-ENOENT, probe_clk("tc0_clk", 0));  // the SAM9263 has one clock for the block
  EXPECT_EQ(0, at91_set_A_periph(76, 1));
  EXPECT_EQ('A', hk_at91_pin_function(76));
  EXPECT_EQ(-EINVAL, at91_set_A_periph(5, 1));  // below the PIO range
}

}  // namespace
