// Gain regulation steps and the level equation, with the device requests
// recorded (a fake radio) or sent to a plain file (where they fail).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <vector>

#include "daemon_helpers.h"
#include "skerrin.h"

namespace {

struct Request {
	int fd;
	unsigned long code;
	int cha;
	int val;
};

std::vector<Request> g_requests;
int g_compare = 0; // what the fake radio reports for RADIO_GET

int fake_radio(int fd, unsigned long code, void *arg)
{
	if (code == RADIO_ADJUST) {
		auto *cs = static_cast<chan_set *>(arg);
		g_requests.push_back({fd, code, cs->cha, cs->val});
		return 0;
	}
	if (code == RADIO_GET) {
		g_requests.push_back({fd, code, *static_cast<int *>(arg), 0});
		return g_compare;
	}
	return -1;
}

struct Regulation : ::testing::Test {
	s_interp_iq s{};
	radio_ioctl_fn saved = radio_ioctl;
	void SetUp() override
	{
		g_requests.clear();
		g_compare = 0;
		radio_ioctl = fake_radio;
		s.dbm_calc[0] = 12.65;
		s.dbm_calc[1] = -0.02;
		s.dbm_calc[2] = -77.1;
	}
	void TearDown() override { radio_ioctl = saved; }
	// The change amp_reg requests for the given amplitudes.
	int step(int amp_i, int amp_r, int chan = 1)
	{
		s.amp_i = amp_i;
		s.amp_r = amp_r;
		g_requests.clear();
		EXPECT_EQ(amp_reg(&s, chan, 7), 0);
		EXPECT_EQ(g_requests.size(), 2u);
		if (g_requests.size() != 2)
			return 0;
		EXPECT_EQ(g_requests[0].code, RADIO_ADJUST);
		EXPECT_EQ(g_requests[0].cha, chan);
		EXPECT_EQ(g_requests[0].fd, 7);
		// The level follows the step, through the same descriptor.
		EXPECT_EQ(g_requests[1].code, RADIO_GET);
		EXPECT_EQ(g_requests[1].cha, chan);
		EXPECT_EQ(g_requests[1].fd, 7);
		return g_requests[0].val;
	}
};

} // namespace

TEST(RadioRequests, CodesMatchTheDriver)
{
	EXPECT_EQ(RADIO_ADJUST, static_cast<unsigned long>(_IOW('R', 1, int)));
	EXPECT_EQ(RADIO_GET, static_cast<unsigned long>(_IOW('R', 2, int)));
}

TEST_F(Regulation, TooStrongStepsDownProportionally)
{
	EXPECT_EQ(step(700, 300), -140);
	EXPECT_EQ(step(300, 700), -140);
	EXPECT_EQ(step(501, 501), -90);
	EXPECT_EQ(step(504, 500), -91);
	EXPECT_EQ(step(32767, 0), -(90 + 32267 / 4));
}

TEST_F(Regulation, ImbalanceBelowTargetStepsDown)
{
	EXPECT_EQ(step(300, 240), -90);
	EXPECT_EQ(step(240, 300), -90);
	EXPECT_EQ(step(0, 50), -90);
}

TEST_F(Regulation, WeakAndBalancedStepsUp)
{
	EXPECT_EQ(step(300, 280), 140);
	EXPECT_EQ(step(280, 300), 140);
	EXPECT_EQ(step(500, 500), 90);
	EXPECT_EQ(step(300, 251), 90 + 200 / 4);
	EXPECT_EQ(step(0, 0), 90 + 125);
	EXPECT_EQ(step(497, 497), 90); // (500 - 497) / 4 truncates to 0
}

TEST_F(Regulation, StepNeverBelowNinety)
{
	for (int a = 0; a <= 1200; a += 7)
		for (int b = 0; b <= 1200; b += 13) {
			s.amp_i = a;
			s.amp_r = b;
			g_requests.clear();
			amp_reg(&s, 0, 3);
			ASSERT_GE(std::abs(g_requests.at(0).val), 90) << a << "/" << b;
		}
}

TEST_F(Regulation, LevelEquationWithDefaults)
{
	s.amp_i = 600;
	s.amp_r = 400;
	g_compare = 1500;
	double dbm = amp_get_dbm(&s, 2, 5);
	EXPECT_NEAR(dbm, 12.65 * 3.0 - 0.02 * 1500 - 77.1, 1e-9);
	EXPECT_EQ(s.signal_dbm.load(), dbm);
	EXPECT_EQ(amp_get(&s, 2, 5), 1500);
}

TEST_F(Regulation, ZeroAmplitudeLeavesOnlyCompareTerm)
{
	g_compare = 1000;
	EXPECT_NEAR(amp_get_dbm(&s, 0, 5), -0.02 * 1000 - 77.1, 1e-9);
}

TEST_F(Regulation, LevelIndependentOfCompareWhenBIsZero)
{
	s.dbm_calc[0] = 20;
	s.dbm_calc[1] = 0;
	s.dbm_calc[2] = -100;
	s.amp_i = 500;
	s.amp_r = 500;
	for (int cmp : {0, 700, 4000}) {
		g_compare = cmp;
		EXPECT_NEAR(amp_get_dbm(&s, 1, 5), -40.0, 1e-9);
	}
}

TEST_F(Regulation, RegulationStoresLevel)
{
	g_compare = 2000;
	step(700, 300);
	EXPECT_NEAR(s.signal_dbm.load(), 12.65 * 3.0 - 0.02 * 2000 - 77.1, 1e-9);
}

TEST(RegulationOnFile, RequestsFailAndCompareReadsMinusOne)
{
	th::ScratchDir dir;
	th::write_file(dir.file("rec.raw"), std::string(1536, '\0'));
	int fd = open(dir.file("rec.raw").c_str(), O_RDONLY);
	ASSERT_GE(fd, 0);
	s_interp_iq s{};
	s.dbm_calc[0] = 12.65;
	s.dbm_calc[1] = -0.02;
	s.dbm_calc[2] = -77.1;
	s.amp_i = 50;
	s.amp_r = 50;
	EXPECT_EQ(amp_get(&s, 0, fd), -1);
	EXPECT_EQ(amp_reg(&s, 0, fd), 0);
	EXPECT_NEAR(s.signal_dbm.load(), 12.65 * 2.0 + 0.02 - 77.1, 1e-9);
	// The file itself is left as it was.
	char buf[8];
	EXPECT_EQ(pread(fd, buf, sizeof(buf), 0), 8);
	close(fd);
	EXPECT_EQ(th::read_file(dir.file("rec.raw")), std::string(1536, '\0'));
}
