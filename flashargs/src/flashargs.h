// Command line of the boot parameter tool: list, copy to a file, write from
// a file, detect the partition, or run the interactive editor.
#pragma once

#include "bootparams.h"

#include <string>

// The parameter text as the parameter file holds it: one word per line.
std::string params_as_lines(const char *text);

// -r: the parameters into `file`, one per line. Errors end the program.
void params_to_file(const char *file, const flash_paths &paths);

// -w: the words of `file` (its first 2047 bytes) into the block. Errors end
// the program.
void params_from_file(const char *file, const flash_paths &paths);

// -l: the parameters on standard output, one per line.
void list_params(const flash_paths &paths);

// The whole program; returns its exit status.
int flashargs_main(int argc, char **argv, const flash_paths &paths);
