// NMEA destinations: a TCP client that never reads is dropped while another
// keeps receiving and is answered; UDP datagrams; a serial line (a pseudo
// terminal) answered and then gone, and a device that is not there.
#include "nmea_out.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr auto deadline = std::chrono::seconds(60);

// Serves `out` until `done` holds or the deadline passes; `each` runs
// every turn (to read the test's own sockets).
bool pump(nmea_out &out, const std::function<bool()> &done, const std::function<void()> &each = {})
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (each)
            each();
        if (done())
            return true;
        std::vector<pollfd> fds = nmea_out_pollfds(out);
        ::poll(fds.data(), fds.size(), 20);
        nmea_out_service(out);
    }
    return done();
}

int connect_to(int port, int rcvbuf = 0)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (rcvbuf > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whole lines (CR LF kept) read so far from a descriptor.
struct line_sink {
    explicit line_sink(int f) : fd(f) {}
    int fd;
    std::string partial;
    std::vector<std::string> lines;
    void drain()
    {
        char buf[4096];
        for (;;) {
            ssize_t r = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (r < 0 && errno == ENOTSOCK)
                r = ::read(fd, buf, sizeof buf); // the pseudo terminal, non-blocking
            if (r <= 0)
                break;
            partial.append(buf, static_cast<size_t>(r));
            for (size_t p; (p = partial.find('\n')) != std::string::npos;) {
                lines.push_back(partial.substr(0, p + 1));
                partial.erase(0, p + 1);
            }
        }
    }
};

// The NRX messages in a run of lines, in order.
std::vector<nmea_nrx_read> messages_in(const std::vector<std::string> &lines)
{
    std::vector<nmea_nrx_read> msgs;
    std::vector<std::string> group;
    for (const std::string &l : lines) {
        if (l.rfind("$CRNRX,", 0) != 0)
            continue;
        group.push_back(l);
        if (l.compare(7, 3, l.substr(11, 3)) == 0) { // count == number: the last one
            nmea_nrx_read r;
            if (nmea_nrx_parse(group, r))
                msgs.push_back(r);
            group.clear();
        }
    }
    return msgs;
}

nmea_nrx_msg message(int n)
{
    nmea_nrx_msg m;
    m.freq_khz = 518;
    m.ident = "GE" + std::to_string(10 + n % 90);
    m.time = 1796790075 + n;
    m.text = "MESSAGE " + std::to_string(n) + "\n" + std::string(400, 'W') + "\nNNNN";
    m.correct = true;
    return m;
}

struct fixture_cb {
    nmea_masks masks;
    std::vector<nmea_nrm> configured;
    std::vector<std::string> notes;
    nmea_out_callbacks callbacks()
    {
        nmea_out_callbacks cb;
        cb.masks = [this] { return masks; };
        cb.configure = [this](const nmea_nrm &n) {
            configured.push_back(n);
            masks.area[n.freq_index - 1] = n.area;
        };
        cb.note = [this](const std::string &t) { notes.push_back(t); };
        return cb;
    }
    int notes_with(const std::string &word) const
    {
        int n = 0;
        for (const std::string &t : notes)
            n += t.find(word) != std::string::npos;
        return n;
    }
};

} // namespace

TEST(NmeaOut, StalledTcpClientIsDroppedWhileAnotherIsServedAndAnswered)
{
    fixture_cb f;
    nmea_out_ptr out = nmea_out_new(f.callbacks());
    std::string err;
    const int d = nmea_out_add(*out, "tcp:0", &err);
    ASSERT_GE(d, 0) << err;
    EXPECT_EQ(nmea_out_add(*out, "tcp:x", &err), -1);
    EXPECT_EQ(nmea_out_add(*out, "nmea:1", &err), -1);
    const int port = nmea_out_local_port(*out, d);
    ASSERT_GT(port, 0);

    const int stalled = connect_to(port, 2048);
    line_sink b{connect_to(port)};
    ASSERT_GE(stalled, 0);
    ASSERT_GE(b.fd, 0);
    ASSERT_TRUE(pump(*out, [&] { return nmea_out_clients(*out) == 2; }));

    const std::string query = nmea_sentence("ECCRQ,NRM");
    ASSERT_EQ(::send(b.fd, query.data(), query.size(), 0), static_cast<ssize_t>(query.size()));
    ASSERT_TRUE(pump(*out, [&] { return b.lines.size() >= 9; }, [&] { b.drain(); }));
    nmea_nrm cmd;
    cmd.function = 2;
    cmd.freq_index = 1;
    cmd.area = 0x5;
    cmd.type = 0x3ffffff;
    cmd.status = 'C';
    const std::string command = nmea_nrm_sentence(cmd);
    ASSERT_EQ(::send(b.fd, command.data(), command.size(), 0), static_cast<ssize_t>(command.size()));
    ASSERT_TRUE(pump(*out, [&] { return b.lines.size() >= 12; }, [&] { b.drain(); }));
    ASSERT_EQ(f.configured.size(), 1u);
    EXPECT_EQ(f.configured[0].area, 0x5u);
    for (size_t i = 9; i < 12; ++i)
        EXPECT_EQ(b.lines[i].rfind("$CRNRM,", 0), 0u) << b.lines[i];
    EXPECT_NE(b.lines[9].find(",1,00000005,03FFFFFF,R*"), std::string::npos) << b.lines[9];
    b.lines.clear();

    // The stalled client fills its buffers and is dropped; b misses nothing.
    int sent = 0;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (nmea_out_clients(*out) == 2 && std::chrono::steady_clock::now() < end) {
        nmea_out_message(*out, message(sent++));
        nmea_out_service(*out);
        b.drain();
    }
    ASSERT_EQ(nmea_out_clients(*out), 1);
    EXPECT_EQ(f.notes_with("does not read"), 1);
    for (int i = 0; i < 3; ++i)
        nmea_out_message(*out, message(sent++));
    ASSERT_TRUE(pump(*out, [&] { return static_cast<int>(messages_in(b.lines).size()) >= sent; },
                     [&] { b.drain(); }));
    const auto got = messages_in(b.lines);
    ASSERT_EQ(static_cast<int>(got.size()), sent);
    for (int i = 0; i < sent; ++i) {
        EXPECT_EQ(got[i].seq, i % 100);
        EXPECT_EQ(got[i].text.substr(0, 8 + std::to_string(i).size()), "MESSAGE " + std::to_string(i));
    }
    ::close(stalled);
    ::close(b.fd);
}

