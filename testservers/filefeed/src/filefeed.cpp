// filefeed - serves the messages of one text file over the client protocol.
//
// Takes: the message file (messages ended by "NNNN"), one TCP port, up to
// two clients.  Gives: one message per delivery cycle, in file order and
// round and round; waits are counted in idle 100 ms poll ticks.
#include "filefeed.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int slot_count = 10;
constexpr int max_clients = 2;
constexpr int first_countdown = 3;
constexpr int later_countdown = 15;

const char *const receiving_lines =
	"\nFREQ:490,ST:IDLE,SIG:0.0\nFREQ:518,ST:RCV,SIG:0.0\nFREQ:4209,ST:IDLE,SIG:0.0\n";

// Whole decimal, hexadecimal (0x) or octal (leading 0) number, as "%i"
// reads it, with nothing after it.
bool read_int(const char *arg, int *value)
{
	int n = 0;
	return sscanf(arg, "%i%n", value, &n) == 1 && arg[n] == '\0';
}

bool send_all(int fd, const std::string &data)
{
	const char *p = data.data();
	size_t len = data.size();
	while (len > 0) {
		ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		p += n;
		len -= static_cast<size_t>(n);
	}
	return true;
}

// The whole text, NUL bytes and all: a message is logged as it was sent.
void log_text(const std::string &text)
{
	fwrite(text.data(), 1, text.size(), stdout);
	fflush(stdout);
}

} // namespace

int filefeed_parse_options(int argc, char **argv, filefeed_options *o)
{
	optind = 0;
	opterr = 0; // our own message only
	int c;
	while ((c = getopt(argc, argv, "p:f:i:")) != -1) {
		switch (c) {
		case 'p': {
			int port = 0;
			// A port outside 1..65535 would be silently truncated.
			if (!read_int(optarg, &port) || port < 1 || port > 65535) {
				printf("Illegal port value specified\n");
				return 1;
			}
			o->port = port;
			break;
		}
		case 'f':
			o->path = optarg;
			break;
		case 'i': {
			char *end = nullptr;
			errno = 0;
			long v = strtol(optarg, &end, 10);
			if (end == optarg || *end != '\0' || errno || v < 0 || v > 100000) {
				printf("Illegal interval value specified\n");
				return 1;
			}
			o->interval = static_cast<int>(v);
			break;
		}
		default:
			printf("Illegal option\n");
			return 1;
		}
	}
	return -1;
}

std::vector<std::string_view> split_messages(std::string_view text)
{
	std::vector<std::string_view> out;
	size_t pos = 0;
	bool separated = false;
	for (;;) {
		size_t sep = text.find("NNNN", pos);
		if (sep == std::string_view::npos)
			break;
		separated = true;
		out.push_back(text.substr(pos, sep - pos));
		pos = sep + 4;
		if (pos < text.size())
			++pos; // the line end after the separator
	}
	if (!separated)
		out.push_back(text);
	return out;
}

int load_messages(const std::string &path, message_store *store)
{
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		perror("open");
		return -1;
	}
	struct stat sb;
	int st = fstat(fd, &sb);
	if (st < 0 || S_ISDIR(sb.st_mode)) {
		if (st == 0)
			errno = EISDIR; // read() would say so; say it before
		perror("open");
		close(fd);
		return -1;
	}
	try {
		store->text.assign(static_cast<size_t>(sb.st_size), '\0');
	} catch (const std::bad_alloc &) {
		errno = ENOMEM;
		perror("malloc");
		close(fd);
		return -1;
	}
	size_t got = 0;
	while (got < store->text.size()) {
		ssize_t n = read(fd, &store->text[got], store->text.size() - got);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n == 0)
				errno = EIO; // shorter than its size said
			perror("open");
			close(fd);
			return -1;
		}
		got += static_cast<size_t>(n);
	}
	close(fd);
	auto msgs = split_messages(store->text);
	store->msgs.assign(msgs.begin(), msgs.end()); // into the table made at start
	return static_cast<int>(store->msgs.size());
}

double filefeed_draw()
{
	return static_cast<double>(random()) / 2147483648.0;
}

bool filefeed_tick(feed_state &st, double r)
{
	if (++st.ticks <= st.wait)
		return false;
	if (st.current < 0 && !st.msgs.empty()) {
		st.current = st.next;
		st.next = (st.next + 1) % static_cast<int>(st.msgs.size());
	}
	st.wait = static_cast<int>(r * 10 * st.interval);
	st.ticks = 0;
	return true;
}

