/*
 * NMEA destinations: TCP listeners with their clients, UDP senders and
 * serial lines, all non-blocking and driven by the caller's poll loop.
 * Takes NRX messages and sentence lines; gives them to every destination
 * and answers the NRM queries and commands that come back.
 */
#include "nmea_out.h"

#include "outlet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr int max_clients = 8;

struct tcp_client {
    int fd = -1;
    std::string peer;
    outlet_buffer out;
    line_reader in;
    bool dead = false;
};

struct tcp_dest {
    int listen_fd = -1;
    int port = 0;
    std::vector<tcp_client> clients;
    bool refusing_said = false;
};

struct udp_dest {
    int fd = -1;
    std::string label;
    sockaddr_storage addr{};
    socklen_t addr_len = 0;
    bool said = false;
};

struct dest {
    enum kind_t { tcp, udp, serial } kind;
    tcp_dest t;
    udp_dest u;
    outlet_device s;
    bool full_said = false;
};

bool parse_port(std::string_view s, int &port)
{
    int v = -1;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 0 || v > 65535)
        return false;
    port = v;
    return true;
}

std::string peer_name(const sockaddr_in &a)
{
    char host[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

} // namespace

struct nmea_out {
    nmea_out_callbacks cb;
    std::vector<dest> dests;
    int seq = 0;
};

void nmea_out_deleter::operator()(nmea_out *out) const
{
    for (dest &d : out->dests) {
        if (d.t.listen_fd >= 0)
            ::close(d.t.listen_fd);
        for (tcp_client &c : d.t.clients)
            if (c.fd >= 0)
                ::close(c.fd);
        if (d.u.fd >= 0)
            ::close(d.u.fd);
        outlet_device_close(d.s);
    }
    delete out;
}

nmea_out_ptr nmea_out_new(nmea_out_callbacks callbacks)
{
    nmea_out_ptr out(new nmea_out);
    out->cb = std::move(callbacks);
    return out;
}

namespace {

bool add_tcp(dest &d, std::string_view port_text, std::string *err)
{
    int port = 0;
    if (!parse_port(port_text, port)) {
        *err = "bad port \"" + std::string(port_text) + "\"";
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
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
    d.t.listen_fd = fd;
    d.t.port = ntohs(a.sin_port);
    return true;
}

bool add_udp(dest &d, std::string_view spec, std::string *err)
{
    const size_t colon = spec.rfind(':');
    int port = 0;
    if (colon == std::string_view::npos || colon == 0 || !parse_port(spec.substr(colon + 1), port) ||
        port == 0) {
        *err = "expected udp:HOST:PORT";
        return false;
    }
    const std::string host(spec.substr(0, colon));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *res = nullptr;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res);
    if (rc != 0 || res == nullptr) {
        *err = "host \"" + host + "\": " + ::gai_strerror(rc);
        return false;
    }
    std::memcpy(&d.u.addr, res->ai_addr, res->ai_addrlen);
    d.u.addr_len = res->ai_addrlen;
    ::freeaddrinfo(res);
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    d.u.fd = fd;
    d.u.label = "udp:" + std::string(spec);
    return true;
}

bool add_serial(dest &d, std::string_view spec, std::string *err)
{
    std::string_view device = spec;
    int baud = 4800;
    const size_t colon = spec.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view b = spec.substr(colon + 1);
        auto r = std::from_chars(b.data(), b.data() + b.size(), baud);
        if (b.empty() || r.ec != std::errc() || r.ptr != b.data() + b.size() ||
            outlet_speed(baud) == 0) {
            *err = "unsupported baud rate \"" + std::string(b) +
                   "\" (1200 to 115200, 4800 by default)";
            return false;
        }
        device = spec.substr(0, colon);
    }
    if (device.empty()) {
        *err = "expected serial:DEVICE[:BAUD]";
        return false;
    }
    d.s.path = std::string(device);
    d.s.label = "serial:" + d.s.path;
    d.s.flags = O_RDWR;
    d.s.baud = baud;
    return true;
}

void say(nmea_out &out, const std::string &text)
{
    outlet_say(out.cb.note, text);
}

void drop_client(nmea_out &out, tcp_dest &t, tcp_client &c, const std::string &why)
{
    if (c.dead)
        return;
    c.dead = true;
    ::close(c.fd);
    c.fd = -1;
    say(out, "tcp:" + std::to_string(t.port) + ": client " + c.peer + " " + why);
}

void push_client(nmea_out &out, tcp_dest &t, tcp_client &c, std::string_view bytes)
{
    if (c.dead)
        return;
    if (!c.out.push(bytes)) {
        drop_client(out, t, c, "dropped: it does not read its output");
        return;
    }
    if (c.out.flush(c.fd, true) != 0)
        drop_client(out, t, c, std::string("gone: ") + std::strerror(errno));
}

// Only between walks over the clients: callbacks may send while we walk.
void reap(tcp_dest &t)
{
    t.clients.erase(std::remove_if(t.clients.begin(), t.clients.end(),
                                   [](const tcp_client &c) { return c.dead; }),
                    t.clients.end());
}

// The reply to one incoming line, empty when it asks for nothing.
std::string answer(nmea_out &out, const std::string &line)
{
    const nmea_request req = nmea_parse_request(line);
    if (req.kind == nmea_request_kind::none || !out.cb.masks)
        return {};
    if (req.kind == nmea_request_kind::configure && out.cb.configure)
        out.cb.configure(req.nrm);
    std::string reply;
    for (const std::string &s : nmea_nrm_report(out.cb.masks(), req.nrm.freq_index))
        reply += s;
    return reply;
}

void service_tcp(nmea_out &out, tcp_dest &t)
{
    for (;;) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        int fd = ::accept4(t.listen_fd, reinterpret_cast<sockaddr *>(&a), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            break;
        if (static_cast<int>(t.clients.size()) >= max_clients) {
            ::close(fd);
            if (!t.refusing_said)
                say(out, "tcp:" + std::to_string(t.port) + ": more than " +
                             std::to_string(max_clients) + " clients, refusing " + peer_name(a));
            t.refusing_said = true;
            continue;
        }
        t.refusing_said = false;
        tcp_client c;
        c.fd = fd;
        c.peer = peer_name(a);
        say(out, "tcp:" + std::to_string(t.port) + ": client " + c.peer + " connected");
        t.clients.push_back(std::move(c));
    }
    for (size_t i = 0; i < t.clients.size(); ++i) {
        char buf[512];
        for (;;) {
            tcp_client &c = t.clients[i];
            if (c.dead)
                break;
            ssize_t r = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (r <= 0) {
                drop_client(out, t, c, r == 0 ? "disconnected"
                                              : std::string("gone: ") + std::strerror(errno));
                break;
            }
            for (const std::string &line : c.in.feed(std::string_view(buf, static_cast<size_t>(r)))) {
                std::string reply = answer(out, line);
                if (!reply.empty())
                    push_client(out, t, t.clients[i], reply);
            }
        }
        tcp_client &c = t.clients[i];
        if (!c.dead && c.out.flush(c.fd, true) != 0)
            drop_client(out, t, c, std::string("gone: ") + std::strerror(errno));
    }
    reap(t);
}

void service_serial(nmea_out &out, outlet_device &s)
{
    outlet_device_open(s, out.cb.note);
    for (const std::string &line : outlet_device_read(s, out.cb.note)) {
        std::string reply = answer(out, line);
        if (!reply.empty())
            s.out.push(reply);
    }
    outlet_device_flush(s, out.cb.note);
}

} // namespace

