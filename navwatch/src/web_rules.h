// The web page's rules that need no server: where it listens (-H
// "[address:]port", IPv4), who may change things (-W: addresses or
// address/prefix-length networks, comma-separated or repeated; loopback
// when none are given), and what a change request must look like (POST or
// PUT, a JSON body of at most web_max_body bytes).
//
// Pure functions on values; callable from any thread.
#ifndef NAVWATCH_WEB_RULES_H
#define NAVWATCH_WEB_RULES_H

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

// Largest request body a change may carry.
constexpr size_t web_max_body = 4096;

// "8080" (every interface) or "192.168.1.5:8080"; port 0 takes a free one
// (web_port tells which).  0, or -1 with the
// reason in *err.
int web_parse_listen(const std::string &spec, sockaddr_in *addr, std::string *err);

// One network allowed to write, host byte order.
struct web_net {
	uint32_t addr = 0;
	uint32_t mask = 0;
};
// Each entry "a.b.c.d", "a.b.c.d/n", or several of them joined by commas.
// No entries: 127.0.0.0/8.  0, or -1 with the reason in *err.
int web_parse_writers(const std::vector<std::string> &specs, std::vector<web_net> *nets,
		      std::string *err);
// True when the client's address (IPv4, or IPv4 mapped into IPv6) lies in
// one of the networks.
bool web_writer_allowed(const std::vector<web_net> &nets, const struct sockaddr *client);

// What is wrong with a change request, or "" when it may go ahead.  The
// status to answer with goes to *status (403 for a refused address, else
// 400).  content_length is -1 when the request gave none.
std::string web_check_write(bool address_allowed, const std::string &method,
			    const char *content_type, long long content_length, int *status);

#endif
