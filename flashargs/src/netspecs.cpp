// Network specifications: parsing, display, the dialog and the canonical
// rewrite at the front of the parameter text.
#include "netspecs.h"

#include "bootparams.h"
#include "console.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char *KEY_ETH = "tarvETH=";
constexpr const char *KEY_IP = "tarvIP=";
constexpr const char *KEY_HOST = "tarvHOST=";
constexpr int HOST_BITS_MAX = 16;

constexpr const char *RETRY_IP = "?!?: Illegal IP number (dotted dec.), try again!\n";

bool is_alnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool ends_word(char c) { return c == ' ' || c == '\0'; }

// Copies the run of characters accepted by `accept` at `p` into `out`
// (room for HOST_NAME_MAX_CHARS); false when the run is longer.
template <typename Accept> bool take_run(const char *&p, char *out, Accept accept)
{
    int n = 0;
    while (accept(static_cast<unsigned char>(*p))) {
        if (n == HOST_NAME_MAX_CHARS)
            return false;
        out[n++] = *p++;
    }
    out[n] = '\0';
    return true;
}

bool is_domain_char(unsigned char c) { return is_alnum(c) || c == '.'; }

void parse_eth_word(eth_spec *eth, const char *p)
{
    eth->present = 0;
    if (parse_ether(eth->mac, p, nullptr) == 0)
        eth->present = 1;
}

void parse_ip_word(ip_spec *ip, const char *p)
{
    ip->present = 0;
    if (parse_dotted(&ip->addr, p, &p) != 0 || *p != ',')
        return;
    ++p;
    if (!is_digit(static_cast<unsigned char>(*p)))
        return;
    char *end;
    unsigned long bits = std::strtoul(p, &end, 0);
    if (bits > HOST_BITS_MAX)
        return;
    ip->host_bits = static_cast<int>(bits);
    p = end;
    if (*p != ',')
        return;
    ++p;
    // A malformed gateway makes the whole word invalid.
    if (parse_dotted(&ip->gateway, p, nullptr) != 0)
        return;
    ip->present = 1;
}

void parse_host_word(host_spec *host, const char *p)
{
    host->present = 0;
    host->dns = 0;
    if (!take_run(p, host->hostname, is_alnum) || *p != '.')
        return;
    ++p;
    if (!take_run(p, host->domain, is_domain_char))
        return;
    if (*p == ',') {
        std::uint32_t dns;
        if (parse_dotted(&dns, p + 1, &p) != 0 || !ends_word(*p))
            return;
        host->dns = dns;
    } else if (!ends_word(*p)) {
        return;
    }
    host->present = 1;
}

// Lowest 1 bit of the mask (32 when none) and whether every bit above it
// is 1.
bool check_mask(std::uint32_t mask, int *host_bits)
{
    int lowest = 32;
    for (int i = 0; i < 32; ++i) {
        if ((mask >> i) & 1u) {
            lowest = i;
            break;
        }
    }
    *host_bits = lowest;
    return lowest == 32 || (mask >> lowest) == (0xFFFFFFFFu >> lowest);
}

