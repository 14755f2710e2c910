// The mains' shared way out, option numbers, input argument and headerless
// input (see cli.h).
#include "cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "number_arg.h"

namespace streamconv {

namespace {
const char *g_program = "";
Output *g_output = nullptr;
} // namespace

void set_program(const char *name, Output *out)
{
	g_program = name;
	g_output = out;
}

void fail(const std::string &msg)
{
	if (g_output)
		g_output->discard();
	fprintf(stderr, "%s: %s\n", g_program, msg.c_str());
	exit(1);
}

double option_number(char opt, const char *arg)
{
	double v = 0;
	if (!to_double(arg, v))
		fail(std::string("bad number for -") + opt + ": '" + arg + "'");
	return v;
}

std::string the_input(int argc, char **argv, const char *usage)
{
	if (optind + 1 != argc) {
		fputs(usage, stderr);
		fail(optind >= argc ? "no input given" : "more than one input given");
	}
	return argv[optind];
}

RawFile::RawFile(const std::string &path)
{
	if (path == "-") {
		name = "standard input";
		fd = STDIN_FILENO;
	} else {
		name = path;
		fd = ::open(path.c_str(), O_RDONLY);
		if (fd < 0)
			fail("cannot read " + path + ": " + strerror(errno));
		own_ = true;
	}
	struct stat st;
	if (fstat(fd, &st) != 0)
		fail("cannot read " + name + ": " + strerror(errno));
	if (S_ISDIR(st.st_mode))
		fail("cannot read " + name + ": it is a folder");
	if (S_ISREG(st.st_mode))
		size = st.st_size;
	else
		live = true;
}

RawFile::~RawFile()
{
	if (own_)
		close(fd);
}

size_t RawFile::read(unsigned char *buf, size_t n)
{
	for (;;) {
		const ssize_t got = ::read(fd, buf, n);
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0)
			fail("cannot read " + name + ": " + strerror(errno));
		return static_cast<size_t>(got);
	}
}

bool RawFile::rewind()
{
	return !live && lseek(fd, 0, SEEK_SET) == 0;
}

} // namespace streamconv
