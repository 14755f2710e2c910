// Settings file and selections, read through the settings code.
#include "selections.h"

#include <sys/stat.h>

#include "confwrite_defaults.h"

namespace {

std::unique_ptr<watch_settings> fresh()
{
	auto w = std::make_unique<watch_settings>();
	w->rec = confwrite_default_record;
	w->rec.db_path = g_strdup(confwrite_default_record.db_path);
	message_filter_init(&w->rec.filters);
	w->coast = {w->stations[0], w->stations[1], w->stations[2], SETTINGS_LETTERS};
	w->msgtypes = {w->types[0], w->types[1], w->types[2], SETTINGS_LETTERS};
	w->rec.coast_stations = &w->coast;
	w->rec.message_types = &w->msgtypes;
	return w;
}

void note_file(selections *sel)
{
	struct stat sb {};
	if (stat(sel->path.c_str(), &sb) == 0) {
		sel->mtime = sb.st_mtime;
		sel->size = sb.st_size;
		sel->ino = sb.st_ino;
	} else {
		sel->mtime = 0;
		sel->size = -1;
		sel->ino = 0;
	}
}

} // namespace

watch_settings::~watch_settings()
{
	settings_free(&rec);
	message_filter_free(&rec.filters);
}

int selections_load(selections *sel)
{
	auto w = fresh();
	note_file(sel);
	int ok = settings_load(&w->rec, sel->path.c_str());
	if (!ok)
		g_warning("Settings file %s not read: defaults apply (nothing deselected, alarm sound on)",
			  sel->path.c_str());
	std::lock_guard<std::mutex> g(sel->lock);
	sel->cur = std::move(w);
	return ok;
}

bool selections_changed(selections *sel)
{
	struct stat sb {};
	if (stat(sel->path.c_str(), &sb) != 0)
		return sel->size != -1;
	return sb.st_mtime != sel->mtime || sb.st_size != sel->size || sb.st_ino != sel->ino;
}

int selections_freq_index(int freq)
{
	return freq == 490 ? 0 : freq == 518 ? 1 : freq == 4209 ? 2 : -1;
}

std::vector<freq_selection> selections_get(selections *sel)
{
	std::lock_guard<std::mutex> g(sel->lock);
	std::vector<freq_selection> out;
	const int freqs[3] = {490, 518, 4209};
	for (int i = 0; i < 3; ++i) {
		freq_selection fs;
		fs.freq = freqs[i];
		for (int k = 0; k < SETTINGS_LETTERS; ++k) {
			fs.stations[k] = sel->cur && sel->cur->stations[i][k] == 1;
			fs.types[k] = sel->cur && sel->cur->types[i][k] == 1;
		}
		out.push_back(fs);
	}
	return out;
}

int selections_save(selections *sel, std::string *err)
{
	std::unique_lock<std::mutex> g(sel->lock);
	if (settings_save(&sel->cur->rec, sel->path.c_str()) < 0) {
		*err = "cannot write the settings file " + sel->path;
		return -1;
	}
	g.unlock();
	// Read back so that a letter no longer listed loses its filter too.
	selections_load(sel);
	return 0;
}

int selections_set(selections *sel, const freq_selection &fs, std::string *err)
{
	int i = selections_freq_index(fs.freq);
	if (i < 0) {
		*err = "no such frequency: " + std::to_string(fs.freq);
		return -1;
	}
	{
		std::lock_guard<std::mutex> g(sel->lock);
		for (int k = 0; k < SETTINGS_LETTERS; ++k) {
			sel->cur->stations[i][k] = fs.stations[k] ? 1 : 0;
			sel->cur->types[i][k] = fs.types[k] ? 1 : 0;
		}
	}
	return selections_save(sel, err);
}
