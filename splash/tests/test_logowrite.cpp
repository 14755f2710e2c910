// logowrite run as a program, painting into a sparse file that stands in
// for physical memory, and its frame-buffer module in-process.
#include "bootsplash.h"
#include "xpm.h"

#include "run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "usb_detect.xpm"
#include "usb_done.xpm"
#include "usb_error.xpm"
#include "usb_ok.xpm"

namespace {

const char help_text[] = "\n"
                         "A SAM9263 splash utility\n"
                         "\n"
                         "Usage: logowrite [OPTIONS]\n"
                         "\n"
                         "Arguments:\n"
                         "  -h, --help           Help text (this text)\n"
                         "  -v, --version        Prints version info\n"
                         "  -s, --splash         Splash screen to display. Can be one of:\n"
                         "                         USB-DETECT\n"
                         "                         USB-OK\n"
                         "                         USB-DONE\n"
                         "                         USB-ERROR\n"
                         "\n"
                         "\n";

const char no_argument_text[] = "Error! No argument supplied\n";
const char painted_line[] = "ReadXPMImage():168 - cols: 640   rows: 240   colors: %d   idwidth: 1\n";

constexpr off_t fb_offset = 0x23F80000;
constexpr size_t fb_window = 1024 * 1024;
constexpr size_t guard = 4096;
constexpr size_t image_bytes = 640 * 240;

unsigned char pattern(size_t i)
{
    return static_cast<unsigned char>(i * 131 + 7);
}

std::vector<unsigned char> depth_one(const char *const *xpm)
{
    std::vector<unsigned char> buf(image_bytes, 0x5A);
    testing::internal::CaptureStdout();
    ReadXPMImage(xpm, buf.data(), 640, 240, 1);
    testing::internal::GetCapturedStdout();
    return buf;
}

// A temporary folder holding "fbmem.img": sparse up to the frame buffer,
// whose window and a guard page on either side hold a known pattern.
class FrameBufferFile : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/logowrite.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/fbmem.img";
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, fb_offset + fb_window + guard), 0);
        std::vector<unsigned char> region(fb_window + 2 * guard);
        for (size_t i = 0; i < region.size(); ++i)
            region[i] = pattern(i);
        ASSERT_EQ(pwrite(fd, region.data(), region.size(), fb_offset - guard),
                  static_cast<ssize_t>(region.size()));
        close(fd);
    }

    void TearDown() override
    {
        unlink(path.c_str());
        rmdir(dir.c_str());
    }

    // The window with its guard pages.
    std::vector<unsigned char> region() const
    {
        std::vector<unsigned char> buf(fb_window + 2 * guard);
        int fd = open(path.c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(pread(fd, buf.data(), buf.size(), fb_offset - guard),
                  static_cast<ssize_t>(buf.size()));
        close(fd);
        return buf;
    }

    // Every byte of the region outside [from, to) of the window still
    // holds the pattern.
    void expect_pattern_outside(const std::vector<unsigned char> &buf, size_t from, size_t to) const
    {
        size_t wrong = 0;
        for (size_t i = 0; i < buf.size(); ++i) {
            if (i >= guard + from && i < guard + to)
                continue;
            wrong += buf[i] != pattern(i);
        }
        EXPECT_EQ(wrong, 0u) << "bytes changed outside the image";
    }

    void expect_untouched() const { expect_pattern_outside(region(), 0, 0); }

    void expect_painted(const char *const *xpm) const
    {
        auto buf = region();
        std::vector<unsigned char> image(buf.begin() + guard, buf.begin() + guard + image_bytes);
        for (unsigned char v : image)
            ASSERT_TRUE(v == 0x00 || v == 0xFF);
        EXPECT_TRUE(image == depth_one(xpm)) << "not the expected picture";
        // The artwork lies within x 53..613, y 36..221 and reaches each edge.
        int left = 640, top = 240, right = -1, bottom = -1;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 640; ++x)
                if (image[y * 640 + x] == 0xFF) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        EXPECT_EQ((std::vector<int>{left, top, right, bottom}),
                  (std::vector<int>{53, 36, 613, 221}));
        expect_pattern_outside(buf, 0, image_bytes);
    }

    program_result run(std::vector<std::string> args) const
    {
        args.insert(args.begin(), LOGOWRITE_FILEFB_BIN);
        return run_program(args, dir);
    }

    std::string dir;
    std::string path;
};

// The version text: its two fixed lines round the build date and time
// ("Dec  8 2026 16:01:04").
bool is_version_text(const std::string &t)
{
    const std::string head = "\nVersion 0.1-arm-unknown-linux-gnu build exported\n";
    if (t.rfind(head, 0) != 0 || t.size() != head.size() + 20 + 2)
        return false;
    const std::string stamp = t.substr(head.size(), 20);
    const char *form = "Aaa #9 9999 99:99:99";
    for (size_t i = 0; i < stamp.size(); ++i) {
        const unsigned char c = stamp[i];
        bool ok = form[i] == 'A'   ? std::isupper(c)
                  : form[i] == 'a' ? std::islower(c)
                  : form[i] == '9' ? std::isdigit(c)
                  : form[i] == '#' ? (c == ' ' || std::isdigit(c))
                                   : c == static_cast<unsigned char>(form[i]);
        if (!ok)
            return false;
    }
    return t.compare(head.size() + 20, 2, "\n\n") == 0;
}

