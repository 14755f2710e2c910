/*
 * Printer output: a header line and the text wrapped at 40 columns, queued
 * for a device that is written without waiting and reopened while gone.
 */
#include "printer.h"

#include "outlet.h"

#include <fcntl.h>

#include <cstdio>

namespace {

bool good_ident(const std::string &id)
{
    return id.size() == 4 && id[0] >= 'A' && id[0] <= 'Z' && id[1] >= 'A' && id[1] <= 'Z' &&
           id[2] >= '0' && id[2] <= '9' && id[3] >= '0' && id[3] <= '9';
}

// One line of the message, wrapped: at the last blank that keeps a piece
// within the columns, hard where a word is longer than a line.
void wrap_line(std::string line, std::string &out)
{
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' '; // control bytes would drive the printer
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    size_t pos = 0;
    do {
        size_t end = line.size();
        if (end - pos > static_cast<size_t>(PRINTER_COLUMNS)) {
            end = pos + PRINTER_COLUMNS;
            const size_t blank = line.rfind(' ', end);
            if (blank != std::string::npos && blank > pos)
                end = blank;
        }
        size_t piece_end = end;
        while (piece_end > pos && line[piece_end - 1] == ' ')
            --piece_end;
        out.append(line, pos, piece_end - pos);
        out += "\r\n";
        pos = end;
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
    } while (pos < line.size());
}

} // namespace

std::string printer_format(const printer_msg &msg)
{
    char when[80] = "----------";
    struct tm tm {};
    if (msg.time >= 0 && gmtime_r(&msg.time, &tm) != nullptr)
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02dZ", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    // "99.9%" or "100%": the longest header is then exactly 40 columns.
    char pct[16] = "100%";
    if (!(msg.error_pct >= 99.95))
        std::snprintf(pct, sizeof pct, "%.1f%%", msg.error_pct > 0 ? msg.error_pct : 0.0);
    char header[128];
    std::snprintf(header, sizeof header, "%dkHz %s %s err %s", msg.freq_khz,
                  good_ident(msg.ident) ? msg.ident.c_str() : "----", when, pct);
    std::string out;
    wrap_line(header, out);

    const std::string &t = msg.text;
    size_t start = 0;
    while (start < t.size()) {
        size_t end = t.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = t.size();
        wrap_line(t.substr(start, end - start), out);
        if (end < t.size() && t[end] == '\r' && end + 1 < t.size() && t[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    out += "\r\n";
    return out;
}

struct printer {
    outlet_device dev;
    outlet_note note;
};

void printer_deleter::operator()(printer *p) const
{
    outlet_device_close(p->dev);
    delete p;
}

printer_ptr printer_new(const std::string &device, std::function<void(const std::string &)> note)
{
    printer_ptr p(new printer);
    p->dev.path = device;
    p->dev.label = "printer " + device;
    p->dev.flags = O_WRONLY | O_APPEND;
    p->note = std::move(note);
    outlet_device_open(p->dev, p->note);
    return p;
}

bool printer_print(printer &p, const printer_msg &msg)
{
    const bool queued = p.dev.out.push(printer_format(msg));
    outlet_device_open(p.dev, p.note);
    outlet_device_flush(p.dev, p.note);
    return queued;
}

std::vector<pollfd> printer_pollfds(const printer &p)
{
    std::vector<pollfd> fds;
    if (p.dev.fd >= 0 && !p.dev.out.empty())
        fds.push_back({p.dev.fd, POLLOUT, 0});
    return fds;
}

int printer_timeout_ms(const printer &p)
{
    return p.dev.out.empty() ? -1 : outlet_device_timeout_ms(p.dev);
}

void printer_service(printer &p)
{
    if (p.dev.out.empty())
        return;
    outlet_device_open(p.dev, p.note);
    outlet_device_flush(p.dev, p.note);
}
