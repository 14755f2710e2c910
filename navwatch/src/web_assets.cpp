// Lookup of the carried page files; see web_assets.h.
#include "web_assets.h"

const web_asset *web_asset_find(const std::string &path)
{
	std::string p = path == "/index.html" ? "/" : path;
	for (const web_asset *a = web_assets; a->path; a++)
		if (p == a->path)
			return a;
	return nullptr;
}
