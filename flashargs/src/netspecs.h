// Network specifications in the boot parameters.
//
// Three parameter words carry the board's network set-up:
//   tarvETH=00:0A:1B:2C:3D:4E            ethernet address, six hex bytes
//   tarvIP=10.0.0.5,8,10.0.0.1           address, host-bit count (0..16), gateway
//   tarvHOST=name.domain[,10.0.0.1]      host name, domain, optional DNS server
// Addresses are 32-bit values with the first number in the top byte; the
// subnet mask is all ones shifted left by the host-bit count.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int NET_SPECS_SHOW = 1;
constexpr int NET_SPECS_EDIT = 2;
constexpr int HOST_NAME_MAX_CHARS = 63;

struct eth_spec {
    unsigned char mac[6]; // in text order
    int present;
};

struct ip_spec {
    std::uint32_t addr;
    int host_bits; // 0 bits at the low end of the subnet mask
    std::uint32_t gateway;
    int present;
};

struct host_spec {
    char hostname[HOST_NAME_MAX_CHARS + 1];
    char domain[HOST_NAME_MAX_CHARS + 1];
    std::uint32_t dns; // 0 = none
    int present;
};

// Shows the three specifications (mode NET_SPECS_SHOW) or shows, asks for
// and checks new values and rewrites them in canonical form at the front of
// `text`, a 2048-byte buffer (mode NET_SPECS_EDIT). Returns 0; -1 when the
// input ends inside the dialog and -2 when the rewritten text would pass
// 2047 characters, in both cases with `text` unchanged.
int net_specs_dialog(int mode, char *text, FILE *in = stdin, FILE *out = stdout);

// Parses the first occurrence of each given record's key in `text`; a
// record whose word is missing or malformed is left not present.
void find_net_specs(eth_spec *eth, ip_spec *ip, host_spec *host, const char *text);

// Six hex bytes separated by ':'; 0 on success, -1 on failure. `rest`
// (when given) receives where the parse stopped.
int parse_ether(unsigned char *bytes, const char *text, const char **rest);

// Four numbers (0x.. hex, 0.. octal, else decimal) of at most 255 separated
// by '.'; 0 on success, -1 on failure.
int parse_dotted(std::uint32_t *value, const char *text, const char **rest);

void print_ether(const unsigned char *bytes, FILE *out = stdout);
void print_dotted(std::uint32_t value, FILE *out = stdout);

// The subnet mask of a host-bit count (0 for 32 or more).
std::uint32_t mask_from_host_bits(int host_bits);