TEST(NmeaOut, UdpCarriesOneSentencePerDatagram)
{
    int rx = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(rx, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(rx, reinterpret_cast<sockaddr *>(&a), &len), 0);

    fixture_cb f;
    nmea_out_ptr out = nmea_out_new(f.callbacks());
    std::string err;
    ASSERT_GE(nmea_out_add(*out, "udp:127.0.0.1:" + std::to_string(ntohs(a.sin_port)), &err), 0)
        << err;
    EXPECT_EQ(nmea_out_add(*out, "udp:127.0.0.1", &err), -1);
    const nmea_nrx_msg m = message(7);
    const size_t expected = nmea_nrx_sentences(m, 0).size();
    nmea_out_message(*out, m);

    std::vector<std::string> datagrams;
    pollfd p{rx, POLLIN, 0};
    while (datagrams.size() < expected && ::poll(&p, 1, 60000) == 1) {
        char buf[512];
        ssize_t r = ::recv(rx, buf, sizeof buf, 0);
        ASSERT_GT(r, 0);
        datagrams.emplace_back(buf, static_cast<size_t>(r));
    }
    nmea_nrx_read r;
    ASSERT_TRUE(nmea_nrx_parse(datagrams, r));
    EXPECT_EQ(r.ident, m.ident);
    EXPECT_EQ(r.text.substr(0, 10), "MESSAGE 7\r");
    ::close(rx);
}

TEST(NmeaOut, SerialLineIsSetAnsweredAndMayGo)
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);

    fixture_cb f;
    nmea_out_ptr out = nmea_out_new(f.callbacks());
    std::string err;
    EXPECT_EQ(nmea_out_add(*out, "serial:" + slave + ":1234", &err), -1);
    EXPECT_EQ(nmea_out_add(*out, "serial:" + slave + ":", &err), -1);
    ASSERT_GE(nmea_out_add(*out, "serial:" + slave + ":9600", &err), 0) << err;
    int check = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ASSERT_EQ(::tcgetattr(check, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_lflag & ECHO, 0u);
    ::close(check);

    line_sink m{master};
    const std::string query = nmea_sentence("IICRQ,NRM");
    ASSERT_EQ(::write(master, query.data(), query.size()), static_cast<ssize_t>(query.size()));
    nmea_out_message(*out, message(1));
    ASSERT_TRUE(pump(*out, [&] { return m.lines.size() >= 9 + 2 && messages_in(m.lines).size() == 1; },
                     [&] { m.drain(); }));
    EXPECT_EQ(m.lines.size() - nmea_nrx_sentences(message(1), 0).size(), 9u);

    // The line goes away: said once, retried, nothing waits on it.
    ::close(master);
    ASSERT_TRUE(pump(*out, [&] { return f.notes_with("serial:") == 1; }));
    for (int i = 0; i < 50; ++i)
        nmea_out_message(*out, message(i));
    nmea_out_service(*out);
    EXPECT_EQ(f.notes_with("serial:"), 1);
    const int wait = nmea_out_timeout_ms(*out);
    EXPECT_TRUE(wait >= 0 && wait <= 5001) << wait;

    fixture_cb g;
    nmea_out_ptr none = nmea_out_new(g.callbacks());
    ASSERT_GE(nmea_out_add(*none, "serial:/nonexistent/ttyNMEA", &err), 0);
    nmea_out_message(*none, message(2));
    nmea_out_service(*none);
    EXPECT_EQ(g.notes_with("cannot open"), 1);
}
