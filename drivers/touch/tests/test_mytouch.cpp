// Host tests of tpaneldrv, driven tick by tick: the timer submits one SPI
// poll per tick, the test completes it through the ADS7846 panel model and
// checks the input events, the SPI traffic, timeouts of outstanding polls,
// unloading with a poll outstanding, and the unwinding of failed probes.
#include <gtest/gtest.h>

#include <linux/input.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <hostkernel/hostkernel.h>
#include <hostkernel/input_sim.h>
#include <hostkernel/spi_sim.h>
#include <hostkernel/timer_sim.h>

namespace {

constexpr const char *kModule = "tpaneldrv";
constexpr const char *kName = "Tavik Touchscreen";

using Event = std::tuple<unsigned, unsigned, int>;  // type, code, value
using Events = std::vector<Event>;

Events events()
{
	Events v;
	for (size_t i = 0; i < hk_input_event_count(); ++i) {
		hk_input_event e{};
		EXPECT_EQ(hk_input_event_get(i, &e), 0);
		v.emplace_back(e.type, e.code, e.value);
	}
	return v;
}

Events take_events()
{
	Events v = events();
	hk_input_events_clear();
	return v;
}

// The events are what user space reads: the input core passes on only what
// changes, so a report repeating the last one shows nothing.

// A touch first reported at a position other than the last one seen.
Events press(int x, int y)
{
	return {{EV_KEY, BTN_TOUCH, 1}, {EV_ABS, ABS_X, x}, {EV_ABS, ABS_Y, y},
		{EV_ABS, ABS_PRESSURE, 127}, {EV_SYN, SYN_REPORT, 0}};
}

// The end of a reported touch.  The driver sends the last reported
// position with it, which user space has already: a different one would
// show here.
Events release()
{
	return {{EV_KEY, BTN_TOUCH, 0}, {EV_ABS, ABS_PRESSURE, 0}, {EV_SYN, SYN_REPORT, 0}};
}

// Idle hook: while unloading waits, the SPI controller finishes its work.
struct Controller {
	int calls = 0;
	static int run(void *ctx)
	{
		++static_cast<Controller *>(ctx)->calls;
		return hk_spi_complete(-1, -1, 0) > 0;
	}
};

class Touch : public ::testing::Test {
protected:
	hk_ads7846 panel{};
	spi_device *spi = nullptr;
	Controller controller;
	long submitted0 = 0, completed0 = 0, spi_violations0 = 0, input_violations0 = 0;
	long dropped0 = 0;

	// Counts of the simulation since this test began
	long submitted() const { return hk_spi_submitted() - submitted0; }
	long completed() const { return hk_spi_completed() - completed0; }
	long spi_violations() const { return hk_spi_violations() - spi_violations0; }
	long input_violations() const { return hk_input_violations() - input_violations0; }
	// Events the driver sent that changed nothing, since the last call
	long dropped()
	{
		const long n = hk_input_dropped() - dropped0;
		dropped0 += n;
		return n;
	}

	void SetUp() override
	{
		hk_fault_clear();
		hk_printk_clear();
		hk_input_events_clear();
		submitted0 = hk_spi_submitted();
		completed0 = hk_spi_completed();
		spi_violations0 = hk_spi_violations();
		input_violations0 = hk_input_violations();
		dropped0 = hk_input_dropped();
		spi = hk_spi_new_device(0, 0, "mytouch", 2000000);
		hk_ads7846_attach(spi, &panel);
	}

	void TearDown() override
	{
		hk_fault_clear();
		hk_set_idle_hook(Controller::run, &controller);
		if (hk_module_loaded(kModule)) {
			EXPECT_EQ(hk_module_unload(kModule), 0);
		}
		if (spi)
			hk_spi_del_device(spi);
		hk_set_idle_hook(nullptr, nullptr);
		EXPECT_EQ(hk_spi_queued(-1), 0);
		EXPECT_EQ(spi_violations(), 0);
		EXPECT_EQ(input_violations(), 0);
		char buf[256];
		EXPECT_EQ(hk_res_live_total(), 0) << hk_res_report(buf, sizeof(buf));
	}

