// Start-up of the decoder daemon: defaults, command line, daemon object
// with one decoder record per channel (at most four: 490, 518, 4209 and
// 424 kHz), settings, input and copy files, detaching, the protocol server
// thread and the acquisition loop.  At the end of a recorded input the
// queue is listed and the process exits with status 0.
#include "skerrin.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <new>

#include "messages.h"

const int frequencys[4] = {490, 518, 4209, 424};

namespace {

constexpr int kMaxChannels = 4;
constexpr size_t kPathMax = 255; // the settings hold 256 characters each

const char HelpText[] =
	"skerrin: Saemon for decoding of NAVTEX messages... \n"
	" -h           : Help (this text)\n"
	" -i <input-file>  : File to decode (default: /dev/xxx)\n"
	" -p <port>        : tcp socket port\n"
	" -f               : run in forground\n"
	" -d <level>       : set debug print level\n"
	" -n <phasings>    : number of phasings found before phase lock\n"
	" -s <delay>       : insert sleep between each sample 1000= realtime\n"
	" -m <percentage>  : set max error rate in messages\n"
	" -c <# of chan>   : the number of channels (default 3)\n"
	" -S <sample rate> : Sample rate pr. channel (default 1700)\n"
	" -C <copy-file>   : Make a copy of the incomming signal\n"
	" -I <ignore no>   : Number of samples to ignore \n"
	" -E <end samp no> : En the program when reaching this sample no \n"
	" -x <cha no>      : Export only this channel\n"
	" -t <start time>  : Specify file start time (sec since 1/1/1970)\n"
	" -A               : enhanced decoding: soft decisions, DX/RX combined\n";

[[noreturn]] void help_exit()
{
	fputs(HelpText, stderr);
	exit(0);
}

[[noreturn]] void refuse(const char *what, const char *arg)
{
	fprintf(stderr, "main: %s: %s\n", what, arg);
	exit(EXIT_FAILURE);
}

void copy_path(char *dst, const char *src, const char *what)
{
	if (strlen(src) > kPathMax)
		refuse(what, "path longer than 255 characters refused");
	strcpy(dst, src);
}

// A frame number for -I or -E: the whole range of the unsigned 32-bit frame
// counter.  An argument that does not convert leaves *value unchanged.
void frame_number(const char *arg, unsigned int *value, const char *what)
{
	long long v;
	if (sscanf(arg, "%lld", &v) != 1)
		return;
	if (v < 0 || v > static_cast<long long>(UINT_MAX))
		refuse(what, arg);
	*value = static_cast<unsigned int>(v);
}

} // namespace

skerrin_all *skerrin_init(int no_of_chan, int dbglev, int sample_rate)
{
	auto *self = new (std::nothrow) skerrin_all();
	if (!self)
		return nullptr;
	self->export_cha = -1;
	self->no_of_chan = no_of_chan;
	self->dbglev = dbglev;
	self->samp_ignored = 0;
	self->samp_stop = 0;
	self->input_fd = -1;
	self->copy_fd = -1;
	message_list_init();

	// Value-initialised: every record starts zero-filled.
	self->channels = new (std::nothrow) skerrin_cha[no_of_chan > 0 ? no_of_chan : 0]();
	if (!self->channels) {
		delete self;
		return nullptr;
	}
	for (int i = 0; i < no_of_chan; i++) {
		skerrin_cha &ch = self->channels[i];
		interp_iq_init(&ch.s_iq, sample_rate);
		detect_pha_init(&ch.det_obj, sample_rate, dbglev & 0x04);
		sample_bit_init(&ch.bit_obj, dbglev & 0x08);
		gt_msg_init(&ch.msg_obj, i < kMaxChannels ? frequencys[i] : 0, dbglev & 0x10);
	}
	return self;
}

