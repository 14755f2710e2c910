// The decoder daemon object, its channel records and the daemon's own
// operations: start-up settings, the acquisition loop, gain regulation and
// the client protocol server.
#ifndef SKERRIN_SKERRIN_H
#define SKERRIN_SKERRIN_H

#include <atomic>
#include <ctime>
#include <latch>

#include "bit_sample.h"
#include "get_msg.h"
#include "iq_interp.h"
#include "phase_det.h"

struct skerrin_cha {
	struct s_interp_iq s_iq;
	struct pha_obj det_obj;
	struct sample_bit_obj bit_obj;
	struct gt_msg_obj msg_obj;
	struct enh_cha *enh; // the enhanced chain's stages, null unless selected
};

struct skerrin_all {
	skerrin_cha *channels;
	int input_fd;
	int copy_fd;
	int dbglev;
	int no_of_chan;
	int delay_pr_samp;
	int export_cha;
	time_t start_time;
	unsigned int samp_ignored;
	unsigned int samp_stop;
	int chain; // SKERRIN_CHAIN_SPECIFIED or SKERRIN_CHAIN_ENHANCED
};

constexpr int SKERRIN_CHAIN_SPECIFIED = 0;
constexpr int SKERRIN_CHAIN_ENHANCED = 1; // option -A

struct socket_data {
	int port;
	int dbglev;
	std::atomic<int> run;
	skerrin_all *skerrin_obj;
	// Counted down once the server listens or has given up; may be null.
	std::latch *listening = nullptr;
};

extern const int frequencys[4];

// Gain request of the radio device: channel index and signed change of its
// compare value (the driver scales it by 1/8 and keeps it within limits).
struct chan_set {
	int cha;
	int val;
};

constexpr unsigned long RADIO_ADJUST = 0x40045201; // _IOW('R', 1, int)
constexpr unsigned long RADIO_GET = 0x40045202;    // _IOW('R', 2, int)

// Every gain request goes through this pointer; it is ioctl(2) unless a
// test puts a recorder in its place.
using radio_ioctl_fn = int (*)(int fd, unsigned long request, void *arg);
extern radio_ioctl_fn radio_ioctl;

// Start-up and settings.
skerrin_all *skerrin_init(int no_of_chan, int dbglev, int sample_rate);
int skerrin_all_set(skerrin_all *self, int option, void *p_value);
int daemonize();
// Selects every channel's decoding chain; the enhanced one's stages are
// created here.  0, or -1 when memory runs out (the chain is then unchanged).
int skerrin_set_chain(skerrin_all *self, int chain);
int skerrin_main(int narg, char **argp);

// Acquisition loop and per-channel dispatch.
int decode_i_q_sig(skerrin_all *skerrin_obj);
int decode_chan(skerrin_cha *channel, icomplex iq, unsigned int samples);
int decode_chan_enh(skerrin_cha *channel, icomplex iq, unsigned int samples);
int decode_wri_dbg(skerrin_cha *channel, int dbgval, icomplex iq, int fd);

// Gain regulation and signal level.
int amp_reg(struct s_interp_iq *s_iq, int chan_no, int fd_ioctl);
int amp_get(struct s_interp_iq *s_iq, int chan_no, int fd_ioctl);
double amp_get_dbm(struct s_interp_iq *s_iq, int chan_no, int fd_ioctl);

// Client protocol server.
struct socket_cmd {
	char cmd[64];
	char argc;
	char **argv;
};

constexpr int SOCKET_CMD_COUNT = 3;
extern const socket_cmd socket_cmd_list[SOCKET_CMD_COUNT];

void *socket_tcp_server(void *parm);
int socket_loop(int client_fd, skerrin_all *skerrin_obj, int dbg_print);
int socket_print_status(char *buffer, int max_size, skerrin_cha *channel);

#endif