	void load() { ASSERT_EQ(hk_module_load(kModule, ""), 0); }

	// One timer period; the poll it submits is completed at once.
	void poll(int n = 1)
	{
		while (n--) {
			hk_timer_tick(1);
			hk_spi_complete(0, -1, 0);
		}
	}

	void touch(int x, int y)
	{
		panel.touched = 1;
		panel.x = x;
		panel.y = y;
	}

	void lift() { panel.touched = 0; }

	// Reported position of a still touch from the untouched state: the
	// first touched poll is a jump from the untouched reading, the next
	// three are steady and the third of those reports.
	Events settle_at(int x, int y)
	{
		lift();
		poll();
		take_events();
		touch(x, y);
		poll(3);
		EXPECT_EQ(events(), Events{});
		poll();
		return take_events();
	}
};

TEST_F(Touch, LoadProbesAndDeclaresTheInputDevice)
{
	load();
	EXPECT_EQ(std::string(hk_printk_text()),
		  "Probing\n<5>370 : init_module() - MyTouch inserted\n");
	EXPECT_TRUE(hk_spi_device_bound(spi));
	EXPECT_EQ(hk_spi_device_mode(spi), 0);
	EXPECT_EQ(hk_spi_device_bits(spi), 8);

	const int h = hk_input_find(kName);
	ASSERT_GE(h, 0);
	char phys[64], parent[64];
	unsigned id[4];
	ASSERT_EQ(hk_input_describe(h, phys, sizeof(phys), parent, sizeof(parent), id), 0);
	EXPECT_STREQ(phys, "spi0.0/event0");
	EXPECT_STREQ(parent, "spi0.0");
	EXPECT_EQ(id[0] | id[1] | id[2] | id[3], 0u);
	EXPECT_TRUE(hk_input_declares(h, EV_KEY, BTN_TOUCH));
	EXPECT_FALSE(hk_input_declares(h, EV_KEY, BTN_STYLUS));
	EXPECT_FALSE(hk_input_declares(h, EV_REL, -1));
	const std::tuple<unsigned, int> axes[] = {{ABS_X, 4095}, {ABS_Y, 4095}, {ABS_PRESSURE, 127}};
	for (auto [axis, max] : axes) {
		hk_input_abs r{};
		ASSERT_EQ(hk_input_abs_range(h, axis, &r), 0) << axis;
		EXPECT_EQ(r.min, 0);
		EXPECT_EQ(r.max, max);
		EXPECT_EQ(r.fuzz, 0);
		EXPECT_EQ(r.flat, 0);
	}
	hk_input_abs other{};
	EXPECT_EQ(hk_input_abs_range(h, ABS_Z, &other), -1);

	EXPECT_STREQ(hk_module_info(kModule, "license"), "GPL");
	EXPECT_STREQ(hk_module_info(kModule, "description"), "TARVARM touch");
}

// Captures what the driver clocks out and answers with zeros.
struct Recorder {
	std::vector<unsigned char> tx;
	static void respond(void *ctx, const unsigned char *tx, unsigned char *rx, unsigned len)
	{
		auto *r = static_cast<Recorder *>(ctx);
		r->tx.assign(tx, tx + len);
		std::memset(rx, 0, len);
	}
};

TEST_F(Touch, EachPeriodSendsEightyXAndEightyYConversions)
{
	Recorder rec;
	hk_spi_set_responder(spi, Recorder::respond, &rec);
	load();
	EXPECT_EQ(submitted(), 0);
	poll();
	EXPECT_EQ(submitted(), 1);
	ASSERT_EQ(rec.tx.size(), 320u);
	for (size_t k = 0; k < 160; ++k) {
		EXPECT_EQ(rec.tx[2 * k], k < 80 ? 0xD3 : 0x93) << k;
		EXPECT_EQ(rec.tx[2 * k + 1], 0x00) << k;
	}
	poll(4);
	EXPECT_EQ(submitted(), 5);
}

TEST_F(Touch, UntouchedPanelSendsNothing)
{
	load();
	poll(30);
	EXPECT_EQ(events(), Events{});
	EXPECT_EQ(panel.conversions, 30 * 160);
	EXPECT_EQ(panel.bad_commands, 0);
}

TEST_F(Touch, StillTouchReportsFromTheThirdSteadyPoll)
{
	load();
	poll(3);
	touch(2030, 2150);
	poll();		// jump from the untouched reading
	poll();		// first steady poll
	poll();		// second
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(take_events(), press(2750, 2000));
	dropped();
	// Reported again every poll; user space has it already.
	poll(3);
	EXPECT_EQ(events(), Events{});
	EXPECT_EQ(dropped(), 3 * 5);
}

TEST_F(Touch, FirstPollsAfterLoadCompareWithZero)
{
	// The previous raw reading starts at 0, so a touch near the origin is
	// steady from the very first poll; it also lies beyond the calibration
	// points and extrapolates.
	touch(100, 200);
	load();
	poll(2);
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(take_events(), press(3214, 2236));
}

TEST_F(Touch, LiftingSendsTheLastReportedPosition)
{
	load();
	EXPECT_EQ(settle_at(2030, 2150), press(2750, 2000));
	touch(2100, 2200);
	poll();
	const Events moved = take_events();
	ASSERT_EQ(moved.size(), 3u);	// the new position only
	EXPECT_EQ(std::get<1>(moved[0]), ABS_X);
	EXPECT_EQ(std::get<1>(moved[1]), ABS_Y);
	lift();
	poll();
	EXPECT_EQ(take_events(), release());
	poll(5);
	EXPECT_EQ(events(), Events{});
}

TEST_F(Touch, ShortTouchStillSendsARelease)
{
	load();
	poll();
	touch(2030, 2150);
	poll(2);	// jump, then one steady poll
	dropped();
	lift();
	poll();
	// Nothing was ever reported: the release carries 0, 0 and the key up,
	// all as user space has them; only the core's first sync is new to it.
	EXPECT_EQ(take_events(), (Events{{EV_SYN, SYN_REPORT, 0}}));
	EXPECT_EQ(dropped(), 4);

	EXPECT_EQ(settle_at(160, 500), press(3200, 2200));
	lift();
	poll();
	EXPECT_EQ(take_events(), release());
	touch(2030, 2150);
	poll(3);	// jump and two steady polls, none reported
	dropped();
	lift();
	poll();
	// The release repeats the last reported touch's end: nothing new.
	EXPECT_EQ(events(), Events{});
	EXPECT_EQ(dropped(), 5);
}

TEST_F(Touch, CalibrationLines)
{
	load();
	EXPECT_EQ(settle_at(160, 500), press(3200, 2200));
	EXPECT_EQ(settle_at(2030, 3800), press(2750, 1800));
	EXPECT_EQ(settle_at(3899, 2150), press(2300, 2000));
	EXPECT_EQ(settle_at(3000, 1000), press(2516, 2139));
}

TEST_F(Touch, ReadingsAtTheLimitCountAsUntouched)
{
	load();
	poll();
	// Just below the limits: touched, and steady already against the
	// untouched reading of 4095, so the third touched poll reports.
	touch(3899, 3899);
	poll(2);
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(take_events(), press(2300, 1788));
	lift();
	poll();
	EXPECT_EQ(take_events(), release());
	for (auto [x, y] : {std::pair{3900, 2000}, std::pair{2000, 3900}, std::pair{4000, 4000}}) {
		touch(x, y);
		poll(6);
		EXPECT_EQ(events(), Events{}) << x << "," << y;
	}
}

TEST_F(Touch, MovesOf250CountsEndTheTouch)
{
	load();
	EXPECT_EQ(settle_at(2000, 2000).size(), 5u);

	touch(2249, 2000);	// 249: still steady, reported at once
	poll();
	EXPECT_EQ(take_events(), (Events{{EV_ABS, ABS_X, 2697}, {EV_SYN, SYN_REPORT, 0}}));

	touch(2499, 2000);	// 250: a jump ends the touch like a lift-off
	poll();
	EXPECT_EQ(take_events(), release());
	poll(2);		// counting again from the new position
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(take_events(), (Events{{EV_KEY, BTN_TOUCH, 1}, {EV_ABS, ABS_X, 2637},
					 {EV_ABS, ABS_PRESSURE, 127}, {EV_SYN, SYN_REPORT, 0}}));

	touch(2499, 2249);	// the same in Y: 249 is steady
	poll();
	EXPECT_EQ(take_events(), (Events{{EV_ABS, ABS_Y, 1988}, {EV_SYN, SYN_REPORT, 0}}));
	touch(2499, 1999);	// 250 is not
	poll();
	EXPECT_EQ(take_events(), release());
	poll(2);
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(take_events(), (Events{{EV_KEY, BTN_TOUCH, 1}, {EV_ABS, ABS_Y, 2018},
					 {EV_ABS, ABS_PRESSURE, 127}, {EV_SYN, SYN_REPORT, 0}}));
}

// Puts chosen values outside the averaging window and alternates inside.
struct Window {
	static int sample(void *, int, int index, int value)
	{
		if (index < 40 || index >= 60)
			return index % 2 ? 0 : 4095;
		return value + index % 2;
	}
};

TEST_F(Touch, OnlyConversionsFortyToFiftyNineAreAveraged)
{
	panel.sample = Window::sample;
	load();
	// Window averages 2000.5 and 1500.5, truncated to 2000 and 1500.
	EXPECT_EQ(settle_at(2000, 1500), press(2757, 2078));
}

TEST_F(Touch, OutstandingPollIsAbandonedInThe52ndPeriod)
{
	load();
	hk_timer_tick(1);
	ASSERT_EQ(submitted(), 1);
	for (int period = 1; period <= 51; ++period) {
		hk_timer_tick(1);
		ASSERT_EQ(submitted(), 1) << period;
	}
	hk_timer_tick(1);
	EXPECT_EQ(submitted(), 2);
	// The first message is still held: the new poll uses another one.
	EXPECT_EQ(hk_spi_queued(0), 2);
	EXPECT_EQ(spi_violations(), 0);

	// The abandoned poll comes back late: it is not evaluated and the
	// current poll stays outstanding.
	touch(100, 100);
	EXPECT_EQ(hk_spi_complete(0, 1, 0), 1);
	hk_timer_tick(3);
	EXPECT_EQ(submitted(), 2);

	// The current one completes and counts as the first steady poll (the
	// late one did not count); polling goes on every period.
	EXPECT_EQ(hk_spi_complete(0, 1, 0), 1);
	poll();
	EXPECT_EQ(submitted(), 3);
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(submitted(), 4);
	EXPECT_EQ(take_events(), press(3214, 2248));
}

TEST_F(Touch, TwoStuckPollsWaitForTheController)
{
	load();
	hk_timer_tick(1 + 52);
	ASSERT_EQ(submitted(), 2);
	// Both messages held: another timeout submits nothing.
	hk_timer_tick(52 * 3);
	EXPECT_EQ(submitted(), 2);
	EXPECT_EQ(spi_violations(), 0);
	// Once the controller hands them back, polling resumes.
	EXPECT_EQ(hk_spi_complete(0, -1, 0), 2);
	poll(2);
	EXPECT_EQ(submitted(), 4);
}

TEST_F(Touch, RejectedSubmissionIsRetriedAfterTheTimeout)
{
	load();
	hk_fault_inject("spi_async", 1, 1);
	hk_timer_tick(1);
	EXPECT_EQ(submitted(), 0);
	EXPECT_EQ(hk_spi_queued(0), 0);
	hk_timer_tick(51);
	EXPECT_EQ(submitted(), 0);
	hk_timer_tick(1);
	EXPECT_EQ(submitted(), 1);
	hk_spi_complete(0, -1, 0);
	poll();
	EXPECT_EQ(submitted(), 2);
}

TEST_F(Touch, FailedTransferIsEvaluatedAsReceived)
{
	load();
	EXPECT_EQ(settle_at(2030, 2150), press(2750, 2000));
	// The receive buffer keeps the last poll's data: the same position,
	// reported again (nothing new to user space), no release.
	lift();
	hk_timer_tick(1);
	dropped();
	ASSERT_EQ(hk_spi_complete(0, -1, -EIO), 1);
	EXPECT_EQ(events(), Events{});
	EXPECT_EQ(dropped(), 5);
}

TEST_F(Touch, UnloadWaitsForTheOutstandingPoll)
{
	load();
	EXPECT_EQ(settle_at(2030, 2150), press(2750, 2000));
	hk_timer_tick(1);
	ASSERT_EQ(hk_spi_queued(0), 1);
	hk_printk_clear();
	dropped();

	hk_set_idle_hook(Controller::run, &controller);
	ASSERT_EQ(hk_module_unload(kModule), 0);
	hk_set_idle_hook(nullptr, nullptr);

	// The poll completed while unloading waited, with the device still
	// there: its report reached the core (nothing new to user space).
	EXPECT_GE(controller.calls, 1);
	EXPECT_EQ(hk_spi_queued(0), 0);
	EXPECT_EQ(events(), Events{});
	EXPECT_EQ(dropped(), 5);
	EXPECT_EQ(input_violations(), 0);
	EXPECT_EQ(std::string(hk_printk_text()), "<5>MyTouch removed\nremove\n");
	EXPECT_EQ(hk_input_find(kName), -1);
	EXPECT_EQ(hk_timer_pending_count(), 0);
	EXPECT_FALSE(hk_spi_device_bound(spi));
	// Nothing more happens once the module is gone.
	const long before = submitted();
	hk_timer_tick(60);
	EXPECT_EQ(submitted(), before);
}

// A controller that has nothing to hand back the first time it is asked.
struct SlowController {
	int calls = 0;
	static int run(void *ctx)
	{
		if (++static_cast<SlowController *>(ctx)->calls == 1)
			return 0;
		return hk_spi_complete(-1, -1, 0) > 0;
	}
};

TEST_F(Touch, UnloadKeepsWaitingForASlowController)
{
	load();
	hk_timer_tick(1);
	ASSERT_EQ(hk_spi_queued(0), 1);
	hk_printk_clear();

	SlowController slow;
	hk_set_idle_hook(SlowController::run, &slow);
	ASSERT_EQ(hk_module_unload(kModule), 0);
	hk_set_idle_hook(nullptr, nullptr);

	EXPECT_GE(slow.calls, 2);
	EXPECT_EQ(hk_spi_queued(0), 0);
	EXPECT_EQ(std::string(hk_printk_text()),
		  "<5>MyTouch removed\nremove\n"
		  "<4>mytouch: waiting for the SPI controller\n");
}

TEST_F(Touch, UnloadWaitsForAnAbandonedPollToo)
{
	load();
	hk_timer_tick(1 + 52);
	ASSERT_EQ(hk_spi_queued(0), 2);
	hk_set_idle_hook(Controller::run, &controller);
	ASSERT_EQ(hk_module_unload(kModule), 0);
	hk_set_idle_hook(nullptr, nullptr);
	EXPECT_EQ(hk_spi_queued(0), 0);
	EXPECT_EQ(completed() >= 2, true);
}

TEST_F(Touch, DeviceRemovalStopsPollingAndRebindingStartsAfresh)
{
	load();
	EXPECT_EQ(settle_at(2030, 2150), press(2750, 2000));
	hk_timer_tick(1);	// a poll outstanding
	hk_set_idle_hook(Controller::run, &controller);
	hk_spi_del_device(spi);
	hk_set_idle_hook(nullptr, nullptr);
	take_events();
	const long before = submitted();
	hk_timer_tick(10);
	EXPECT_EQ(submitted(), before);
	EXPECT_EQ(hk_input_find(kName), -1);
	EXPECT_EQ(hk_res_live("kmalloc"), 0);

	spi = hk_spi_new_device(0, 0, "mytouch", 2000000);
	hk_ads7846_attach(spi, &panel);
	ASSERT_TRUE(hk_spi_device_bound(spi));
	ASSERT_GE(hk_input_find(kName), 0);
	// The old touch is not carried over: no release, counting anew.
	poll(3);
	EXPECT_EQ(events(), Events{});
	poll();
	EXPECT_EQ(take_events(), press(2750, 2000));
}

TEST_F(Touch, SetupFailureFailsTheProbeWithoutLeaks)
{
	hk_fault_inject("spi_setup", 1, 1);
	load();
	EXPECT_EQ(std::string(hk_printk_text()),
		  "Probing\n<4>mytouch: probe of spi0.0 failed with error -22\n"
		  "<5>370 : init_module() - MyTouch inserted\n");
	EXPECT_FALSE(hk_spi_device_bound(spi));
	EXPECT_EQ(hk_res_live("kmalloc"), 0);
	EXPECT_EQ(hk_input_find(kName), -1);
	// The module stays loaded and its timer runs, but polls nothing.
	poll(5);
	EXPECT_EQ(submitted(), 0);
}

TEST_F(Touch, InputAllocationFailureReturnsMinusOne)
{
	hk_fault_inject("input_allocate_device", 1, 1);
	load();
	EXPECT_NE(std::string(hk_printk_text()).find("probe of spi0.0 failed with error -1\n"),
		  std::string::npos);
	EXPECT_FALSE(hk_spi_device_bound(spi));
	EXPECT_EQ(hk_res_live("kmalloc"), 0);
	poll(5);
	EXPECT_EQ(submitted(), 0);
}

TEST_F(Touch, EveryFailingAllocationUnwinds)
{
	// Fail the n-th allocation of the probe, n = 1, 2, ... until it binds.
	int n = 1;
	for (;; ++n) {
		ASSERT_LT(n, 20);
		hk_fault_inject("kmalloc", n, 1);
		load();
		hk_fault_clear();
		if (hk_spi_device_bound(spi))
			break;
		EXPECT_EQ(hk_res_live("kmalloc"), 0) << n;
		EXPECT_EQ(hk_input_find(kName), -1) << n;
		ASSERT_EQ(hk_module_unload(kModule), 0);
	}
	EXPECT_GE(n, 5) << "message, transfer, two buffers and the input device";
}

TEST_F(Touch, RegistrationFailureOfTheInputDeviceUnwinds)
{
	hk_fault_inject("input_register_device", 1, 1);
	load();
	EXPECT_FALSE(hk_spi_device_bound(spi));
	EXPECT_EQ(hk_res_live("kmalloc"), 0);
	EXPECT_EQ(hk_input_registered_count(), 0);
}

TEST_F(Touch, DriverRegistrationFailureFailsTheLoad)
{
	hk_fault_inject("spi_register_driver", 1, 1);
	EXPECT_EQ(hk_module_load(kModule, ""), -ENOMEM);
	EXPECT_EQ(hk_timer_pending_count(), 0);
	EXPECT_FALSE(hk_spi_device_bound(spi));
}

TEST_F(Touch, LoadWithoutTheDeviceAndBindLater)
{
	hk_spi_del_device(spi);
	spi = nullptr;
	load();
	EXPECT_EQ(std::string(hk_printk_text()), "<5>370 : init_module() - MyTouch inserted\n");
	poll(3);
	EXPECT_EQ(submitted(), 0);

	spi = hk_spi_new_device(0, 0, "mytouch", 2000000);
	hk_ads7846_attach(spi, &panel);
	EXPECT_TRUE(hk_spi_device_bound(spi));
	EXPECT_EQ(settle_at(2030, 2150), press(2750, 2000));
}

}  // namespace
