// filefeed program: message table, options, message file, socket, loop.
#include "filefeed.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

int main(int argc, char **argv)
{
	// Output is read by people and scripts while the server runs.
	setvbuf(stdout, nullptr, _IOLBF, 0);

	message_store store;
	try {
		store.msgs.reserve(100);
	} catch (const std::bad_alloc &) {
		printf("Error allocating memory for navtexMsg");
		return 4;
	}

	filefeed_options opts;
	int rc = filefeed_parse_options(argc, argv, &opts);
	if (rc >= 0)
		return rc;

	if (load_messages(opts.path, &store) < 0)
		return 1;

	int listen_fd = filefeed_listen(opts.port);
	if (listen_fd < 0)
		return 1;

	feed_state st;
	st.msgs = store.msgs;
	st.interval = opts.interval;
	srandom(static_cast<unsigned>(time(nullptr)));
	return filefeed_serve(listen_fd, st);
}