int skerrin_all_set(skerrin_all *self, int option, void *p_value)
{
	switch (option) {
	case 0: {
		int v = *static_cast<int *>(p_value);
		for (int i = 0; i < self->no_of_chan; i++)
			self->channels[i].det_obj.minphasings = v;
		break;
	}
	case 1:
		self->delay_pr_samp = *static_cast<int *>(p_value);
		break;
	case 2: {
		double v = *static_cast<double *>(p_value);
		for (int i = 0; i < self->no_of_chan; i++)
			self->channels[i].msg_obj.max_err = v;
		break;
	}
	case 3:
		self->samp_ignored = *static_cast<unsigned int *>(p_value);
		printf("Samples ignorred %u\n", self->samp_ignored);
		break;
	case 4:
		self->samp_stop = *static_cast<unsigned int *>(p_value);
		printf("Stopping at sample %u\n", self->samp_stop);
		break;
	case 5:
		self->export_cha = *static_cast<int *>(p_value);
		printf("Export_cha set to %d\n", self->export_cha);
		break;
	case 6: {
		self->start_time = *static_cast<time_t *>(p_value);
		if (self->start_time != 0) {
			char when[64];
			if (ctime_r(&self->start_time, when))
				printf("Start time set to %s\n", when);
		}
		break;
	}
	case 7: {
		const double *e = static_cast<const double *>(p_value);
		for (int i = 0; i < self->no_of_chan; i++) {
			double *c = self->channels[i].s_iq.dbm_calc;
			c[0] = e[0];
			c[1] = e[1];
			c[2] = e[2];
			printf("Cha %d: dbm equation: a:%f b:%f c:%f\n", i, c[0], c[1], c[2]);
		}
		break;
	}
	default:
		return -1;
	}
	return 0;
}

int daemonize()
{
	// Text still buffered would otherwise be written twice, by the
	// parent's exit and again by the child.
	fflush(nullptr);
	pid_t pid = fork();
	if (pid < 0)
		exit(1);
	if (pid > 0)
		exit(0);

	umask(0);
	openlog("skerrin", LOG_CONS, LOG_DAEMON);
	setlogmask(0x68);
	if (setsid() < 0)
		exit(1);
	if (chdir("/tmp/") < 0) {
		fprintf(stderr, "%s: Failure changing working directory\n", "daemonize");
		exit(1);
	}
	return 0;
}

