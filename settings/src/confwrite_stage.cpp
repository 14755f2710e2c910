/*
 * Build helper: writes the default settings to the given path with the same
 * code as confwrite, for the board's staged root filesystem.
 */
#include <cstdio>

#include "confwrite_defaults.h"

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: confwrite_stage <settings-file>\n");
		return 2;
	}
	if (confwrite_write(argv[1]) < 0) {
		fprintf(stderr, "confwrite_stage: could not write %s\n", argv[1]);
		return 1;
	}
	return 0;
}