std::string painted(int colors)
{
    char line[128];
    std::snprintf(line, sizeof line, painted_line, colors);
    return line;
}

} // namespace

TEST_F(FrameBufferFile, EachNamePaintsItsImage)
{
    struct {
        std::vector<std::string> args;
        const char *const *xpm;
        int colors;
    } cases[] = {
        {{"-s", "USB-DETECT"}, usb_detect_xpm, 22},
        {{"-s", "USB-OK"}, usb_ok_xpm, 3},
        {{"--splash", "USB-DONE"}, usb_done_xpm, 3},
        {{"--splash=USB-ERROR"}, usb_error_xpm, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back());
        program_result r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, painted(c.colors));
        expect_painted(c.xpm);
    }
}

TEST_F(FrameBufferFile, LaterSplashOptionReplacesEarlier)
{
    program_result r = run({"-s", "USB-OK", "-sUSB-DONE"});
    EXPECT_EQ(r.status, 0);
    expect_painted(usb_done_xpm);
}

TEST_F(FrameBufferFile, UnknownNamesPaintNothing)
{
    for (const std::string &name : {std::string("usb-ok"), std::string("USB"), std::string(""),
                                    std::string(300, 'U')}) {
        program_result r = run({"-s", name});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, no_argument_text);
        EXPECT_EQ(r.out, "");
    }
    // A plain argument is no splash name.
    program_result r = run({"USB-OK"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, no_argument_text);
    expect_untouched();
}

TEST_F(FrameBufferFile, VersionAndHelpWinOverAnEarlierSplash)
{
    for (const char *opt : {"-v", "--version"}) {
        program_result r = run({"-s", "USB-OK", opt});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(is_version_text(r.err)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    for (const char *opt : {"-h", "--help"}) {
        program_result r = run({"-s", "USB-OK", opt});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, help_text);
    }
    expect_untouched();
}

TEST_F(FrameBufferFile, HelpForNoArgumentsAndUnknownOptions)
{
    program_result none = run({});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.err, help_text);

    // getopt names the fault first; the help text follows.
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-x"}, {"--colour", "-s", "USB-OK"}, {"-s"}}) {
        program_result r = run(args);
        EXPECT_EQ(r.status, 0);
        ASSERT_GE(r.err.size(), sizeof help_text - 1);
        EXPECT_EQ(r.err.substr(r.err.size() - (sizeof help_text - 1)), help_text);
        EXPECT_NE(r.err, help_text) << "no word on the bad option";
    }
    expect_untouched();
}

TEST_F(FrameBufferFile, MissingOrShortMemoryIsReported)
{
    ASSERT_EQ(truncate(path.c_str(), fb_offset + fb_window - 1), 0);
    program_result r = run({"-s", "USB-OK"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot map the frame buffer"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    unlink(path.c_str());
    r = run({"-s", "USB-OK"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
}

TEST_F(FrameBufferFile, InitBootsplashMapsAndPaints)
{
    testing::internal::CaptureStdout();
    int rc = init_bootsplash(usb_error_xpm, path.c_str(), fb_offset);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 0);
    ASSERT_NE(LCDframebuffer, nullptr);
    // The mapping is shared: what is painted is in the file.
    ASSERT_EQ(msync(LCDframebuffer, fb_window, MS_SYNC), 0);
    expect_painted(usb_error_xpm);
    LCDframebuffer[image_bytes] = 0x42;
    ASSERT_EQ(msync(LCDframebuffer, fb_window, MS_SYNC), 0);
    EXPECT_EQ(region()[guard + image_bytes], 0x42);

    EXPECT_EQ(init_bootsplash(usb_ok_xpm, (dir + "/absent").c_str(), fb_offset), -1);
    EXPECT_EQ(init_bootsplash(usb_ok_xpm, path.c_str(), fb_offset + 2 * guard), -1); // past the end
}

TEST(LogowriteProgram, TextsOfTheBoardBuild)
{
    // Only options that paint nothing: this build writes physical memory.
    program_result none = run_program({LOGOWRITE_BIN});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.err, help_text);
    program_result help = run_program({LOGOWRITE_BIN, "--help"});
    EXPECT_EQ(help.err, help_text);
    program_result version = run_program({LOGOWRITE_BIN, "-v"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(is_version_text(version.err)) << version.err;
    program_result lower = run_program({LOGOWRITE_BIN, "-s", "usb-error"});
    EXPECT_EQ(lower.status, 0);
    EXPECT_EQ(lower.err, no_argument_text);
}