bool valid_name(const std::string &line, bool (*accept)(unsigned char))
{
    if (line.empty() || line.size() > HOST_NAME_MAX_CHARS)
        return false;
    for (char c : line)
        if (!accept(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// One dialog on the given streams; `ended` is set when the input runs out.
struct dialog {
    FILE *in;
    FILE *out;
    bool ended = false;

    void say(const char *s) { std::fputs(s, out); }

    // Reads an answer line; false at the end of the input.
    bool answer(const char *prompt, std::string &line, line_result &result)
    {
        say(prompt);
        std::fflush(out);
        result = read_line(in, line);
        if (result == LINE_EOF) {
            say("\n");
            ended = true;
            return false;
        }
        return true;
    }

    // The y/n question of a section; true to go on editing it.
    bool wants(const char *what, int present)
    {
        std::fprintf(out, "Do you want to %s the %s specs? [y/n] >",
                     present ? "change" : "enter", what);
        std::string line;
        line_result result;
        return answer("", line, result) && !line.empty() && line[0] == 'y';
    }

    // Prompts until `accept` takes the answer; an empty line on the first
    // try keeps the old value. False at the end of the input.
    template <typename Accept>
    bool ask(const char *prompt, const char *retry, Accept accept, bool *kept = nullptr)
    {
        for (bool first = true;; first = false) {
            std::string line;
            line_result result;
            if (!answer(prompt, line, result))
                return false;
            if (first && result == LINE_OK && line.empty()) {
                if (kept != nullptr)
                    *kept = true;
                return true;
            }
            if (result == LINE_OK && accept(line)) {
                if (kept != nullptr)
                    *kept = false;
                return true;
            }
            say(retry);
        }
    }

    bool ethernet_section(int mode, eth_spec &eth);
    bool ip_section(int mode, ip_spec &ip);
    bool host_section(int mode, host_spec &host);
};

bool dialog::ethernet_section(int mode, eth_spec &eth)
{
    say("        --o TARV ethernet address specs  o--\n");
    for (;;) {
        if (eth.present) {
            say("Ethernet number .............: ");
            print_ether(eth.mac, out);
            say("\n");
        } else {
            say("   ** No valid ethernet specification found **\n");
        }
        if (mode != NET_SPECS_EDIT)
            return true;
        if (!wants("etheraddr", eth.present))
            return !ended;
        bool ok = ask("enter Ethernet number .......> ",
                      "?!?: Illegal Ethernet number (colon-separated hex), try again!\n",
                      [&](const std::string &line) {
                          unsigned char mac[6];
                          if (parse_ether(mac, line.c_str(), nullptr) != 0)
                              return false;
                          std::memcpy(eth.mac, mac, sizeof mac);
                          return true;
                      });
        if (!ok)
            return false;
        // An address whose first five bytes are 0 counts as none.
        eth.present = 0;
        for (int i = 0; i < 5; ++i)
            if (eth.mac[i] != 0)
                eth.present = 1;
    }
}

bool dialog::ip_section(int mode, ip_spec &ip)
{
    say("        --o TARV board IP network specs  o--\n");
    for (;;) {
        if (ip.present) {
            say("IP number   (eth0) ..........: ");
            print_dotted(ip.addr, out);
            say("\nSubnet mask (eth0) ..........: ");
            print_dotted(mask_from_host_bits(ip.host_bits), out);
            say("\nDefault gateway .............: ");
            print_dotted(ip.gateway, out);
            say("\n");
        } else {
            say("   ** No valid eth0 network specification found **\n");
        }
        if (mode != NET_SPECS_EDIT)
            return true;
        if (!wants("IP network", ip.present))
            return !ended;

        auto dotted_into = [](std::uint32_t &target) {
            return [&target](const std::string &line) {
                std::uint32_t value;
                if (parse_dotted(&value, line.c_str(), nullptr) != 0)
                    return false;
                target = value;
                return true;
            };
        };
        std::uint32_t mask = mask_from_host_bits(ip.host_bits);
        if (!ask("enter IP number (eth0) .......> ", RETRY_IP, dotted_into(ip.addr)) ||
            !ask("enter subnet mask (eth0) .....> ", RETRY_IP, dotted_into(mask)) ||
            !ask("enter default gateway .......> ", RETRY_IP, dotted_into(ip.gateway)))
            return false;

        // Both complaints are warnings: the values stay as entered.
        if (!check_mask(mask, &ip.host_bits)) {
            say("?!?: Illegal subnet mask specified, please correct!\n");
        } else {
            mask = mask_from_host_bits(ip.host_bits);
            if ((ip.gateway & mask) != (ip.addr & mask))
                say("?!?: IP address and default gateway on different nets!\n");
        }
        if (ip.addr != 0)
            ip.present = 1;
    }
}

bool dialog::host_section(int mode, host_spec &host)
{
    say("        --o TARV board host/domain specs o--\n");
    for (;;) {
        if (host.present) {
            std::fprintf(out, "hostname of TARV board ......: %s\n", host.hostname);
            std::fprintf(out, "domainname ..................: %s\n", host.domain);
            say("DNS IP number ...............: ");
            if (host.dns != 0)
                print_dotted(host.dns, out);
            else
                say(" <no DNS specified>");
            say("\n");
        } else {
            say("   ** No valid host/domain specification found **\n");
        }
        if (mode != NET_SPECS_EDIT)
            return true;
        if (!wants("host/domain", host.present))
            return !ended;

        auto name_into = [](char *target, bool (*accept)(unsigned char)) {
            return [target, accept](const std::string &line) {
                if (!valid_name(line, accept))
                    return false;
                std::memcpy(target, line.c_str(), line.size() + 1);
                return true;
            };
        };
        bool ok = ask("enter hostname ..............> ", "?!?: Illegal hostname, try again!\n",
                      name_into(host.hostname, is_alnum)) &&
                  ask("enter domainname ............> ",
                      "?!?: Illegal domainname, try again!\n",
                      name_into(host.domain, is_domain_char)) &&
                  ask("enter DNS IP ('n' for none)..> ", RETRY_IP,
                      [&](const std::string &line) {
                          if (line[0] == 'n') {
                              host.dns = 0;
                              return true;
                          }
                          std::uint32_t dns;
                          if (parse_dotted(&dns, line.c_str(), nullptr) != 0)
                              return false;
                          host.dns = dns;
                          return true;
                      });
        if (!ok)
            return false;
        say("----------------------------------------------\n");
        host.present = 1;
    }
}

// Removes every word starting at an occurrence of `key`, with the space
// that follows it.
void remove_key_words(std::string &text, const char *key)
{
    std::string::size_type at;
    while ((at = text.find(key)) != std::string::npos) {
        std::string::size_type end = text.find(' ', at);
        end = end == std::string::npos ? text.size() : end + 1;
        text.erase(at, end - at);
    }
}

std::string dotted_text(std::uint32_t v)
{
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%li.%li.%li.%li", long((v >> 24) & 255),
                  long((v >> 16) & 255), long((v >> 8) & 255), long(v & 255));
    return buffer;
}

// The present specifications in canonical form, then the rest of the text.
std::string rewritten_text(const char *text, const eth_spec &eth, const ip_spec &ip,
                           const host_spec &host)
{
    std::string rest(text, strnlen(text, PARAM_BLOCK_SIZE));
    if (eth.present)
        remove_key_words(rest, KEY_ETH);
    if (ip.present)
        remove_key_words(rest, KEY_IP);
    if (host.present)
        remove_key_words(rest, KEY_HOST);

    std::string front;
    if (eth.present) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%s%02X:%02X:%02X:%02X:%02X:%02X ", KEY_ETH,
                      eth.mac[0], eth.mac[1], eth.mac[2], eth.mac[3], eth.mac[4],
                      eth.mac[5]);
        front += buffer;
    }
    if (ip.present)
        front += KEY_IP + dotted_text(ip.addr) + "," + std::to_string(ip.host_bits) + "," +
                 dotted_text(ip.gateway) + " ";
    if (host.present) {
        front += std::string(KEY_HOST) + host.hostname + "." + host.domain;
        if (host.dns != 0)
            front += "," + dotted_text(host.dns);
        front += " ";
    }
    return front + rest;
}

} // namespace

