// Client protocol server: any sequence of requests (each one packet of up
// to 1100 bytes) served by socket_loop for a daemon of 1 to 4 channels
// with messages of any text queued; every reply must be one of the
// protocol's forms and fit the reply buffer.  Also the status line and
// the message text formatted into buffers of any size.
// Input: channel count, number of queued messages, then messages and
// requests separated by NUL bytes.
#include "fuzz_support.h"
#include "skerrin_support.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool starts_with(const std::string &s, const char *prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int channels = 1 + data[0] % 4;
    const int messages = data[1] % 4;
    skerrin_all *o = fuzz::fresh_daemon(channels);
    auto parts = fuzz::split_parts(data + 2, size - 2, 16);

    // Messages whose text is the part's bytes, fed as the assembler would.
    int p = 0;
    for (int m = 0; m < messages; ++m, ++p) {
        MessageObj *msg = message_create(frequencys[m % 4], 1700000000 + m);
        fuzz::require(msg != nullptr);
        for (char c : std::string(" FA0") + char('0' + m) + "\n" + parts[p])
            message_addchr(msg, c, c == '*');
        msg->signal = -80.5;
        message_list_put(msg);
    }
    // Status lines of every channel into rooms of every small size.
    for (int i = 0; i < channels; ++i)
        for (int room = 0; room < 48; ++room) {
            std::vector<char> buf(room > 0 ? room : 1);
            socket_print_status(buf.data(), room, &o->channels[i]);
        }

    int sv[2];
    fuzz::require(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) == 0);
    // Replies beyond the socket's buffer are dropped instead of blocking.
    fcntl(sv[0], F_SETFL, O_NONBLOCK);
    int requests = 0;
    for (; p < static_cast<int>(parts.size()); ++p) {
        const std::string &req = parts[p];
        if (req.empty() && p + 1 == static_cast<int>(parts.size()))
            break;
        std::string packet = req.substr(0, 1100);
        if (send(sv[1], packet.data(), packet.size(), 0) < 0)
            break;
        ++requests;
    }
    shutdown(sv[1], SHUT_WR);
    const int end = socket_loop(sv[0], o, 0);
    fuzz::require(end <= 0);

    std::vector<char> reply(20000);
    for (;;) {
        ssize_t n = recv(sv[1], reply.data(), reply.size(), MSG_DONTWAIT);
        if (n <= 0)
            break;
        fuzz::require(n <= 10240);
        std::string r(reply.data(), static_cast<size_t>(n));
        fuzz::require(starts_with(r, "GETMSG:\n") || starts_with(r, "GETSTATUS:\n") ||
                      r == "ERR:Command not supported\n");
        if (starts_with(r, "GETSTATUS:\n"))
            fuzz::require(static_cast<int>(std::count(r.begin(), r.end(), '\n')) ==
                          channels + 1);
    }
    ::close(sv[0]);
    ::close(sv[1]);
    fuzz::drain_queue(10240 - 8);
    return 0;
}
