// Network specification words: the ethernet, dotted-address and whole-word
// parsers on any text, then the network dialog on that parameter text in
// show and edit mode with any answers.  Input: the parameter text, a NUL
// byte, then the answer lines.
#include "fuzz_support.h"
#include "netspecs.h"
#include "bootparams.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using fuzz::check;

namespace {

FILE *null_out()
{
    static FILE *out = std::fopen("/dev/null", "w");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto parts = fuzz::split_parts(data, size, 2);
    const std::string &word = parts[0];

    // The parsers get a heap copy of exactly the text's size.
    std::vector<char> exact(word.begin(), word.end());
    exact.push_back('\0');
    unsigned char mac[6];
    const char *rest = nullptr;
    if (parse_ether(mac, exact.data(), &rest) == 0)
        check(rest >= exact.data() && rest <= exact.data() + std::strlen(exact.data()));
    std::uint32_t value = 0;
    rest = nullptr;
    if (parse_dotted(&value, exact.data(), &rest) == 0)
        check(rest >= exact.data() && rest <= exact.data() + std::strlen(exact.data()));

    eth_spec eth{};
    ip_spec ip{};
    host_spec host{};
    find_net_specs(&eth, &ip, &host, exact.data());
    if (host.present) {
        check(strnlen(host.hostname, sizeof host.hostname) < sizeof host.hostname);
        check(strnlen(host.domain, sizeof host.domain) < sizeof host.domain);
    }
    if (ip.present)
        check(ip.host_bits >= 0 && ip.host_bits <= 16);

    // The dialog works on the editor's 2048-byte buffer.
    char text[PARAM_BLOCK_SIZE] = {};
    std::memcpy(text, word.data(), std::min(word.size(), PARAM_TEXT_MAX));
    char before[PARAM_BLOCK_SIZE];
    std::memcpy(before, text, sizeof text);

    FILE *answers = fmemopen(parts[1].data(), parts[1].size() + (parts[1].empty() ? 1 : 0),
                             "r");
    check(answers != nullptr);
    net_specs_dialog(NET_SPECS_SHOW, text, answers, null_out());
    check(std::memcmp(before, text, sizeof text) == 0);
    net_specs_dialog(NET_SPECS_EDIT, text, answers, null_out());
    check(strnlen(text, sizeof text) <= PARAM_TEXT_MAX);
    std::fclose(answers);
    return 0;
}