std::uint32_t mask_from_host_bits(int host_bits)
{
    if (host_bits >= 32)
        return 0;
    if (host_bits <= 0)
        return 0xFFFFFFFFu;
    return 0xFFFFFFFFu << host_bits;
}

int parse_ether(unsigned char *bytes, const char *text, const char **rest)
{
    const char *p = text;
    for (int i = 0; i < 6; ++i) {
        char *end;
        unsigned long value = std::strtoul(p, &end, 16);
        if (end == p || value > 255)
            return -1;
        bytes[i] = static_cast<unsigned char>(value);
        p = end;
        if (i < 5) {
            if (*p != ':')
                return -1;
            ++p;
        }
    }
    if (rest != nullptr)
        *rest = p;
    return 0;
}

int parse_dotted(std::uint32_t *value, const char *text, const char **rest)
{
    const char *p = text;
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        char *end;
        unsigned long part = std::strtoul(p, &end, 0);
        if (end == p || part > 255)
            return -1;
        result = result * 256 + static_cast<std::uint32_t>(part);
        p = end;
        if (i < 3) {
            if (*p != '.')
                return -1;
            ++p;
        }
    }
    *value = result;
    if (rest != nullptr)
        *rest = p;
    return 0;
}

void print_ether(const unsigned char *bytes, FILE *out)
{
    std::fprintf(out, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                 bytes[3], bytes[4], bytes[5]);
}

void print_dotted(std::uint32_t value, FILE *out)
{
    std::fprintf(out, "%3li.%3li.%3li.%3li", long((value >> 24) & 255),
                 long((value >> 16) & 255), long((value >> 8) & 255), long(value & 255));
}

void find_net_specs(eth_spec *eth, ip_spec *ip, host_spec *host, const char *text)
{
    const char *at;
    if (eth != nullptr) {
        eth->present = 0;
        if ((at = std::strstr(text, KEY_ETH)) != nullptr)
            parse_eth_word(eth, at + std::strlen(KEY_ETH));
    }
    if (ip != nullptr) {
        ip->present = 0;
        if ((at = std::strstr(text, KEY_IP)) != nullptr)
            parse_ip_word(ip, at + std::strlen(KEY_IP));
    }
    if (host != nullptr) {
        host->present = 0;
        if ((at = std::strstr(text, KEY_HOST)) != nullptr)
            parse_host_word(host, at + std::strlen(KEY_HOST));
    }
}

int net_specs_dialog(int mode, char *text, FILE *in, FILE *out)
{
    eth_spec eth{};
    ip_spec ip{};
    host_spec host{};
    find_net_specs(&eth, &ip, &host, text);

    dialog d{in, out};
    if (!d.ethernet_section(mode, eth) || !d.ip_section(mode, ip) ||
        !d.host_section(mode, host))
        return -1;
    if (mode != NET_SPECS_EDIT)
        return 0;

    // Present specifications always move to the front in canonical form,
    // even when nothing was changed.
    std::string result = rewritten_text(text, eth, ip, host);
    if (result.size() > PARAM_TEXT_MAX) {
        std::fprintf(out,
                     "?!?: network specs not stored: the parameters would pass %zu "
                     "characters.\n",
                     PARAM_TEXT_MAX);
        return -2;
    }
    std::memcpy(text, result.c_str(), result.size() + 1);
    return 0;
}
