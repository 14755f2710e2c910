// -H, -W and the shape of change requests; see web_rules.h.
#include "web_rules.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cerrno>
#include <cstdlib>

namespace {

bool parse_port(const std::string &s, uint16_t *port)
{
	if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
		return false;
	long v = std::strtol(s.c_str(), nullptr, 10);
	if (v > 65535)
		return false;
	*port = static_cast<uint16_t>(v);
	return true;
}

bool parse_net(const std::string &s, web_net *net)
{
	std::string a = s;
	int bits = 32;
	size_t slash = s.find('/');
	if (slash != std::string::npos) {
		std::string b = s.substr(slash + 1);
		if (b.empty() || b.size() > 2 || b.find_first_not_of("0123456789") != std::string::npos)
			return false;
		bits = std::atoi(b.c_str());
		if (bits > 32)
			return false;
		a = s.substr(0, slash);
	}
	in_addr in {};
	if (inet_pton(AF_INET, a.c_str(), &in) != 1)
		return false;
	net->mask = bits == 0 ? 0 : 0xffffffffu << (32 - bits);
	net->addr = ntohl(in.s_addr) & net->mask;
	return true;
}

} // namespace

int web_parse_listen(const std::string &spec, sockaddr_in *addr, std::string *err)
{
	*addr = sockaddr_in {};
	addr->sin_family = AF_INET;
	addr->sin_addr.s_addr = htonl(INADDR_ANY);
	std::string port = spec;
	size_t colon = spec.rfind(':');
	if (colon != std::string::npos) {
		std::string host = spec.substr(0, colon);
		port = spec.substr(colon + 1);
		if (host == "localhost")
			host = "127.0.0.1";
		if (!host.empty() && inet_pton(AF_INET, host.c_str(), &addr->sin_addr) != 1) {
			*err = "'" + host + "' is not an IPv4 address";
			return -1;
		}
	}
	uint16_t p = 0;
	if (!parse_port(port, &p)) {
		*err = "'" + port + "' is not a port (0 to 65535)";
		return -1;
	}
	addr->sin_port = htons(p);
	return 0;
}

int web_parse_writers(const std::vector<std::string> &specs, std::vector<web_net> *nets,
		      std::string *err)
{
	nets->clear();
	for (const std::string &spec : specs) {
		size_t start = 0;
		while (start <= spec.size()) {
			size_t comma = spec.find(',', start);
			std::string item = spec.substr(start, comma == std::string::npos ? std::string::npos
											 : comma - start);
			web_net net;
			if (!parse_net(item, &net)) {
				*err = "-W: '" + item + "' is not an IPv4 address or address/bits";
				return -1;
			}
			nets->push_back(net);
			if (comma == std::string::npos)
				break;
			start = comma + 1;
		}
	}
	if (nets->empty())
		nets->push_back(web_net { 0x7f000000u, 0xff000000u });
	return 0;
}

bool web_writer_allowed(const std::vector<web_net> &nets, const struct sockaddr *client)
{
	if (!client)
		return false;
	uint32_t a = 0;
	if (client->sa_family == AF_INET) {
		a = ntohl(reinterpret_cast<const sockaddr_in *>(client)->sin_addr.s_addr);
	} else if (client->sa_family == AF_INET6) {
		const in6_addr &a6 = reinterpret_cast<const sockaddr_in6 *>(client)->sin6_addr;
		if (!IN6_IS_ADDR_V4MAPPED(&a6))
			return false;
		a = (uint32_t(a6.s6_addr[12]) << 24) | (uint32_t(a6.s6_addr[13]) << 16) |
		    (uint32_t(a6.s6_addr[14]) << 8) | a6.s6_addr[15];
	} else {
		return false;
	}
	for (const web_net &n : nets)
		if ((a & n.mask) == n.addr)
			return true;
	return false;
}

std::string web_check_write(bool address_allowed, const std::string &method,
			    const char *content_type, long long content_length, int *status)
{
	*status = 400;
	if (!address_allowed) {
		*status = 403;
		return "changes are not accepted from this address";
	}
	if (method != "POST" && method != "PUT")
		return "changes are made with POST or PUT";
	// A JSON type keeps plain cross-site forms out: a browser sends one
	// only after a preflight, which this server never grants.
	std::string type = content_type ? content_type : "";
	size_t semi = type.find(';');
	if (semi != std::string::npos)
		type.resize(semi);
	while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
		type.pop_back();
	if (strcasecmp(type.c_str(), "application/json") != 0)
		return "the body must be application/json";
	if (content_length < 0)
		return "the body's length must be given";
	if (content_length > static_cast<long long>(web_max_body))
		return "the body is too large (at most " + std::to_string(web_max_body) + " bytes)";
	return "";
}
