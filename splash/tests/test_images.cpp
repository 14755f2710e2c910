// The four built-in splash images: form, colours and layout, that the
// committed sources are what the generator draws, and that the PNG
// previews beside them show the same pixels.
#include "xpm.h"

#include "run_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "usb_detect.xpm"
#include "usb_done.xpm"
#include "usb_error.xpm"
#include "usb_ok.xpm"

namespace {

constexpr int W = 640, H = 240;

struct builtin {
    const char *name;
    const char *const *xpm;
    size_t lines;
    int colors;
};

const builtin builtins[] = {
    {"USB-DETECT", usb_detect_xpm, std::size(usb_detect_xpm), 22},
    {"USB-OK", usb_ok_xpm, std::size(usb_ok_xpm), 3},
    {"USB-DONE", usb_done_xpm, std::size(usb_done_xpm), 3},
    {"USB-ERROR", usb_error_xpm, std::size(usb_error_xpm), 3},
};

std::vector<unsigned char> render(const char *const *xpm, int depth)
{
    std::vector<unsigned char> buf(static_cast<size_t>(W) * H * depth, 0x5A);
    testing::internal::CaptureStdout();
    ReadXPMImage(xpm, buf.data(), W, H, depth);
    testing::internal::GetCapturedStdout();
    return buf;
}

uint32_t rgb(const std::vector<unsigned char> &buf, int x, int y)
{
    size_t i = (static_cast<size_t>(y) * W + x) * 3;
    return buf[i] | (buf[i + 1] << 8) | (buf[i + 2] << 16);
}

struct box {
    int left = W, top = H, right = -1, bottom = -1;
};

box lit_box(const std::vector<unsigned char> &rgb_buf, int x0 = 0, int y0 = 0, int x1 = W - 1,
            int y1 = H - 1)
{
    box b;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (rgb(rgb_buf, x, y) != 0) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
    return b;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(SplashImages, FormOfTheArrays)
{
    for (const builtin &b : builtins) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(b.lines, 1u + b.colors + H);
        EXPECT_EQ(std::string(b.xpm[0]), "640 240 " + std::to_string(b.colors) + " 1");
        EXPECT_EQ(std::string(b.xpm[1]), " \tc None");
        EXPECT_EQ(std::string(b.xpm[2]), ".\tc #000000");
        EXPECT_EQ(std::string(b.xpm[3]), "+\tc #FFFFFF");
        std::set<char> keys;
        for (int i = 1; i <= b.colors; ++i)
            keys.insert(b.xpm[i][0]);
        EXPECT_EQ(keys.size(), static_cast<size_t>(b.colors));
        for (int y = 0; y < H; ++y) {
            const std::string row = b.xpm[1 + b.colors + y];
            ASSERT_EQ(row.size(), static_cast<size_t>(W)) << "row " << y;
            for (char c : row)
                ASSERT_TRUE(keys.count(c)) << "row " << y << " key '" << c << "'";
        }
    }
}

TEST(SplashImages, ColoursUsed)
{
    for (const builtin &b : builtins) {
        SCOPED_TRACE(b.name);
        auto buf = render(b.xpm, 3);
        std::map<uint32_t, int> used;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                used[rgb(buf, x, y)]++;
        // Black (and the unused "None") plus white, plus the greys.
        const size_t greys = static_cast<size_t>(b.colors) - 3;
        ASSERT_EQ(used.size(), 2 + greys);
        EXPECT_GT(used[0x000000], used[0xFFFFFF]); // white on black
        int grey_pixels = 0;
        for (auto [colour, count] : used) {
            if (colour == 0 || colour == 0xFFFFFF)
                continue;
            uint32_t r = colour >> 16, g = (colour >> 8) & 0xFF, bl = colour & 0xFF;
            EXPECT_TRUE(r == g && g == bl) << std::hex << colour;
            grey_pixels += count;
        }
        if (greys > 0) {
            // A few dozen smoothed edge pixels, not a grey picture.
            EXPECT_GE(grey_pixels, 24);
            EXPECT_LE(grey_pixels, 120);
        }
    }
}

TEST(SplashImages, GreysLieOnEdges)
{
    auto buf = render(usb_detect_xpm, 3);
    for (int y = 1; y < H - 1; ++y)
        for (int x = 1; x < W - 1; ++x) {
            uint32_t c = rgb(buf, x, y);
            if (c == 0 || c == 0xFFFFFF)
                continue;
            bool dark_near = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    dark_near |= rgb(buf, x + dx, y + dy) == 0;
            EXPECT_TRUE(dark_near) << "grey at " << x << "," << y;
        }
}

TEST(SplashImages, ArtworkFillsItsAreaWithLogoTextAndFooter)
{
    for (const builtin &b : builtins) {
        SCOPED_TRACE(b.name);
        auto buf = render(b.xpm, 3);
        box all = lit_box(buf);
        EXPECT_EQ(all.left, 53);
        EXPECT_EQ(all.top, 36);
        EXPECT_EQ(all.right, 613);
        EXPECT_EQ(all.bottom, 221);
        // The logo fills the left part from top to bottom.
        box logo = lit_box(buf, 0, 0, 250, H - 1);
        EXPECT_EQ(logo.left, 53);
        EXPECT_EQ(logo.top, 36);
        EXPECT_EQ(logo.bottom, 221);
        // Text at the right, clear of the footer.
        box text = lit_box(buf, 251, 0, W - 1, 190);
        EXPECT_GT(text.left, 250);
        EXPECT_LT(text.right, 613);
        EXPECT_GT(text.bottom - text.top, 15);
        // The footer sits in the bottom right-hand corner.
        box foot = lit_box(buf, 251, 191, W - 1, H - 1);
        EXPECT_GT(foot.left, 400);
        EXPECT_EQ(foot.right, 613);
        EXPECT_EQ(foot.bottom, 221);
    }
}

TEST(SplashImages, EachImageLooksDifferentOnTheBoard)
{
    std::vector<std::vector<unsigned char>> seen;
    for (const builtin &b : builtins) {
        auto buf = render(b.xpm, 1);
        for (unsigned char v : buf)
            ASSERT_TRUE(v == 0x00 || v == 0xFF) << b.name;
        for (const auto &other : seen)
            EXPECT_NE(buf, other) << b.name;
        seen.push_back(buf);
    }
}

TEST(SplashImages, CommittedFilesAreWhatTheGeneratorDraws)
{
    char tmpl[] = "/tmp/splashgen.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    program_result r = run_program({SPLASHGEN_BIN, dir});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *name : {"usb_detect", "usb_ok", "usb_done", "usb_error"}) {
        const std::string file = std::string(name) + ".xpm";
        const std::string fresh = slurp(dir + "/" + file);
        EXPECT_FALSE(fresh.empty()) << file;
        EXPECT_TRUE(fresh == slurp(std::string(SPLASH_IMAGES_DIR) + "/" + file))
            << file << " differs from the generator's drawing";
        std::remove((dir + "/" + file).c_str());
    }
    rmdir(dir.c_str());
}

// The previews are converted by ImageMagick (splash/tools/previews.sh);
// decoded by it again, each must hold its XPM's grey levels exactly.
TEST(SplashImages, PreviewsShowTheBuiltInImages)
{
    if (run_program({"/usr/bin/env", "convert", "-version"}, "", 120).status != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const std::string names[] = {"usb_detect", "usb_ok", "usb_done", "usb_error"};
    for (size_t i = 0; i < std::size(builtins); ++i) {
        SCOPED_TRACE(names[i]);
        program_result r = run_program({"/usr/bin/env", "convert",
                                        std::string(SPLASH_IMAGES_DIR) + "/" + names[i] + ".png", "-depth", "8",
                                        "gray:-"},
                                       "", 120);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out.size(), static_cast<size_t>(W) * H);
        auto buf = render(builtins[i].xpm, 3);
        size_t differ = 0;
        for (size_t p = 0; p < r.out.size(); ++p)
            differ += static_cast<unsigned char>(r.out[p]) != buf[p * 3];
        EXPECT_EQ(differ, 0u) << names[i] << ".png is not the XPM's picture; run splash/tools/previews.sh";
    }
}
