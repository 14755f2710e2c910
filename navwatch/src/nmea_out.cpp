/*
 * NMEA destinations: TCP listeners with their clients, UDP senders and
 * serial lines, all non-blocking and driven by the caller's poll loop.
 * Takes NRX messages and sentence lines; gives them to every destination
 * and answers the NRM queries and commands that come back.
 */
#include "nmea_out.h"

#include "nmea_tcp.h"
#include "outlet.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

struct udp_dest {
    int fd = -1;
    std::string label;
    sockaddr_storage addr{};
    socklen_t addr_len = 0;
    bool said = false;
};

struct dest {
    enum kind_t { tcp, udp, serial } kind = tcp;
    nmea_tcp t;
    udp_dest u;
    outlet_device s;
    bool full_said = false;
};

} // namespace

struct nmea_out {
    nmea_out_callbacks cb;
    std::vector<dest> dests;
    int seq = 0;
};

void nmea_out_deleter::operator()(nmea_out *out) const
{
    for (dest &d : out->dests) {
        nmea_tcp_close(d.t);
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

bool add_udp(dest &d, std::string_view spec, std::string *err)
{
    const size_t colon = spec.rfind(':');
    int port = 0;
    if (colon == std::string_view::npos || colon == 0 || !nmea_parse_port(spec.substr(colon + 1), port) ||
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
    int fd = outlet_nonblocking(::socket(AF_INET, SOCK_DGRAM, 0));
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
    // A device name may hold ':' itself (/dev/serial/by-path/...): only
    // digits (or nothing) after the last one are a baud rate.
    const size_t colon = spec.rfind(':');
    if (colon != std::string_view::npos &&
        spec.find_first_not_of("0123456789", colon + 1) == std::string_view::npos) {
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
        ok = nmea_tcp_listen(d.t, s.substr(4), err);
    } else if (s.rfind("udp:", 0) == 0) {
        d.kind = dest::udp;
        ok = add_udp(d, s.substr(4), err);
    } else if (s.rfind("serial:", 0) == 0) {
        d.kind = dest::serial;
        ok = add_serial(d, s.substr(7), err);
    } else {
        *err = "unknown destination (tcp:PORT, udp:HOST:PORT or serial:DEVICE[:BAUD])";
    }
    if (!ok)
        return -1;
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
        n += d.kind == dest::tcp ? nmea_tcp_clients(d.t) : 0;
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
            nmea_tcp_send(d.t, all, out.cb.note);
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
            nmea_tcp_pollfds(d.t, fds);
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
            nmea_tcp_service(
                d.t, [&out](const std::string &line) { return answer(out, line); }, out.cb.note);
        else if (d.kind == dest::serial)
            service_serial(out, d.s);
    }
}
