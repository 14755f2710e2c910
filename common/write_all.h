// write(2) that carries on after partial writes and interruptions.
#ifndef NAVTEX_WRITE_ALL_H
#define NAVTEX_WRITE_ALL_H

#include <unistd.h>

#include <cerrno>
#include <cstddef>

// True when all n bytes were written; false on the first failure (errno
// says why).
inline bool write_all(int fd, const void *data, size_t n)
{
	const char *p = static_cast<const char *>(data);
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return false;
		p += w;
		n -= static_cast<size_t>(w);
	}
	return true;
}

#endif
