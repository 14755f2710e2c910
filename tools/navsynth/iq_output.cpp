// navsynth's wideband I/Q output (-Q): headerless samples in an SDR
// format, or a two-channel WAV whose auxi chunk carries the centre.
#include "iq_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#ifdef NAVSYNTH_AUDIO
#include <sndfile.h>
#endif

namespace {

// Removes a partial output, never a device or pipe.
void remove_partial(const std::string &path)
{
	struct stat st;
	if (path != "-" && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
		unlink(path.c_str());
}

} // namespace

// The wideband I/Q output: headerless samples, or a two-channel WAV whose
// auxi chunk carries the centre frequency as SDR programs write it.
std::string write_iq(const navsynth::Config &cfg, const navsynth::WidebandConfig &wb, iq_format::Format fmt,
		     const std::string &path)
{
	std::string err = navsynth::check_wideband(cfg, wb);
	if (!err.empty())
		return err;
	const size_t dot = path.rfind('.');
	std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
	for (char &c : ext)
		c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
	FILE *progress = path == "-" ? nullptr : stderr;
	if (ext == "wav") {
#ifndef NAVSYNTH_AUDIO
		return "cannot write " + path + ": this navsynth was built without WAV output (libsndfile)";
#else
		SF_INFO info{};
		info.samplerate = static_cast<int>(std::lround(wb.rate));
		info.channels = 2;
		info.format = SF_FORMAT_WAV | (fmt == iq_format::Format::cf32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
		SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
		if (!sf)
			return "cannot create " + path + ": " + sf_strerror(nullptr);
		// SYSTEMTIME start and stop (left zero), then the centre frequency.
		unsigned char auxi[64] = {};
		const uint32_t hz = static_cast<uint32_t>(std::lround(wb.centre_hz));
		for (int b = 0; b < 4; b++)
			auxi[32 + b] = static_cast<unsigned char>(hz >> (8 * b));
		SF_CHUNK_INFO chunk{};
		memcpy(chunk.id, "auxi", 4);
		chunk.id_size = 4;
		chunk.datalen = sizeof auxi;
		chunk.data = auxi;
		if (sf_set_chunk(sf, &chunk) != SF_ERR_NO_ERROR) {
			sf_close(sf);
			remove_partial(path);
			return "cannot write the auxi chunk of " + path;
		}
		sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
		err = navsynth::render_wideband(cfg, wb, [&](const float *iq, size_t n) -> std::string {
			const sf_count_t want = static_cast<sf_count_t>(n);
			return sf_writef_float(sf, iq, want) == want ? "" : std::string("write failed: ") + sf_strerror(sf);
		}, progress);
		if (sf_close(sf) != 0 && err.empty())
			err = "cannot write " + path;
		if (!err.empty())
			remove_partial(path);
		return err;
#endif
	}
	FILE *out = path == "-" ? stdout : fopen(path.c_str(), "wb");
	if (!out)
		return "cannot create " + path + ": " + strerror(errno);
	std::vector<unsigned char> bytes;
	err = navsynth::render_wideband(cfg, wb, [&](const float *iq, size_t n) -> std::string {
		bytes.clear();
		for (size_t k = 0; k < 2 * n; k++)
			iq_format::encode_value(fmt, iq[k], bytes);
		return fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size()
			       ? ""
			       : std::string("write failed: ") + strerror(errno);
	}, progress);
	if (err.empty() && fflush(out) != 0)
		err = std::string("write failed: ") + strerror(errno);
	if (path != "-" && fclose(out) != 0 && err.empty())
		err = std::string("write failed: ") + strerror(errno);
	if (!err.empty())
		remove_partial(path);
	return err;
}

