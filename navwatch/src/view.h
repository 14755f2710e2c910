// The command-line view of a store: list, show, ack, keep, unkeep.  Takes
// the store path and the command's words; prints on standard output,
// errors on standard error.  Returns the exit status (0, 1 error, 2 usage).
#ifndef NAVWATCH_VIEW_H
#define NAVWATCH_VIEW_H

#include <string>
#include <vector>

int view_command(const std::string &db, const std::vector<std::string> &args);

#endif
