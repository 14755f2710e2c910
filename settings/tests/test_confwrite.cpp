// confwrite: the default record it writes, and the program itself run with
// a private /jffs2 so that the real file system is never touched.
#include "confwrite_defaults.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <cstring>
#include <string>

#include "test_support.h"

namespace {

// Loads path into a record whose tables are all set to 5, so that the
// test sees whether any list selected something.
struct Loaded {
    explicit Loaded(const std::string &path)
    {
        for (auto &t : tabs)
            t.fill(5);
        stations = {tabs[0].data(), tabs[1].data(), tabs[2].data(), SETTINGS_LETTERS};
        types = {tabs[3].data(), tabs[4].data(), tabs[5].data(), SETTINGS_LETTERS};
        message_filter_init(&rec.filters);
        rec.coast_stations = &stations;
        rec.message_types = &types;
        result = settings_load(&rec, path.c_str());
    }
    ~Loaded()
    {
        settings_free(&rec);
        message_filter_free(&rec.filters);
    }
    std::array<std::array<int, SETTINGS_LETTERS>, 6> tabs{};
    letter_select stations{}, types{};
    settings_obj rec{};
    int result = 0;
};

void expect_defaults(const std::string &path)
{
    LogCapture log;
    Loaded loaded(path);
    ASSERT_EQ(loaded.result, 1);
    EXPECT_TRUE(log.at(G_LOG_LEVEL_WARNING).empty()) << "every key is present";
    EXPECT_TRUE(log.at(G_LOG_LEVEL_MESSAGE).empty()) << "every list is present";
    const settings_obj &d = confwrite_default_record;
    const settings_obj &r = loaded.rec;
    EXPECT_EQ(r.brightness, 165);
    EXPECT_EQ(r.contrast, 140);
    EXPECT_EQ(r.visible_messages, 120);
    EXPECT_STREQ(r.db_path, "/jffs2/navtex.db");
    for (auto member : {&settings_obj::brightness, &settings_obj::contrast,
                        &settings_obj::visible_messages, &settings_obj::sound_enabled,
                        &settings_obj::key_sound_enabled, &settings_obj::alarm_sound_enabled,
                        &settings_obj::printer_enabled, &settings_obj::printer_cut_paper,
                        &settings_obj::antenna_power_enabled, &settings_obj::gps_enabled,
                        &settings_obj::gps_time_enabled, &settings_obj::ecdis_enabled,
                        &settings_obj::ecdis_ignore_ack})
        EXPECT_EQ(r.*member, d.*member);
    EXPECT_EQ(r.sound_enabled, 1);
    EXPECT_EQ(r.printer_enabled, 0);
    // Empty lists select nothing: the tables keep what they held.
    for (const auto &t : loaded.tabs)
        EXPECT_EQ(std::count(t.begin(), t.end(), 5), SETTINGS_LETTERS);
    EXPECT_EQ(r.filters.pattern_list, nullptr);
}

TEST(Confwrite, WritesTheDefaultsToANewFile)
{
    ScratchDir dir;
    const std::string path = dir.file("tovane.conf");
    {
        LogCapture log;
        EXPECT_EQ(confwrite_write(path.c_str()), 1);
        ASSERT_EQ(log.at(G_LOG_LEVEL_CRITICAL).size(), 1u);
        EXPECT_EQ(log.at(G_LOG_LEVEL_CRITICAL)[0].rfind("Loading config-file '" + path + "' failed", 0), 0u);
    }
    const std::string text = read_text(path);
    for (const char *key : {"filter-490=\n", "filter-518=\n", "filter-4209=\n"}) {
        size_t first = text.find(key);
        ASSERT_NE(first, std::string::npos) << key;
        EXPECT_NE(text.find(key, first + 1), std::string::npos) << key << " in both groups";
    }
    EXPECT_NE(text.find("visible-messages=120\n"), std::string::npos);
    expect_defaults(path);
}

TEST(Confwrite, KeepsForeignGroupsAndEmptiesTheLists)
{
    ScratchDir dir;
    const std::string path = dir.file("tovane.conf");
    write_text(path, "[general]\nbrightness=3\nserial=1234\n"
                     "[coast-stations]\nfilter-518=A;E;\n[calibration]\noffset=-4\n");
    EXPECT_EQ(confwrite_write(path.c_str()), 1);
    const std::string text = read_text(path);
    EXPECT_NE(text.find("serial=1234\n"), std::string::npos);
    EXPECT_NE(text.find("[calibration]\noffset=-4\n"), std::string::npos);
    EXPECT_EQ(text.find("A;E;"), std::string::npos);
    expect_defaults(path);
}

TEST(Confwrite, ReportsAnUnwritableFile)
{
    ScratchDir dir;
    EXPECT_EQ(confwrite_write(dir.file("no/such/folder/tovane.conf").c_str()), -1);
}

// ---- the program ----

enum class Jffs2 { empty, with_file, absent };

struct RunResult {
    std::string skip; // reason, when the program could not be run safely
    int status = -1;
    bool wrote = false;
    std::string output;
    std::string errors;
};

// Child side, after fork: builds a private root on a tmpfs in a new mount
// namespace, binds the real top-level folders into it, gives it its own
// /jffs2, runs the program chrooted there and copies the result out.
// Exit codes 10 to 19 mean the sandbox could not be built.
[[noreturn]] void sandbox_child(const std::string &scratch, Jffs2 jffs2)
{
    const std::string root = scratch + "/root";
    if (unshare(CLONE_NEWNS) != 0)
        _exit(10);
    // Nothing mounted below may ever show in the parent's namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        _exit(11);
    if (mount("tmpfs", root.c_str(), "tmpfs", 0, "mode=0755") != 0)
        _exit(12);
    DIR *top = opendir("/");
    if (!top)
        _exit(13);
    while (dirent *e = readdir(top)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == "jffs2")
            continue;
        const std::string real = "/" + name, inside = root + "/" + name;
        struct stat st;
        if (lstat(real.c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(real.c_str(), target, sizeof target - 1);
            if (n > 0) {
                target[n] = '\0';
                (void)!symlink(target, inside.c_str());
            }
        } else if (S_ISDIR(st.st_mode)) {
            if (mkdir(inside.c_str(), 0755) == 0)
                (void)!mount(real.c_str(), inside.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
        }
    }
    closedir(top);
    const std::string jffs2_dir = root + "/jffs2", conf = jffs2_dir + "/tovane.conf";
    if (jffs2 != Jffs2::absent && mkdir(jffs2_dir.c_str(), 0755) != 0)
        _exit(14);
    if (jffs2 == Jffs2::with_file)
        write_text(conf, read_text(scratch + "/initial.conf"));

    int err = open((scratch + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0)
        _exit(15);
    pid_t pid = fork();
    if (pid < 0)
        _exit(16);
    if (pid == 0) {
        if (chroot(root.c_str()) != 0 || chdir("/") != 0)
            _exit(126);
        dup2(err, STDERR_FILENO);
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        execl(CONFWRITE_BIN, "confwrite", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        _exit(17);
    write_text(scratch + "/status.txt", std::to_string(status));
    if (access(conf.c_str(), F_OK) == 0)
        write_text(scratch + "/out.conf", read_text(conf));
    _exit(0);
}

RunResult run_confwrite(Jffs2 jffs2, const std::string &initial = {})
{
#ifdef NAVTEX_UNDER_EMULATOR
    // The chrooted program would need the emulator's library tree inside
    // the sandbox; the same code runs natively on the host.
    RunResult skipped;
    skipped.skip = "the sandboxed program run is not possible under user-mode emulation";
    (void)jffs2;
    (void)initial;
    return skipped;
#endif
    RunResult result;
    if (geteuid() != 0) {
        result.skip = "running confwrite needs a private mount namespace for its fixed path "
                      "/jffs2/tovane.conf, which takes root";
        return result;
    }
    ScratchDir dir;
    if (dir.path().empty()) {
        result.skip = "no scratch folder";
        return result;
    }
    const std::string root = dir.file("root");
    if (mkdir(root.c_str(), 0755) != 0) {
        result.skip = "cannot create the sandbox root";
        return result;
    }
    if (jffs2 == Jffs2::with_file)
        write_text(dir.file("initial.conf"), initial);

    pid_t pid = fork();
    if (pid < 0) {
        result.skip = "fork failed";
        return result;
    }
    if (pid == 0)
        sandbox_child(dir.path(), jffs2);

    int status = 0;
    pid_t done = 0;
    for (int waited = 0; waited < 60000 && done == 0; waited += 10) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0)
            usleep(10000);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the sandboxed confwrite did not finish";
    }
    // The sandbox root must be an empty folder again here: remove it without
    // recursing, so that a mount leaking out could never be emptied.
    if (rmdir(root.c_str()) != 0) {
        // Never let the scratch folder's recursive removal reach into it.
        fprintf(stderr, "sandbox root %s is not empty; stopping and leaving it in place\n",
                root.c_str());
        _exit(99);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (code >= 10 && code <= 16) {
            result.skip = "cannot build a private mount namespace here (step " +
                          std::to_string(code) + ": " + "unshare/mount not permitted?)";
            return result;
        }
        ADD_FAILURE() << "sandbox failed with status " << status;
        return result;
    }
    result.status = std::stoi(read_text(dir.file("status.txt")));
    result.wrote = access(dir.file("out.conf").c_str(), F_OK) == 0;
    result.output = read_text(dir.file("out.conf"));
    result.errors = read_text(dir.file("stderr.txt"));
    if (result.wrote)
        write_text(dir.file("copy.conf"), result.output);
    if (result.wrote)
        expect_defaults(dir.file("copy.conf"));
    return result;
}

TEST(ConfwriteProgram, WritesTheDefaultFileIntoJffs2)
{
    RunResult run = run_confwrite(Jffs2::empty);
    if (!run.skip.empty())
        GTEST_SKIP() << run.skip;
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    ASSERT_TRUE(run.wrote);
    EXPECT_EQ(run.output.rfind("[general]\n", 0), 0u);
    EXPECT_NE(run.errors.find("Loading config-file '/jffs2/tovane.conf' failed"), std::string::npos)
        << run.errors;
}

TEST(ConfwriteProgram, KeepsForeignKeysOfAnExistingFile)
{
    RunResult run = run_confwrite(Jffs2::with_file, "[general]\nserial=1234\nbrightness=9\n");
    if (!run.skip.empty())
        GTEST_SKIP() << run.skip;
    EXPECT_EQ(run.status, 0);
    ASSERT_TRUE(run.wrote);
    EXPECT_NE(run.output.find("serial=1234\n"), std::string::npos);
    EXPECT_NE(run.output.find("brightness=165\n"), std::string::npos);
    EXPECT_EQ(run.errors.find("Loading config-file"), std::string::npos) << run.errors;
}

TEST(ConfwriteProgram, ExitsZeroWhenTheFileCannotBeWritten)
{
    RunResult run = run_confwrite(Jffs2::absent);
    if (!run.skip.empty())
        GTEST_SKIP() << run.skip;
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(run.wrote);
    EXPECT_NE(run.errors.find("Could not open file: /jffs2/tovane.conf"), std::string::npos)
        << run.errors;
}

} // namespace
