/*
 * LD_PRELOAD library: runs an unmodified program against rfspidrv on the
 * emulated board.  open() of the device path (default "/dev/myradio") loads
 * the module on a fresh simulated board and opens character device 14:3
 * through the host kernel layer; read, ioctl and close on that descriptor
 * go to the module's file operations.  Everything else passes through.
 *
 * Environment (all optional):
 *   RADIO_EMU_DEVICE     path to take over
 *   RADIO_EMU_RECORDING  stream file to play (else synthesized tones)
 *   RADIO_EMU_GAIN       signal factor at compare 1792: "g" or "g0,g1,g2"
 *   RADIO_EMU_LOOPS      plays of the recording before end of input
 *   RADIO_EMU_REALTIME   1: one buffer per 37.5 ms of wall time
 *   RADIO_EMU_ARGS       module load arguments
 *   RADIO_EMU_LOG        file for one line per converted buffer
 *
 * When the recording has been played, a read that would wait returns 0
 * (end of input), so a test run ends the way a recorded file does.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <hostkernel/chrdev.h>
#include <hostkernel/hostkernel.h>

#include "myradio.h"
#include "radio_board.h"

#define MAX_OPEN 8
#define ERESTARTSYS_VALUE 512

static pthread_mutex_t emu_lock = PTHREAD_MUTEX_INITIALIZER;
static int started;
static FILE *log_file;
static struct {
	int fd;
	struct file *file;
} opened[MAX_OPEN];

static int (*real_open)(const char *, int, ...);
static int (*real_close)(int);
static ssize_t (*real_read)(int, void *, size_t);
static int (*real_ioctl)(int, unsigned long, ...);

static void resolve(void)
{
	if (!real_open) {
		real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
		real_close = (int (*)(int))dlsym(RTLD_NEXT, "close");
		real_read = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
		real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
	}
}

static int is_device(const char *path)
{
	const char *dev = getenv("RADIO_EMU_DEVICE");

	return path && strcmp(path, dev && *dev ? dev : "/dev/myradio") == 0;
}

static struct file *file_of(int fd)
{
	int i;

	if (fd < 0)
		return NULL;
	for (i = 0; i < MAX_OPEN; i++)
		if (opened[i].file && opened[i].fd == fd)
			return opened[i].file;
	return NULL;
}

static int start_board(void)
{
	struct radio_board_config cfg;
	const char *gain = getenv("RADIO_EMU_GAIN");
	const char *loops = getenv("RADIO_EMU_LOOPS");
	const char *log = getenv("RADIO_EMU_LOG");
	const char *rt = getenv("RADIO_EMU_REALTIME");

	memset(&cfg, 0, sizeof(cfg));
	cfg.recording = getenv("RADIO_EMU_RECORDING");
	if (cfg.recording && !*cfg.recording)
		cfg.recording = NULL;
	if (gain) {
		int n = sscanf(gain, "%lf,%lf,%lf", &cfg.gain[0], &cfg.gain[1], &cfg.gain[2]);

		if (n == 1)
			cfg.gain[1] = cfg.gain[2] = cfg.gain[0];
	}
	cfg.loops = loops ? (unsigned)strtoul(loops, NULL, 10) : 1;
	cfg.realtime = rt && *rt == '1';
	cfg.module_args = getenv("RADIO_EMU_ARGS");
	if (log && *log) {
		log_file = fopen(log, "w");
		if (log_file)
			setvbuf(log_file, NULL, _IOLBF, 0);
	}
	cfg.log = log_file;
	return radio_board_start(&cfg);
}

static int emu_open(int flags)
{
	struct file *f;
	int err = 0, fd, i;

	pthread_mutex_lock(&emu_lock);
	if (!started) {
		err = start_board();
		if (err) {
			pthread_mutex_unlock(&emu_lock);
			fprintf(stderr, "radio emulation: cannot start the board: %s\n", strerror(-err));
			errno = -err;
			return -1;
		}
		started = 1;
	}
	f = hk_chrdev_open(MYRADIO_MAJOR, MYRADIO_MINOR, flags & ~(O_CREAT | O_TRUNC), &err);
	if (!f) {
		pthread_mutex_unlock(&emu_lock);
		errno = -err;
		return -1;
	}
	/* a real descriptor number, so the program's own bookkeeping works */
	fd = real_open("/dev/null", O_RDONLY);
	for (i = 0; fd >= 0 && i < MAX_OPEN; i++) {
		if (!opened[i].file) {
			opened[i].fd = fd;
			opened[i].file = f;
			pthread_mutex_unlock(&emu_lock);
			return fd;
		}
	}
	hk_file_close(f);
	if (fd >= 0)
		real_close(fd);
	pthread_mutex_unlock(&emu_lock);
	errno = EMFILE;
	return -1;
}

