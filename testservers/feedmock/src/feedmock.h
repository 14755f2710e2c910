// feedmock - a stand-in for the NAVTEX decoder daemon.
//
// Invents NAVTEX traffic (random or structured identifiers, two built-in
// bodies) at random intervals and serves it over the daemon's line-oriented
// TCP client protocol, default port 9968.  Every connected client gets its
// own copy of every message.  Pauses are whole "seconds" of
// feedmock_timing::second_ms milliseconds; frequencies are in kHz
// (490, 518, 4209).  Threads: the caller's (traffic), one accept thread and
// one thread per client.
#pragma once

// Written to the GLib 2.14 API, which runs on the board: its thread, mutex
// and static-mutex calls are the ones later GLib marks deprecated.
#ifndef GLIB_DISABLE_DEPRECATION_WARNINGS
#define GLIB_DISABLE_DEPRECATION_WARNINGS
#endif
#include <glib.h>
#include <netinet/in.h>

#include <atomic>
#include <string>

struct feedmock_settings {
	std::atomic<int> running{1};     // traffic and accept loops go on while set
	int port = 9968;
	int max_interval = 10;           // seconds
	int max_leadin = 5;              // seconds
	std::atomic<int> leadin_freq{0}; // kHz of the running lead-in, 0 when none

	// Further option results.
	int verbose = 0;
	int structured = 0;
	std::string stations;            // empty: all capital letters
	std::string types;               // empty: all capital letters
	int freq_index = 1;              // 518 kHz
	long counter = 0;                // structured message counter
};

struct feedmock_client {
	std::atomic<int> alive{1};       // 1 while its thread serves the connection
	GAsyncQueue *queue = nullptr;    // owned message texts (g_strdup)
	int fd = -1;
	GThread *thread = nullptr;
	gchar *peer_name = nullptr;
	int peer_port = 0;
	GMutex *lock = nullptr;          // g_mutex_new
	feedmock_settings *settings = nullptr;
};

// Messages a client may have waiting; beyond it the oldest is dropped, so
// a client that never asks cannot make the simulator grow without end.
constexpr guint feedmock_queue_max = 100;

// Start-up and traffic timing; production uses 20 s and 1 s.
struct feedmock_timing {
	long start_delay_ms = 20000;
	long second_ms = 1000;
	unsigned seed = 0;               // 0: seed from the clock
	// Tests: while set, the start delay goes on (so clients can be
	// connected first, however slow the machine).
	const std::atomic<int> *hold_start = nullptr;
};

extern const int feedmock_frequencies[3];
extern const char *const sample_texts[2];
extern const char *const feedmock_all_letters;

// Uniform value in [0, 1) from random().
double feedmock_draw();

GString *create_random_message(int *freq);
// Lists may be null (all letters).  Returns null once the lists are used up
// or for a negative counter.
GString *create_structured_message(const char *stations, const char *types,
				   int freq_index, long counter, int *freq);
GString *build_structured_message(char station, char type, int number,
				  int freq_index, int *freq);
// The fixed three-channel status reply; the channel at leadin_freq is "RCV".
GString *build_status_reply(int leadin_freq);

// Usage text and version banner as printed (each ends with a newline).
std::string feedmock_usage_text();
std::string feedmock_version_banner();

// Reads the command line into s.  Returns -1 to go on, or the exit status
// after printing what the user needs to know.
int feedmock_parse_options(int argc, char **argv, feedmock_settings *s);

void client_send(const char *text);
// Joins and frees the records of clients whose connection has ended.  The
// accept thread calls it all the time, so closed clients go whatever the
// traffic loop does.
void client_reap();
void client_add(feedmock_settings *s, int fd, const struct sockaddr_in *peer);
gpointer server_thread(gpointer data);
gpointer client_thread(gpointer data);
guint client_count();

void on_signal(int sig);
void feedmock_install_signals(feedmock_settings *s);
void log_to_stdout(const gchar *domain, GLogLevelFlags level,
		   const gchar *message, gpointer user_data);

// Starts the accept thread, waits the start delay and runs the traffic loop
// until running is cleared.  Returns the program's exit status.
int feedmock_run(feedmock_settings *s, const feedmock_timing &timing);
// Stops the accept thread and every client thread and frees all records;
// afterwards the library can be run again.
void feedmock_shutdown(feedmock_settings *s);
