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

enum fetch_result {
	FETCH_FAILED = -1,  // nothing usable; the connection is closed (*err says why)
	FETCH_REPLY = 0,    // *reply holds a reply
	FETCH_CUT = 1,      // the server closed after part of a reply (*reply holds it)
	FETCH_SILENT = 2,   // no byte within timeout_ms; the connection stays (some
			    // servers do not answer a GETMSG they have nothing for)
};

// Sends request (a line end is added) and collects its reply.  Bytes that
// arrived since the last reply (a late answer) are handed back in *stale
// first.
fetch_result fetch_request(fetch_conn *c, const char *request, std::string *reply, int timeout_ms,
			   std::string *err, std::string *stale);

#endif
