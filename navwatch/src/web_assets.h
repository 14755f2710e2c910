// The page's files (navwatch/web), carried inside the program: built into
// a generated source by web/embed.cmake.  Only these paths are served;
// nothing is read from disk.
#ifndef NAVWATCH_WEB_ASSETS_H
#define NAVWATCH_WEB_ASSETS_H

#include <cstddef>
#include <string>

struct web_asset {
	const char *path;         // "/" for index.html, else "/name"
	const char *content_type;
	const unsigned char *data;
	size_t size;
};

// Ends with an entry whose path is null.
extern const web_asset web_assets[];

// The asset served at path (query already cut off), or null.
const web_asset *web_asset_find(const std::string &path);

#endif
