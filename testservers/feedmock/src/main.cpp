// feedmock program: options, log set-up, then traffic until SIGTERM.
#include "feedmock.h"

#include <cstdio>

int main(int argc, char **argv)
{
	// GLib before 2.32 wants its threads set up before any other call.
	if (!g_thread_supported())
		g_thread_init(nullptr);
	static feedmock_settings settings;
	feedmock_install_signals(&settings);
	int rc = feedmock_parse_options(argc, argv, &settings);
	if (rc >= 0)
		return rc;

	fputs("starting.......\n", stderr);
	g_message("Starting.......");
	g_log_set_default_handler(log_to_stdout, &settings.verbose);

	rc = feedmock_run(&settings, feedmock_timing{});
	feedmock_shutdown(&settings);
	return rc;
}