static mode_t mode_arg(int flags, va_list ap)
{
	return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
}

int open(const char *path, int flags, ...)
{
	va_list ap;
	mode_t mode;

	resolve();
	va_start(ap, flags);
	mode = mode_arg(flags, ap);
	va_end(ap);
	if (is_device(path))
		return emu_open(flags);
	return real_open(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
	va_list ap;
	mode_t mode;

	resolve();
	va_start(ap, flags);
	mode = mode_arg(flags, ap);
	va_end(ap);
	if (is_device(path))
		return emu_open(flags);
	return real_open(path, flags | O_LARGEFILE, mode);
}

int __open_2(const char *path, int flags)
{
	return open(path, flags);
}

int __open64_2(const char *path, int flags)
{
	return open64(path, flags);
}

int openat(int dirfd, const char *path, int flags, ...)
{
	static int (*real_openat)(int, const char *, int, ...);
	va_list ap;
	mode_t mode;

	resolve();
	va_start(ap, flags);
	mode = mode_arg(flags, ap);
	va_end(ap);
	if (is_device(path))
		return emu_open(flags);
	if (!real_openat)
		real_openat = (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
	return real_openat(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
	va_list ap;
	mode_t mode;

	va_start(ap, flags);
	mode = mode_arg(flags, ap);
	va_end(ap);
	return openat(dirfd, path, flags | O_LARGEFILE, mode);
}

ssize_t read(int fd, void *buf, size_t count)
{
	struct file *f;
	long r;

	resolve();
	f = file_of(fd);
	if (!f)
		return real_read(fd, buf, count);
	r = hk_file_read(f, buf, count);
	if (r == -ERESTARTSYS_VALUE && radio_board_exhausted())
		return 0;	/* the recording is over: end of input */
	if (r == -ERESTARTSYS_VALUE)
		r = -EINTR;
	if (r < 0) {
		errno = (int)-r;
		return -1;
	}
	return r;
}

ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen)
{
	if (count > buflen)
		abort();
	return read(fd, buf, count);
}

int ioctl(int fd, unsigned long request, ...)
{
	struct file *f;
	va_list ap;
	void *arg;
	long r;

	resolve();
	va_start(ap, request);
	arg = va_arg(ap, void *);
	va_end(ap);
	f = file_of(fd);
	if (!f)
		return real_ioctl(fd, request, arg);
	r = hk_file_ioctl(f, (unsigned int)request, (unsigned long)arg);
	if (r < 0) {
		errno = (int)-r;
		return -1;
	}
	return (int)r;
}

int close(int fd)
{
	struct file *f;
	int i;

	resolve();
	pthread_mutex_lock(&emu_lock);
	f = file_of(fd);
	if (f) {
		for (i = 0; i < MAX_OPEN; i++)
			if (opened[i].file == f)
				opened[i].file = NULL;
		hk_file_close(f);
	}
	pthread_mutex_unlock(&emu_lock);
	return real_close(fd);
}
