/*
 * Byte outlets: bounded buffers for non-blocking descriptors, line
 * assembly, and devices reopened every 5 s while they are gone.
 */
#include "outlet.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr auto retry_interval = std::chrono::seconds(5);

} // namespace

void outlet_say(const outlet_note &note, const std::string &text)
{
    if (note)
        note(text);
    else
        std::fprintf(stderr, "navwatch: %s\n", text.c_str());
}

bool outlet_buffer::push(std::string_view bytes)
{
    if (pending() + bytes.size() > limit)
        return false;
    if (sent > 0 && sent == data.size()) {
        data.clear();
        sent = 0;
    }
    data.append(bytes);
    return true;
}

int outlet_buffer::flush(int fd, bool socket)
{
    while (!empty()) {
        const char *p = data.data() + sent;
        const size_t n = pending();
        ssize_t w = socket ? ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT) : ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return -1;
        }
        sent += static_cast<size_t>(w);
    }
    // Written bytes are dropped now and then, not on every partial write.
    if (sent == data.size() || sent > limit) {
        data.erase(0, sent);
        sent = 0;
    }
    return 0;
}

std::vector<std::string> line_reader::feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (char c : bytes) {
        if (c == '\n') {
            if (!skipping)
                lines.push_back(std::move(partial));
            partial.clear();
            skipping = false;
        } else if (!skipping) {
            if (partial.size() >= max) {
                partial.clear();
                skipping = true;
            } else {
                partial += c;
            }
        }
    }
    return lines;
}

int outlet_nonblocking(int fd)
{
    if (fd < 0)
        return -1;
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) != 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

unsigned outlet_speed(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
    }
}

void outlet_device_close(outlet_device &dev)
{
    if (dev.fd >= 0)
        ::close(dev.fd);
    dev.fd = -1;
    dev.readable = false;
    dev.in = line_reader{};
}

void outlet_device_fail(outlet_device &dev, const outlet_note &note, const std::string &why)
{
    outlet_device_close(dev);
    dev.next_try = std::chrono::steady_clock::now() + retry_interval;
    if (!dev.said)
        outlet_say(note, dev.label + ": " + why + "; retrying every 5 s");
    dev.said = true;
}

void outlet_device_open(outlet_device &dev, const outlet_note &note)
{
    if (dev.fd >= 0 || std::chrono::steady_clock::now() < dev.next_try)
        return;
    int fd = ::open(dev.path.c_str(), dev.flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        outlet_device_fail(dev, note, std::string("cannot open: ") + std::strerror(errno));
        return;
    }
    dev.fd = fd;
    dev.readable = false;
    if (::isatty(fd)) {
        dev.readable = (dev.flags & O_ACCMODE) == O_RDWR;
        if (dev.baud > 0) {
            struct termios tio {};
            if (::tcgetattr(fd, &tio) == 0) {
                ::cfmakeraw(&tio);
                tio.c_cflag |= CLOCAL | CREAD;
                tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
                ::cfsetispeed(&tio, outlet_speed(dev.baud));
                ::cfsetospeed(&tio, outlet_speed(dev.baud));
            }
            if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
                outlet_device_fail(dev, note, std::string("cannot set the line: ") +
                                                  std::strerror(errno));
                return;
            }
        }
    }
    if (dev.said)
        outlet_say(note, dev.label + ": open again");
    dev.said = false;
}

void outlet_device_flush(outlet_device &dev, const outlet_note &note)
{
    if (dev.fd < 0 || dev.out.empty())
        return;
    if (dev.out.flush(dev.fd, false) != 0)
        outlet_device_fail(dev, note, std::string("write failed: ") + std::strerror(errno));
}

std::vector<std::string> outlet_device_read(outlet_device &dev, const outlet_note &note)
{
    std::vector<std::string> lines;
    if (dev.fd < 0 || !dev.readable)
        return lines;
    char buf[512];
    // A bounded share per turn, so that a babbling line cannot hold the loop.
    for (int reads = 0; reads < 16; ++reads) {
        ssize_t r = ::read(dev.fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (r <= 0) {
            outlet_device_fail(dev, note, r == 0 ? std::string("hung up")
                                                 : std::string("read failed: ") + std::strerror(errno));
            break;
        }
        for (std::string &l : dev.in.feed(std::string_view(buf, static_cast<size_t>(r))))
            lines.push_back(std::move(l));
    }
    return lines;
}

int outlet_device_timeout_ms(const outlet_device &dev)
{
    if (dev.fd >= 0)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        dev.next_try - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
}
