// Starting the alarm command.
#include "alarm.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char **environ;

int alarm_run(const std::string &command, const stored_msg &m, std::string *err)
{
	// Everything the child needs is made before fork: the web page's
	// threads may hold allocator locks.
	std::vector<std::string> vars = {"NAVWATCH_ID=" + m.ident, "NAVWATCH_FREQ=" + std::to_string(m.freq),
					 "NAVWATCH_SEQ=" + std::to_string(m.id)};
	std::vector<char *> env;
	for (char **e = environ; e && *e; ++e)
		if (strncmp(*e, "NAVWATCH_", 9) != 0)
			env.push_back(*e);
	for (auto &v : vars)
		env.push_back(v.data());
	env.push_back(nullptr);
	pid_t pid = fork();
	if (pid < 0) {
		*err = std::string("cannot start the alarm command: ") + strerror(errno);
		return -1;
	}
	if (pid == 0) {
		execle("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr), env.data());
		_exit(127);
	}
	return pid;
}

void alarm_reap()
{
	while (waitpid(-1, nullptr, WNOHANG) > 0) {
	}
}
