// filefeed - a single-threaded stand-in for the NAVTEX decoder daemon that
// offers the messages of one text file, over and over.
//
// Messages in the file end with "NNNN".  After a random wait (ticks of
// 100 ms of idle polling) the next message becomes pending; status requests
// then show 518 kHz as receiving and count down (3 for the first message,
// 15 afterwards) until GETMSG hands the message out.  At most two clients;
// requests are single lines compared whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct filefeed_options {
	int port = 9968;
	std::string path = "./navtexMsg.txt";
	int interval = 2; // seconds, scale of the random waits
};

// Reads the command line.  Returns -1 to go on, or the exit status after
// printing the reason.
int filefeed_parse_options(int argc, char **argv, filefeed_options *o);

// Cuts text at each "NNNN" (the separator and the one character after it
// are dropped; what follows the last separator is not a message).  Text
// without any separator, empty text too, is one message.
std::vector<std::string_view> split_messages(std::string_view text);

// The file's contents and the messages cut from them (views into text).
struct message_store {
	std::string text;
	std::vector<std::string_view> msgs;
};

// Loads and splits the file.  Returns the message count, or the exit
// status negated after printing the reason.
int load_messages(const std::string &path, message_store *store);

// Reception state of the server.
struct feed_state {
	std::vector<std::string_view> msgs;
	int current = -1;   // pending message, -1 when none
	int next = 0;       // the message that becomes pending next
	int countdown = 3;  // status requests still needed before delivery
	int ticks = 0;      // idle 100 ms ticks since the wait began
	int wait = 1;       // current wait in ticks
	int interval = 2;   // seconds
};

// Uniform value in [0, 1) from random().
double filefeed_draw();

// One idle tick.  Returns true when the wait was over: then a message was
// made pending (if none was) and state.wait holds the new wait in ticks.
bool filefeed_tick(feed_state &st, double r);

// The request of one read: its text up to the first CR, LF or NUL.
std::string_view request_line(const char *buf, size_t n);

enum class feed_action { none, reply, deliver, close };

struct feed_reply {
	feed_action action = feed_action::none;
	std::vector<std::string> parts; // sent in order, one send each
	std::string out;                // standard output text
};

// Serves one request line.  A GETSTATUS updates the countdown at once; a
// delivery only when filefeed_delivered is called after all parts went out.
feed_reply filefeed_request(feed_state &st, std::string_view line);
void filefeed_delivered(feed_state &st);

// Creates the listening socket; returns it, or the exit status negated
// after printing the reason.
int filefeed_listen(int port);

// The poll loop; returns only with an exit status.
int filefeed_serve(int listen_fd, feed_state &st);
