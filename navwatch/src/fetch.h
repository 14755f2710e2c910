// The connection to the protocol server: connect, ask, collect one reply.
// Takes host:port; gives whole reply texts.  A message reply is over at its
// TIME line; anything else after a quiet spell; a server that closes
// mid-reply gives what came, and the connection is then gone.
// Blocking, with timeouts in milliseconds; one thread.
#ifndef NAVWATCH_FETCH_H
#define NAVWATCH_FETCH_H

#include <string>

struct fetch_conn {
	std::string host;
	int port = 9968;
	int fd = -1;
};

// Splits "host:port" (or "host", or ":port"); false on a bad port.
bool fetch_parse_address(const std::string &arg, std::string *host, int *port);

// 0 when connected, -1 with the reason.
int fetch_connect(fetch_conn *c, int timeout_ms, std::string *err);
void fetch_close(fetch_conn *c);

// Sends request (a line end is added) and collects its reply.  0 with a
// reply; 1 when the server closed after sending part of it (*reply holds
// the part, the connection is closed); -1 when nothing usable came (the
// connection is closed, reason in *err).  Bytes left over from an earlier
// reply are dropped first and reported in *stale.
int fetch_request(fetch_conn *c, const char *request, std::string *reply, int timeout_ms,
		  std::string *err, std::string *stale);

#endif