int nmea_out_add(nmea_out &out, const std::string &spec, std::string *err)
{
    std::string ignored;
    if (err == nullptr)
        err = &ignored;
    dest d;
    bool ok = false;
    const std::string_view s(spec);
    if (s.rfind("tcp:", 0) == 0) {
        d.kind = dest::tcp;
        ok = add_tcp(d, s.substr(4), err);
    } else if (s.rfind("udp:", 0) == 0) {
        d.kind = dest::udp;
        ok = add_udp(d, s.substr(4), err);
    } else if (s.rfind("serial:", 0) == 0) {
        d.kind = dest::serial;
        ok = add_serial(d, s.substr(7), err);
    } else {
        *err = "unknown destination (tcp:PORT, udp:HOST:PORT or serial:DEVICE[:BAUD])";
    }
    if (!ok) {
        *err = spec + ": " + *err;
        return -1;
    }
    out.dests.push_back(std::move(d));
    if (out.dests.back().kind == dest::serial)
        outlet_device_open(out.dests.back().s, out.cb.note);
    return static_cast<int>(out.dests.size()) - 1;
}

int nmea_out_local_port(const nmea_out &out, int i)
{
    if (i < 0 || i >= static_cast<int>(out.dests.size()) || out.dests[i].kind != dest::tcp)
        return -1;
    return out.dests[i].t.port;
}

