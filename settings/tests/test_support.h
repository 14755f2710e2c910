// Helpers shared by the settings tests: a GLib log capture and a scratch
// folder that is removed with everything in it.
#ifndef SETTINGS_TEST_SUPPORT_H
#define SETTINGS_TEST_SUPPORT_H

#include <glib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct LogLine {
    GLogLevelFlags level;
    bool has_domain;
    std::string text;
};

// Collects every message logged while it lives, DEBUG included.
class LogCapture {
public:
    LogCapture() { g_log_set_default_handler(&LogCapture::handler, this); }
    ~LogCapture() { g_log_set_default_handler(g_log_default_handler, nullptr); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<std::string> at(GLogLevelFlags level) const
    {
        std::vector<std::string> out;
        for (const LogLine &line : lines)
            if (line.level == level)
                out.push_back(line.text);
        return out;
    }
    bool any_domain() const
    {
        for (const LogLine &line : lines)
            if (line.has_domain)
                return true;
        return false;
    }
    void clear() { lines.clear(); }

    std::vector<LogLine> lines;

private:
    static void handler(const gchar *domain, GLogLevelFlags level, const gchar *message,
                        gpointer self)
    {
        static_cast<LogCapture *>(self)->lines.push_back(
            {static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), domain != nullptr,
             message ? message : ""});
    }
};

class ScratchDir {
public:
    ScratchDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "settings-test-XXXXXX").string();
        path_ = g_mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

inline void write_text(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

#endif
