// navclient: command-line client of the decoder daemon's TCP protocol.
//
//   navclient [-a host] [-p port] [-w ms] status
//   navclient [-a host] [-p port] [-w ms] getmsg
//   navclient [-a host] [-p port] [-w ms] [-T seconds] [-i ms] poll N
//   navclient [-a host] [-p port] [-w ms] send TEXT
//
// status and getmsg send GETSTATUS or GETMSG once and print the reply as
// received.  poll sends GETMSG every -i milliseconds (default 500) and
// prints each message until N have come or -T seconds (default 60) have
// passed.  send sends TEXT as it stands (for EXIT, error replies).
// Exit status: 0 done, 1 usage or connection error, 2 timeout in poll.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "client.h"

namespace {

void usage()
{
	fprintf(stderr,
		"usage: navclient [-a host] [-p port] [-w reply-ms] [-T seconds] [-i ms] "
		"status | getmsg | poll N | send TEXT\n"
		"  -a host     server address (default 127.0.0.1)\n"
		"  -p port     server port (default 9968)\n"
		"  -w ms       wait for each reply at most this long (default 5000)\n"
		"  -T seconds  poll: give up after this long (default 60)\n"
		"  -i ms       poll: pause between requests (default 500)\n");
}

bool to_int(const char *s, int lo, int hi, int *out)
{
	char *end = nullptr;
	long v = strtol(s, &end, 10);
	if (!*s || *end || v < lo || v > hi)
		return false;
	*out = static_cast<int>(v);
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	const char *host = "127.0.0.1";
	int port = 9968;
	int reply_ms = 5000;
	int total_s = 60;
	int interval_ms = 500;

	int c;
	while ((c = getopt(argc, argv, "a:p:w:T:i:h")) != -1) {
		bool ok = true;
		switch (c) {
		case 'a':
			host = optarg;
			break;
		case 'p':
			ok = to_int(optarg, 1, 65535, &port);
			break;
		case 'w':
			ok = to_int(optarg, 1, 3600000, &reply_ms);
			break;
		case 'T':
			ok = to_int(optarg, 0, 86400, &total_s);
			break;
		case 'i':
			ok = to_int(optarg, 0, 3600000, &interval_ms);
			break;
		default:
			usage();
			return 1;
		}
		if (!ok) {
			fprintf(stderr, "navclient: bad value for -%c: %s\n", c, optarg);
			return 1;
		}
	}
	if (optind >= argc) {
		usage();
		return 1;
	}
	std::string mode = argv[optind];
	std::string request;
	int want = 0;
	if (mode == "status") {
		request = "GETSTATUS\n";
	} else if (mode == "getmsg") {
		request = "GETMSG\n";
	} else if (mode == "poll") {
		if (optind + 1 >= argc || !to_int(argv[optind + 1], 1, 1000000, &want)) {
			fprintf(stderr, "navclient: poll needs a message count of at least 1\n");
			return 1;
		}
		request = "GETMSG\n";
	} else if (mode == "send") {
		if (optind + 1 >= argc) {
			fprintf(stderr, "navclient: send needs the text to send\n");
			return 1;
		}
		request = argv[optind + 1];
	} else {
		fprintf(stderr, "navclient: unknown command '%s'\n", mode.c_str());
		usage();
		return 1;
	}

	std::string err;
	int fd = client_connect(host, port, reply_ms, &err);
	if (fd < 0) {
		fprintf(stderr, "navclient: %s\n", err.c_str());
		return 1;
	}

	std::string reply;
	if (mode != "poll") {
		int r = client_request(fd, request, &reply, reply_ms, &err);
		client_close(fd);
		if (r < 0) {
			fprintf(stderr, "navclient: %s\n", err.c_str());
			return 1;
		}
		if (r == 1 && request.find("EXIT") == std::string::npos) {
			fprintf(stderr, "navclient: server closed the connection without a reply\n");
			return 1;
		}
		fwrite(reply.data(), 1, reply.size(), stdout);
		return 0;
	}

	using clock = std::chrono::steady_clock;
	const auto deadline = clock::now() + std::chrono::seconds(total_s);
	int got = 0;
	while (got < want) {
		int r = client_request(fd, request, &reply, reply_ms, &err);
		if (r != 0) {
			fprintf(stderr, "navclient: %s\n",
				r == 1 ? "server closed the connection" : err.c_str());
			client_close(fd);
			return 1;
		}
		if (client_reply_has_message(reply)) {
			got++;
			fwrite(reply.data() + 8, 1, reply.size() - 8, stdout);
			fflush(stdout);
			continue;
		}
		if (clock::now() >= deadline) {
			fprintf(stderr, "navclient: timeout: got %d of %d messages\n", got, want);
			client_close(fd);
			return 2;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
	}
	client_close(fd);
	return 0;
}