int nmea_out_clients(const nmea_out &out)
{
    int n = 0;
    for (const dest &d : out.dests)
        for (const tcp_client &c : d.t.clients)
            n += c.dead ? 0 : 1;
    return n;
}

void nmea_out_lines(nmea_out &out, const std::vector<std::string> &lines)
{
    std::string all;
    for (const std::string &l : lines)
        all += l;
    for (dest &d : out.dests) {
        switch (d.kind) {
        case dest::tcp:
            for (tcp_client &c : d.t.clients)
                push_client(out, d.t, c, all);
            break;
        case dest::udp:
            for (const std::string &l : lines) {
                ssize_t w = ::sendto(d.u.fd, l.data(), l.size(), MSG_DONTWAIT,
                                     reinterpret_cast<const sockaddr *>(&d.u.addr), d.u.addr_len);
                if (w < 0 && !d.u.said) {
                    say(out, d.u.label + ": " + std::strerror(errno));
                    d.u.said = true;
                } else if (w >= 0) {
                    d.u.said = false;
                }
            }
            break;
        case dest::serial:
            if (!d.s.out.push(all)) {
                if (!d.full_said)
                    say(out, d.s.label + ": output waiting is full, messages are dropped");
                d.full_said = true;
            } else {
                d.full_said = false;
            }
            outlet_device_flush(d.s, out.cb.note);
            break;
        }
    }
}

void nmea_out_message(nmea_out &out, const nmea_nrx_msg &msg)
{
    nmea_out_lines(out, nmea_nrx_sentences(msg, out.seq));
    out.seq = (out.seq + 1) % 100;
}

std::vector<pollfd> nmea_out_pollfds(const nmea_out &out)
{
    std::vector<pollfd> fds;
    for (const dest &d : out.dests) {
        if (d.kind == dest::tcp) {
            fds.push_back({d.t.listen_fd, POLLIN, 0});
            for (const tcp_client &c : d.t.clients)
                if (!c.dead)
                    fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        } else if (d.kind == dest::serial && d.s.fd >= 0) {
            short ev = static_cast<short>((d.s.readable ? POLLIN : 0) | (d.s.out.empty() ? 0 : POLLOUT));
            if (ev != 0)
                fds.push_back({d.s.fd, ev, 0});
        }
    }
    return fds;
}

int nmea_out_timeout_ms(const nmea_out &out)
{
    int best = -1;
    for (const dest &d : out.dests)
        if (d.kind == dest::serial) {
            int t = outlet_device_timeout_ms(d.s);
            if (t >= 0 && (best < 0 || t < best))
                best = t;
        }
    return best;
}

void nmea_out_service(nmea_out &out)
{
    for (dest &d : out.dests) {
        if (d.kind == dest::tcp)
            service_tcp(out, d.t);
        else if (d.kind == dest::serial)
            service_serial(out, d.s);
    }
}
