// navwatch: the receiver's message keeper.  Options, then either the
// keeper itself or a view command on its store.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "say.h"
#include "selections.h"
#include "view.h"
#include "watch.h"

namespace {

const char kUsage[] =
	"usage: navwatch [options]                 keep messages from the server\n"
	"       navwatch [-D db] [-c file] list [-a] [-f freq] | show ID | ack | keep ID | unkeep ID\n"
	"  -f            stay in the foreground (with no view command)\n"
	"  -S host:port  protocol server (default 127.0.0.1:9968)\n"
	"  -c file       settings file (default /jffs2/tovane.conf)\n"
	"  -D db         message store (default: the settings' db-path)\n"
	"  -a command    alarm command for type D messages (run by /bin/sh with\n"
	"                NAVWATCH_ID, NAVWATCH_FREQ and NAVWATCH_SEQ set)\n"
	"  -J file|-     JSON lines of every message taken\n"
	"  -N dest       NRX sentences to tcp:PORT, udp:HOST:PORT or\n"
	"                serial:DEVICE[:BAUD] (repeatable)\n"
	"  -P device     printer output (when printer-enabled is set)\n"
	"  -H [addr:]port  web page\n"
	"  -W address    address allowed to change things on the web page (repeatable)\n"
	"  -i ms         pause when the server has no message (default 250)\n";

int usage()
{
	fputs(kUsage, stderr);
	return 2;
}

} // namespace

int main(int argc, char **argv)
{
	watch_options o;
	int c;
	// '+': a view command's own options (list -a -f) follow it.
	while ((c = getopt(argc, argv, "+fS:c:D:a:J:N:P:H:W:i:h")) != -1) {
		switch (c) {
		case 'f': o.foreground = true; break;
		case 'S': o.server = optarg; break;
		case 'c': o.settings_path = optarg; break;
		case 'D': o.db_path = optarg; break;
		case 'a': o.alarm_cmd = optarg; break;
		case 'J': o.json_path = optarg; break;
		case 'N': o.nmea_dests.push_back(optarg); break;
		case 'P': o.printer_dev = optarg; break;
		case 'H': o.web_listen = optarg; break;
		case 'W': o.web_writers.push_back(optarg); break;
		case 'i':
			o.poll_ms = atoi(optarg);
			if (o.poll_ms < 1 || o.poll_ms > 60000)
				return usage();
			break;
		default: return usage();
		}
	}
	if (optind < argc) {
		std::vector<std::string> args(argv + optind, argv + argc);
		std::string db = o.db_path;
		if (db.empty()) {
			say_setup(false);
			selections sel;
			sel.path = o.settings_path;
			selections_load(&sel);
			db = sel.cur->rec.db_path;
		}
		return view_command(db, args);
	}
	return watch_run(o);
}