std::string_view request_line(const char *buf, size_t n)
{
	size_t len = 0;
	while (len < n && buf[len] != '\r' && buf[len] != '\n' && buf[len] != '\0')
		++len;
	return std::string_view(buf, len);
}

feed_reply filefeed_request(feed_state &st, std::string_view line)
{
	feed_reply r;
	if (line == "GETMSG") {
		if (st.current >= 0 && st.countdown <= 0) {
			std::string msg(st.msgs[static_cast<size_t>(st.current)]);
			r.action = feed_action::deliver;
			r.parts = {"GETMSG:\n", msg, "\nNNNN"};
			r.out = "GETMGS:\n" + msg + "\nNNNN\n";
		}
	} else if (line == "GETSTATUS") {
		r.action = feed_action::reply;
		r.parts = {"GETSTATUS:"};
		r.out = "get STATUS\n";
		if (st.current >= 0) {
			r.parts[0] += receiving_lines;
			r.out += "RECEIVING\n";
			st.countdown--;
		}
	} else if (line == "quit") {
		r.action = feed_action::close;
	}
	return r;
}

void filefeed_delivered(feed_state &st)
{
	st.current = -1;
	st.countdown = later_countdown;
}

int filefeed_listen(int port)
{
	// No SOCK_CLOEXEC or accept4: the board's kernel (2.6.25) has neither.
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	if (fd < 0) {
		perror("socket");
		return -1;
	}
	fcntl(fd, F_SETFD, FD_CLOEXEC);
	int one = 1;
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
	struct sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	addr.sin_port = htons(static_cast<uint16_t>(port));
	if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) < 0) {
		perror("bind");
		close(fd);
		return -1;
	}
	if (listen(fd, 1) < 0) {
		perror("listen");
		close(fd);
		return -1;
	}
	if (fd >= slot_count) {
		printf("Max number of fd's reached\n");
		close(fd);
		return -1;
	}
	return fd;
}

int filefeed_serve(int listen_fd, feed_state &st)
{
	struct pollfd slots[slot_count];
	for (auto &s : slots)
		s = {-1, POLLIN, 0}; // poll skips negative descriptors
	slots[listen_fd].fd = listen_fd;
	int clients = 0;

	auto close_client = [&](int k) {
		printf("Closing %i\n", k);
		close(k);
		slots[k].fd = -1;
		slots[k].revents = 0;
		--clients;
	};

	for (;;) {
		int r = poll(slots, slot_count, 100);
		if (r < 0) {
			if (errno == EINTR)
				continue;
			perror("poll");
			usleep(100000);
			continue;
		}
		if (r == 0) {
			if (filefeed_tick(st, filefeed_draw()))
				printf("Waiting %d ms\n", st.wait * 100);
			continue;
		}

		if (slots[listen_fd].revents & POLLIN) {
			int fd = accept(listen_fd, nullptr, nullptr);
			if (fd >= 0) {
				fcntl(fd, F_SETFD, FD_CLOEXEC);
				printf("new socket: %i\n", fd);
				if (fd >= slot_count) {
					printf("Max number of fd's reached\n");
					return 1;
				}
				if (clients >= max_clients) {
					close(fd);
					printf("Max connections reached!\n");
				} else {
					// A client that stops reading must not stall the
					// only thread for long.
					struct timeval tv = {2, 0};
					setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
					slots[fd] = {fd, POLLIN, 0};
					++clients;
				}
			}
		}

		for (int k = 0; k < slot_count; ++k) {
			if (k == listen_fd || slots[k].fd < 0 || slots[k].revents == 0)
				continue;
			char buf[4096];
			memset(buf, 0, sizeof(buf));
			ssize_t n = recv(k, buf, 4094, 0);
			if (n < 0 && errno == EINTR)
				continue;
			if (n <= 0) {
				close_client(k);
				continue;
			}
			feed_reply rep = filefeed_request(st, request_line(buf, static_cast<size_t>(n)));
			bool sent = true;
			for (const auto &part : rep.parts)
				if (sent)
					sent = send_all(k, part);
			switch (rep.action) {
			case feed_action::none:
				break;
			case feed_action::reply:
				log_text(rep.out);
				break;
			case feed_action::deliver:
				// A message that did not reach its client stays pending.
				if (sent) {
					filefeed_delivered(st);
					log_text(rep.out);
				}
				break;
			case feed_action::close:
				close_client(k);
				continue;
			}
			if (!sent)
				close_client(k);
		}
	}
}