int skerrin_main(int narg, char **argp)
{
	char input_path[kPathMax + 1] = "/dev/myradio";
	char copy_path_buf[kPathMax + 1] = "";
	bool have_copy = false;
	int port = 9968;
	bool foreground = false;
	int no_of_chan = 3;
	int sample_rate = 1700;
	int dbglev = 0;
	int minphasings = 2;
	int delay_pr_samp = 0;
	double max_message_err = 100.0;
	unsigned int samp_ignored = 0;
	unsigned int samp_stop = 0;
	int export_cha = -1;
	unsigned int start_secs = 0;
	double dbm_eq[3] = {12.65, -0.02, -77.1};
	bool enhanced = false;

	int c;
	while ((c = getopt(narg, argp, "i:fo:p:d:n:s:m:c:S:C:I:E:x:t:e:A")) != -1) {
		switch (c) {
		case 'i':
			copy_path(input_path, optarg, "input file");
			break;
		case 'f':
			foreground = true;
			break;
		case 'p':
			sscanf(optarg, "%d", &port);
			if (port < 0 || port > 65535)
				refuse("port outside 0..65535 refused", optarg);
			break;
		case 'd':
			sscanf(optarg, "%d", &dbglev);
			printf("Debug level set to %d\n", dbglev);
			break;
		case 'n':
			sscanf(optarg, "%d", &minphasings);
			break;
		case 's':
			sscanf(optarg, "%d", &delay_pr_samp);
			if (delay_pr_samp < 0)
				refuse("negative delay refused", optarg);
			break;
		case 'm':
			sscanf(optarg, "%lf", &max_message_err);
			// A NaN limit would refuse every message, silently.
			if (!std::isfinite(max_message_err))
				refuse("error rate limit must be a finite number", optarg);
			break;
		case 'c':
			sscanf(optarg, "%d", &no_of_chan);
			printf("No of chano %d\n", no_of_chan);
			if (no_of_chan < 0 || no_of_chan > kMaxChannels)
				refuse("channel count must be 0 to 4", optarg);
			break;
		case 'S':
			sscanf(optarg, "%d", &sample_rate);
			printf("Sample rate set to %d\n", sample_rate);
			break;
		case 'C':
			copy_path(copy_path_buf, optarg, "copy file");
			have_copy = true;
			break;
		case 'I':
			frame_number(optarg, &samp_ignored, "ignore count out of range");
			break;
		case 'E':
			// -1 is the usual way to say "no stop": the same as 0.
			if (strcmp(optarg, "-1") == 0)
				samp_stop = 0;
			else
				frame_number(optarg, &samp_stop, "stop sample out of range");
			break;
		case 'x':
			sscanf(optarg, "%d", &export_cha);
			break;
		case 't':
			sscanf(optarg, "%u", &start_secs);
			break;
		case 'A':
			enhanced = true;
			break;
		case 'e':
			if (sscanf(optarg, "%lf,%lf,%lf", &dbm_eq[0], &dbm_eq[1], &dbm_eq[2]) != 3 ||
			    !std::isfinite(dbm_eq[0]) || !std::isfinite(dbm_eq[1]) || !std::isfinite(dbm_eq[2])) {
				printf("Error reading equation: %s\n", optarg);
				exit(0);
			}
			printf("dbm equation: a:%f b:%f c:%f,\n", dbm_eq[0], dbm_eq[1], dbm_eq[2]);
			break;
		default:
			help_exit();
		}
	}

	skerrin_all *obj = skerrin_init(no_of_chan, dbglev, sample_rate);
	if (!obj) {
		fprintf(stderr, "%s: Error initing skerrin obj\n\n", "main");
		exit(-1);
	}

	if (enhanced && skerrin_set_chain(obj, SKERRIN_CHAIN_ENHANCED) != 0) {
		fprintf(stderr, "%s: Error initing skerrin obj\n\n", "main");
		exit(-1);
	}

	time_t start_time = start_secs;
	skerrin_all_set(obj, 0, &minphasings);
	skerrin_all_set(obj, 1, &delay_pr_samp);
	skerrin_all_set(obj, 2, &max_message_err);
	skerrin_all_set(obj, 3, &samp_ignored);
	skerrin_all_set(obj, 4, &samp_stop);
	skerrin_all_set(obj, 5, &export_cha);
	skerrin_all_set(obj, 6, &start_time);
	skerrin_all_set(obj, 7, dbm_eq);

	obj->input_fd = open(input_path, O_RDONLY | O_LARGEFILE);
	if (obj->input_fd < 0) {
		int e = errno;
		fprintf(stderr, "%s: Error opening file: %s : %s\n\n", "main", input_path, strerror(e));
		exit(e);
	}
	obj->copy_fd = -1;
	if (have_copy) {
		// The copy is this run's input alone, readable again with -i: an
		// older recording before it would put every frame out of step.
		obj->copy_fd = open(copy_path_buf, O_WRONLY | O_CREAT | O_TRUNC | O_LARGEFILE, 0777);
		if (obj->copy_fd < 0) {
			int e = errno;
			fprintf(stderr, "%s: Error opening file: %s\n\n", "main", copy_path_buf);
			exit(e);
		}
	}

	if (!foreground)
		daemonize();
	// A copy going to a pipe whose reader has gone must not end the
	// daemon: the write fails and decoding goes on.
	signal(SIGPIPE, SIG_IGN);

	// Lives in this frame, which never returns: the thread is never joined.
	static socket_data sdata;
	sdata.port = port;
	sdata.dbglev = dbglev;
	sdata.run = 1;
	sdata.skerrin_obj = obj;
	// Decoding starts once the server listens or has said why it cannot:
	// clients can connect from the first sample on, and a short recording
	// never ends before a bind failure is reported.
	static std::latch listening(1);
	sdata.listening = &listening;
	pthread_t server;
	int rc = pthread_create(&server, nullptr, socket_tcp_server, &sdata);
	if (rc != 0) {
		fprintf(stderr, "%s: Failure starting socket: %s\n", "main", strerror(rc));
		exit(-1);
	}
	// Never joined: when the server ends early (a port in use) its
	// resources go back at once instead of waiting for the process's end.
	pthread_detach(server);
	listening.wait();

	int frames = decode_i_q_sig(obj);
	if (frames < 0) {
		fprintf(stderr, "%s: decoding file: %s returned %d\n\n", "main", input_path, frames);
		exit(-1);
	}
	if (obj->copy_fd >= 0)
		close(obj->copy_fd);
	close(obj->input_fd);
	printf("Messages waiting...\n");
	msg_list_print();
	exit(0);
}
