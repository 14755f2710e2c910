/*
 * Byte outlets shared by the NMEA outputs and the printer: a bounded
 * output buffer for a non-blocking descriptor, a line assembler for what
 * comes back, and a device (serial line, printer port) that is opened on
 * demand and retried every 5 s while it is gone.  Nothing here blocks;
 * each condition is said once through `note` until it clears.
 */
#ifndef NAVWATCH_OUTLET_H
#define NAVWATCH_OUTLET_H

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using outlet_note = std::function<void(const std::string &)>;

// Says a line through `note`, or on standard error when it is empty.
void outlet_say(const outlet_note &note, const std::string &text);

// Bytes not yet written to one descriptor, at most `limit` of them.
struct outlet_buffer {
    std::string data;
    size_t sent = 0;   // bytes of data already written
    size_t limit = 64 * 1024;

    bool empty() const { return sent >= data.size(); }
    size_t pending() const { return data.size() - sent; }
    // Appends all of `bytes`, or nothing when they would pass the limit.
    bool push(std::string_view bytes);
    // Writes what the descriptor takes now (send() without SIGPIPE for a
    // socket).  0 when fine (EAGAIN included), -1 on a failure (errno set).
    int flush(int fd, bool socket);
};

// Lines out of a byte stream; a line longer than `max` is dropped whole.
struct line_reader {
    std::string partial;
    bool skipping = false;
    size_t max = 256;

    // Adds bytes and returns the lines they complete, without LF.
    std::vector<std::string> feed(std::string_view bytes);
};

// A device written (and for a terminal, read) without waiting.
struct outlet_device {
    std::string path;
    std::string label;        // how messages name it ("serial:/dev/ttyS1")
    int flags = 0;            // open flags besides O_NONBLOCK | O_NOCTTY | O_CLOEXEC
    int baud = 0;             // > 0: a serial line set to raw 8N1 at this rate
    int fd = -1;
    bool readable = false;    // a terminal: poll it for input
    bool said = false;        // the current failure has been said
    std::chrono::steady_clock::time_point next_try{};
    outlet_buffer out;
    line_reader in;
};

// Opens the device when it is closed and its retry time has come.
void outlet_device_open(outlet_device &dev, const outlet_note &note);
// Closes it after a failure (said once) and schedules the next try.
void outlet_device_fail(outlet_device &dev, const outlet_note &note, const std::string &why);
// Writes what it takes now; a failure closes it.
void outlet_device_flush(outlet_device &dev, const outlet_note &note);
// Reads what is there; returns the complete lines.  A failure closes it.
std::vector<std::string> outlet_device_read(outlet_device &dev, const outlet_note &note);
// Milliseconds until the next try when closed, else -1.
int outlet_device_timeout_ms(const outlet_device &dev);
void outlet_device_close(outlet_device &dev);

// Makes a descriptor non-blocking and close-on-exec with fcntl, as the
// board's kernel (2.6.25) takes no SOCK_NONBLOCK/SOCK_CLOEXEC and has no
// accept4.  Returns fd, or -1 (fd closed) when that fails.
int outlet_nonblocking(int fd);

// termios speed for a baud rate, 0 when unsupported.
unsigned outlet_speed(int baud);

#endif
