/*
 * Printer output of navwatch (-P device): each shown message as plain
 * lines for a 40-column line printer.
 *
 * A message prints as a header line
 *     "518kHz FA12 2026-12-09 04:21Z err 1.2%"
 * (frequency, identifier, reception time in UTC, error rate with one
 * decimal, "100%" at the top; at most 40 characters), the text wrapped at 40 columns (at blanks where a line has
 * one, hard otherwise; the message's own line ends kept), and one empty
 * line.  Lines end in CR LF.  An identifier received with errors (anything
 * but [A-Z][A-Z][0-9][0-9], a '*' say) is not printed: the header shows
 * "----" in its place, and the message itself still prints.
 *
 * The device (a printer port, a serial line, or a file) is opened
 * non-blocking for appending and written from a 64 KiB buffer, so a printer
 * that is off or slow blocks nothing: call printer_pollfds/printer_service
 * from the main loop as for nmea_out.  A device that is gone is said once
 * and retried every 5 s; a message that does not fit the buffer is dropped
 * whole (printer_print says so; telling it is the caller's).  Whether to
 * print at all ("printer-enabled") is the caller's too.
 */
#ifndef NAVWATCH_PRINTER_H
#define NAVWATCH_PRINTER_H

#include <poll.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr int PRINTER_COLUMNS = 40;

struct printer_msg {
    int freq_khz = 0;
    std::string ident;     // B1B2B3B4
    time_t time = -1;      // seconds since 1970 UTC; < 0 unknown ("----------")
    double error_pct = 0;  // character error rate, percent
    std::string text;      // message body, lines ended by LF (CR LF and CR taken too)
};

// The lines of one message, as described above.
std::string printer_format(const printer_msg &msg);

struct printer;
struct printer_deleter {
    void operator()(printer *p) const;
};
using printer_ptr = std::unique_ptr<printer, printer_deleter>;

// `note` says problems, one line each (standard error when empty).
printer_ptr printer_new(const std::string &device, std::function<void(const std::string &)> note = {});

// Queues the message's lines and starts writing; never blocks.  False when
// it was dropped (buffer full).
bool printer_print(printer &p, const printer_msg &msg);

std::vector<pollfd> printer_pollfds(const printer &p);
int printer_timeout_ms(const printer &p);
void printer_service(printer &p);

#endif
