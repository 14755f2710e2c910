// Numbers given on a command line.
#ifndef NAVTEX_NUMBER_ARG_H
#define NAVTEX_NUMBER_ARG_H

#include <cerrno>
#include <cmath>
#include <cstdlib>

// The whole of s as a finite number; false (out untouched) for anything
// else: empty, trailing characters, out of range, inf or nan.
inline bool to_double(const char *s, double &out)
{
	char *end = nullptr;
	errno = 0;
	double v = strtod(s, &end);
	if (end == s || *end != '\0' || errno != 0 || !std::isfinite(v))
		return false;
	out = v;
	return true;
}

#endif
