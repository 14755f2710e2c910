// Client of the daemon's line-oriented TCP protocol (GETMSG, GETSTATUS,
// EXIT).  Connects to host:port over IPv4, sends one request and collects
// its reply.  Every wait has a timeout in milliseconds; failures come back
// as -1 with a readable reason in *err.
#ifndef NAVTEX_CLIENT_H
#define NAVTEX_CLIENT_H

#include <string>

// Returns a connected socket, or -1.
int client_connect(const char *host, int port, int timeout_ms, std::string *err);

// Sends `request` and reads its reply into *reply.  The reply is complete
// when it is a known whole reply (an empty GETMSG header, a message ending
// in its TIME line, the error line, a status list) followed by a short
// quiet spell, any other text followed by a longer one (half a second), or
// when the server closes.  Returns 0 with a reply, 1 when
// the server closed the connection without replying (as after EXIT), -1 on
// error or when nothing came within timeout_ms (*err says which).
int client_request(int fd, const std::string &request, std::string *reply, int timeout_ms,
		   std::string *err);

// Waits up to timeout_ms for any bytes; returns the count read (0 when the
// peer closed), or -1 on timeout or error.
int client_read_some(int fd, std::string *out, int timeout_ms, std::string *err);

void client_close(int fd);

// Counts the messages in a GETMSG reply: 1 when it carries one, else 0.
int client_reply_has_message(const std::string &reply);

#endif
