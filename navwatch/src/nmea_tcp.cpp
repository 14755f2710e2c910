/*
 * TCP listener and clients of the NMEA outputs: accepts, reads lines and
 * answers them, writes each client's bounded output without waiting, and
 * drops a client that stops reading or goes away.
 */
#include "nmea_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr int max_clients = 8;

std::string peer_name(const sockaddr_in &a)
{
    char host[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string label(const nmea_tcp &t)
{
    return "tcp:" + std::to_string(t.port);
}

// Closes at once; the entry goes at the next reap.
void drop(nmea_tcp &t, nmea_tcp_client &c, const std::string &why, const outlet_note &note)
{
    if (c.dead)
        return;
    c.dead = true;
    ::close(c.fd);
    c.fd = -1;
    outlet_say(note, label(t) + ": client " + c.peer + " " + why);
}

void push(nmea_tcp &t, nmea_tcp_client &c, std::string_view bytes, const outlet_note &note)
{
    if (c.dead)
        return;
    if (!c.out.push(bytes)) {
        drop(t, c, "dropped: it does not read its output", note);
        return;
    }
    if (c.out.flush(c.fd, true) != 0)
        drop(t, c, std::string("gone: ") + std::strerror(errno), note);
}

void accept_all(nmea_tcp &t, const outlet_note &note)
{
    for (;;) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        int fd = ::accept(t.listen_fd, reinterpret_cast<sockaddr *>(&a), &len);
        if (fd < 0)
            return;
        if (outlet_nonblocking(fd) < 0)
            continue;
        if (nmea_tcp_clients(t) >= max_clients) {
            ::close(fd);
            if (!t.refusing_said)
                outlet_say(note, label(t) + ": more than " + std::to_string(max_clients) +
                                     " clients, refusing " + peer_name(a));
            t.refusing_said = true;
            continue;
        }
        t.refusing_said = false;
        nmea_tcp_client c;
        c.fd = fd;
        c.peer = peer_name(a);
        outlet_say(note, label(t) + ": client " + c.peer + " connected");
        t.clients.push_back(std::move(c));
    }
}

} // namespace

bool nmea_parse_port(std::string_view s, int &port)
{
    int v = -1;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 0 || v > 65535)
        return false;
    port = v;
    return true;
}

bool nmea_tcp_listen(nmea_tcp &t, std::string_view port_text, std::string *err)
{
    int port = 0;
    if (!nmea_parse_port(port_text, port)) {
        *err = "bad port \"" + std::string(port_text) + "\"";
        return false;
    }
    int fd = outlet_nonblocking(::socket(AF_INET, SOCK_STREAM, 0));
    if (fd < 0) {
        *err = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        *err = "port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    t.listen_fd = fd;
    t.port = ntohs(a.sin_port);
    return true;
}

void nmea_tcp_close(nmea_tcp &t)
{
    if (t.listen_fd >= 0)
        ::close(t.listen_fd);
    t.listen_fd = -1;
    for (nmea_tcp_client &c : t.clients)
        if (c.fd >= 0)
            ::close(c.fd);
    t.clients.clear();
}

void nmea_tcp_send(nmea_tcp &t, std::string_view bytes, const outlet_note &note)
{
    for (nmea_tcp_client &c : t.clients)
        push(t, c, bytes, note);
}

void nmea_tcp_service(nmea_tcp &t, const nmea_tcp_answer &answer, const outlet_note &note)
{
    // Dropped earlier (from a send outside this walk): gone now.
    t.clients.erase(std::remove_if(t.clients.begin(), t.clients.end(),
                                   [](const nmea_tcp_client &c) { return c.dead; }),
                    t.clients.end());
    accept_all(t, note);
    // By index: an answer's callback may send to every client meanwhile,
    // which drops but never removes or adds one.
    for (size_t i = 0; i < t.clients.size(); ++i) {
        char buf[512];
        // A bounded share per turn, so that one chatty client cannot hold the loop.
        for (int reads = 0; reads < 16 && !t.clients[i].dead; ++reads) {
            ssize_t r = ::recv(t.clients[i].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (r <= 0) {
                drop(t, t.clients[i],
                     r == 0 ? "disconnected" : std::string("gone: ") + std::strerror(errno), note);
                break;
            }
            for (const std::string &line :
                 t.clients[i].in.feed(std::string_view(buf, static_cast<size_t>(r)))) {
                std::string reply = answer(line);
                if (!reply.empty())
                    push(t, t.clients[i], reply, note);
            }
        }
        nmea_tcp_client &c = t.clients[i];
        if (!c.dead && c.out.flush(c.fd, true) != 0)
            drop(t, c, std::string("gone: ") + std::strerror(errno), note);
    }
}

void nmea_tcp_pollfds(const nmea_tcp &t, std::vector<pollfd> &fds)
{
    if (t.listen_fd >= 0)
        fds.push_back({t.listen_fd, POLLIN, 0});
    for (const nmea_tcp_client &c : t.clients)
        if (!c.dead)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
}

int nmea_tcp_clients(const nmea_tcp &t)
{
    int n = 0;
    for (const nmea_tcp_client &c : t.clients)
        n += c.dead ? 0 : 1;
    return n;
}
