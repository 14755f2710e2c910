// Where navwatch's messages go.
#include "say.h"

#include <glib.h>

#include <cstdio>

namespace {

bool g_detached = false;

void glib_handler(const gchar *, GLogLevelFlags level, const gchar *message, gpointer)
{
	if (level & G_LOG_LEVEL_DEBUG)
		return;
	int prio = (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) ? LOG_ERR
		   : (level & G_LOG_LEVEL_WARNING)			    ? LOG_WARNING
									    : LOG_INFO;
	say(prio, message ? message : "");
}

} // namespace

void say_setup(bool detached)
{
	g_detached = detached;
	if (detached)
		openlog("navwatch", LOG_PID, LOG_DAEMON);
	g_log_set_default_handler(glib_handler, nullptr);
}

void say(int prio, const std::string &line)
{
	if (g_detached)
		syslog(prio, "%s", line.c_str());
	else
		fprintf(stderr, "navwatch: %s\n", line.c_str());
}
