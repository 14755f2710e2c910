// Gain regulation and signal level of one channel.
//
// At each buffer-end mark of the sample stream the compare value of the
// channel (its gain setting in the radio driver) is nudged so that the
// larger mean absolute amplitude of I and Q approaches 500, by at least 90
// units either way.  Afterwards the level in dBm is
//   a * log10(amp_i + amp_r) + b * compare value + c.
// On a plain file the requests fail and the compare value reads -1.
#include <sys/ioctl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "skerrin.h"

namespace {

constexpr int kTargetAmp = 500;
constexpr int kImbalance = 50;
constexpr int kBaseStep = 90;

int sys_ioctl(int fd, unsigned long request, void *arg)
{
	return ioctl(fd, request, arg);
}

} // namespace

radio_ioctl_fn radio_ioctl = sys_ioctl;

int amp_reg(struct s_interp_iq *s_iq, int chan_no, int fd_ioctl)
{
	int m = std::max(s_iq->amp_i, s_iq->amp_r);
	int d = m - kTargetAmp;
	int val;

	if (d > 0)
		val = -(kBaseStep + d / 4);
	else if (std::abs(s_iq->amp_i - s_iq->amp_r) >= kImbalance)
		val = -kBaseStep;
	else
		val = kBaseStep + (kTargetAmp - m) / 4;

	chan_set req{chan_no, val};
	radio_ioctl(fd_ioctl, RADIO_ADJUST, &req);
	amp_get_dbm(s_iq, chan_no, fd_ioctl);
	return 0;
}

int amp_get(struct s_interp_iq *s_iq, int chan_no, int fd_ioctl)
{
	(void)s_iq;
	int cha = chan_no;
	int r = radio_ioctl(fd_ioctl, RADIO_GET, &cha);
	return r < 0 ? -1 : r;
}

double amp_get_dbm(struct s_interp_iq *s_iq, int chan_no, int fd_ioctl)
{
	int agc = amp_get(s_iq, chan_no, fd_ioctl);
	int s = s_iq->amp_i + s_iq->amp_r;
	double l = s > 0 ? log10(static_cast<double>(s)) : 0.0;
	double dbm = s_iq->dbm_calc[0] * l + s_iq->dbm_calc[1] * agc + s_iq->dbm_calc[2];
	s_iq->signal_dbm.store(dbm, std::memory_order_relaxed);
	return dbm;
}
