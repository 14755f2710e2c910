// The web page's HTTP server (libmicrohttpd): listens where -H says, serves
// the carried assets and routes /api/ to web_api.h; implements
// web_start/web_message_taken/web_stop of web_hook.h.
//
// Threads: libmicrohttpd's own pool of web_threads threads, each polling
// its connections (poll(2), never epoll: the board's kernel is 2.6.25).
// Nothing here takes a lock that navwatch's ingest holds, apart from the
// context's status and selection functions, which copy, and a selection
// change, which writes the settings file under navwatch's settings lock.
// web_stop waits for the threads, except on kernels before 2.6.28 (the
// board's), where glibc cannot wait for a thread: there it stops accepting
// and leaves the threads to end with the process.
//
// Limits that keep the page up for others and leave the ingest alone:
// at most web_max_connections connections in all and web_max_per_ip from
// one address, web_timeout_s of silence ends a connection, request headers
// beyond web_header_memory bytes are refused by the library (431), change
// bodies beyond web_max_body (web_rules.h) with 400 before they are read.
#ifndef NAVWATCH_WEB_SERVER_H
#define NAVWATCH_WEB_SERVER_H

#include "web_hook.h"

constexpr unsigned web_threads = 3;
constexpr unsigned web_max_connections = 256;
constexpr unsigned web_max_per_ip = 48;
constexpr unsigned web_timeout_s = 15;
constexpr size_t web_header_memory = 16 * 1024;

// The port the page listens on (useful after -H ...:0 picked one), or 0.
int web_port();

#endif
