/*
 * The TCP side of the NMEA outputs: one listening socket on every IPv4
 * interface and its clients (chart plotters), at most 8.  Everything is
 * non-blocking; each client's unsent output is bounded (64 KiB) and a
 * client past it is dropped, so one that never reads holds up nothing.
 * Lines a client sends go to `answer`; its reply goes back to that client.
 * Clients dropped while a walk is under way are removed at the next
 * nmea_tcp_service, so callbacks may send at any time.
 */
#ifndef NAVWATCH_NMEA_TCP_H
#define NAVWATCH_NMEA_TCP_H

#include <poll.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "outlet.h"

struct nmea_tcp_client {
    int fd = -1;
    std::string peer; // "address:port"
    outlet_buffer out;
    line_reader in;
    bool dead = false;
};

struct nmea_tcp {
    int listen_fd = -1;
    int port = 0;
    std::vector<nmea_tcp_client> clients;
    bool refusing_said = false;
};

// Reply to one line from a client (empty: none).
using nmea_tcp_answer = std::function<std::string(const std::string &line)>;

// A port number 0-65535, nothing else.
bool nmea_parse_port(std::string_view s, int &port);
// Listens on the port (0: any free one, see t.port).  False with *err set.
bool nmea_tcp_listen(nmea_tcp &t, std::string_view port_text, std::string *err);
void nmea_tcp_close(nmea_tcp &t);
// Queues bytes for every client and writes what each takes now.
void nmea_tcp_send(nmea_tcp &t, std::string_view bytes, const outlet_note &note);
// Accepts, reads and answers lines, writes pending output, removes the dropped.
void nmea_tcp_service(nmea_tcp &t, const nmea_tcp_answer &answer, const outlet_note &note);
void nmea_tcp_pollfds(const nmea_tcp &t, std::vector<pollfd> &fds);
int nmea_tcp_clients(const nmea_tcp &t);

#endif
