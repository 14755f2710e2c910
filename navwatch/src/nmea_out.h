/*
 * NMEA outputs of navwatch: NRX sentences of each shown message go to every
 * destination given with -N; NRM queries and commands come back from TCP
 * clients and the serial line.
 *
 * Destinations:
 *   tcp:PORT              listens on every IPv4 interface; chart plotters
 *                         connect (at most 8 at a time).  A client whose
 *                         unsent output passes 64 KiB is dropped.
 *   udp:HOST:PORT         one datagram per sentence (broadcast allowed).
 *   serial:DEVICE[:BAUD]  raw 8N1, 4800 baud by default (1200-115200; a
 *                         name that ends in ":digits" needs the baud given).
 *                         A device that cannot be opened or fails is said
 *                         once, closed and retried every 5 s; up to 64 KiB
 *                         of output waits for it, later messages are
 *                         dropped whole.
 *
 * Single-threaded and poll-driven: every socket and device is non-blocking,
 * nothing here ever waits.  The caller's loop
 *     fds = nmea_out_pollfds(out);          // rebuild each turn: fds come and go
 *     poll(fds, ..., min(own timeout, nmea_out_timeout_ms(out)));
 *     nmea_out_service(out);                // accepts, reads, writes, retries
 * nmea_out_message() queues and starts writing at once; it never blocks.
 *
 * Incoming lines (at most 256 characters; longer ones are discarded) are
 * parsed with nmea_parse_request.  A query is answered, to the sender only,
 * with the reports of callbacks.masks(); a configuration calls
 * callbacks.configure(nrm) and then answers with the reports of that
 * frequency.  Anything else is ignored.  Problems are said through
 * callbacks.note (standard error when empty), each condition once until it
 * clears.
 */
#ifndef NAVWATCH_NMEA_OUT_H
#define NAVWATCH_NMEA_OUT_H

#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "nmea.h"

struct nmea_out_callbacks {
    std::function<nmea_masks()> masks;                   // current masks (required for replies)
    std::function<void(const nmea_nrm &nrm)> configure;  // apply a command; may be empty
    std::function<void(const std::string &text)> note;   // one line, no newline
};

struct nmea_out;
struct nmea_out_deleter {
    void operator()(nmea_out *out) const;
};
using nmea_out_ptr = std::unique_ptr<nmea_out, nmea_out_deleter>;

nmea_out_ptr nmea_out_new(nmea_out_callbacks callbacks);

// Adds a destination ("tcp:PORT", "udp:HOST:PORT", "serial:DEVICE[:BAUD]").
// Returns its number (0, 1, ...) or -1 with the reason in *err (bad form,
// port in use, unknown host, unsupported baud rate).  A serial device that
// does not open yet is not an error: it is retried.
int nmea_out_add(nmea_out &out, const std::string &dest, std::string *err);

// The TCP port a tcp destination listens on (useful with tcp:0), else -1.
int nmea_out_local_port(const nmea_out &out, int dest);

// Number of TCP clients connected to all tcp destinations.
int nmea_out_clients(const nmea_out &out);

// Sends one message as NRX sentences to every destination, with the next
// sequential message identifier (00-99, one counter for all).
void nmea_out_message(nmea_out &out, const nmea_nrx_msg &msg);

// Sends whole sentence lines (CR LF included) to every destination.
void nmea_out_lines(nmea_out &out, const std::vector<std::string> &lines);

// Descriptors to poll, with the events wanted.
std::vector<pollfd> nmea_out_pollfds(const nmea_out &out);

// Milliseconds until the next serial retry is due, -1 when none is pending.
int nmea_out_timeout_ms(const nmea_out &out);

// Does whatever can be done without waiting: accepts clients, reads and
// answers their lines, writes pending output, reopens gone devices.
void nmea_out_service(nmea_out &out);

#endif
