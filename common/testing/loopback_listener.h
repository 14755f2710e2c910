// A listening TCP socket on 127.0.0.1 at a port the kernel picks, for
// tests and benchmarks that stand in for a protocol server.  Returns the
// socket (or -1) and stores its port.
#ifndef LOOPBACK_LISTENER_H
#define LOOPBACK_LISTENER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

inline int loopback_listener(int *port)
{
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	if (fd < 0)
		return -1;
	int one = 1;
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t l = sizeof a;
	if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
	    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l) != 0 || listen(fd, 4) != 0) {
		close(fd);
		return -1;
	}
	*port = ntohs(a.sin_port);
	return fd;
}

// A loopback socket connected to its own address.  While nobody listens
// on a port yet, a connect retried to it can draw that very port as its
// own ephemeral one and connect to itself (TCP simultaneous open), which
// also holds the port the server is about to bind: retries must refuse it.
inline bool self_connected(int fd)
{
	sockaddr_in me{}, peer{};
	socklen_t ml = sizeof me, pl = sizeof peer;
	return getsockname(fd, reinterpret_cast<sockaddr *>(&me), &ml) == 0 &&
	       getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &pl) == 0 && me.sin_port == peer.sin_port &&
	       me.sin_addr.s_addr == peer.sin_addr.s_addr;
}

#endif
