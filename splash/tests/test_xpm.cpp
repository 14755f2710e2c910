#include "xpm.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// XPM lines kept on the heap, so that reading past a line's end is
// caught by the address sanitizer; the array ends with a null line.
struct xpm_lines {
    std::vector<std::string> text;
    std::vector<const char *> ptrs;

    explicit xpm_lines(std::vector<std::string> lines) : text(std::move(lines))
    {
        for (const std::string &s : text)
            ptrs.push_back(s.c_str());
        ptrs.push_back(nullptr);
    }
    const char *const *get() const { return ptrs.data(); }
};

constexpr unsigned char fill_byte = 0xA5;

// Paints into a buffer of width x height pixels followed by a guard
// area; returns the whole buffer, guard included, and what was printed.
std::vector<unsigned char> paint(const xpm_lines &xpm, int width, int height, int depth,
                                 std::string *printed = nullptr)
{
    std::vector<unsigned char> buf(
        static_cast<size_t>(width) * height * (depth > 0 ? depth : 1) + 64, fill_byte);
    testing::internal::CaptureStdout();
    ReadXPMImage(xpm.get(), buf.data(), width, height, depth);
    std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr)
        *printed = out;
    return buf;
}

uint32_t rgb_at(const std::vector<unsigned char> &buf, size_t pixel)
{
    return buf[pixel * 3] | (buf[pixel * 3 + 1] << 8) | (buf[pixel * 3 + 2] << 16);
}

bool untouched(const std::vector<unsigned char> &buf, size_t from)
{
    for (size_t i = from; i < buf.size(); ++i)
        if (buf[i] != fill_byte)
            return false;
    return true;
}

} // namespace

TEST(XpmHeader, FieldsArePrintedInOrderColsRowsColorsIdwidth)
{
    std::string printed;
    paint(xpm_lines({"640 240 3 1", " \tc None", ".\tc #000000", "+\tc #FFFFFF"}), 640, 1, 1,
          &printed);
    EXPECT_EQ(printed, "ReadXPMImage():168 - cols: 640   rows: 240   colors: 3   idwidth: 1\n");
    paint(xpm_lines({"7 5 2 3", "abc\tc #000000", "def\tc #FFFFFF"}), 7, 5, 1, &printed);
    EXPECT_EQ(printed, "ReadXPMImage():168 - cols: 7   rows: 5   colors: 2   idwidth: 3\n");
}

TEST(XpmHeader, MalformedHeadersPaintNothing)
{
    const std::vector<std::string> bad = {
        "2 1 1 1 0 0", // hotspot pair
        "2 1 1",       // three fields
        "",            // nothing
        "2 x 1 1",     // not a number
        "2  1 1 1",    // double blank makes an empty field
        "2 1 1 1 ",    // trailing blank
        "2 1 1 0",     // no pixel characters
        "-2 1 1 1",    // negative
        "2 1 1 99999999999", // out of range
        "2\t1 1 1",    // only blanks separate
    };
    for (const std::string &header : bad) {
        SCOPED_TRACE(header);
        xpm_lines xpm({header, "+\tc #FFFFFF", "++"});
        std::string printed;
        auto buf = paint(xpm, 2, 1, 1, &printed);
        EXPECT_EQ(printed, "");
        EXPECT_TRUE(untouched(buf, 0));
    }
    // A null array or header line is no image either.
    ReadXPMImage(nullptr, nullptr, 2, 1, 1);
    const char *no_header[] = {nullptr};
    std::vector<unsigned char> buf(4, fill_byte);
    ReadXPMImage(no_header, buf.data(), 2, 1, 1);
    EXPECT_EQ(buf, std::vector<unsigned char>(4, fill_byte));
}

TEST(XpmColors, TabBeforeKeywordDefinesColourAndBlankDoesNot)
{
    xpm_lines xpm({"5 1 5 1", ".\tc #000000", "+\tc #FFFFFF", " \tc None", "x c #123456",
                   "y\tc #ABCDEF", ".+ xy"});
    auto buf = paint(xpm, 5, 1, 3);
    EXPECT_EQ(rgb_at(buf, 0), 0x000000u);
    EXPECT_EQ(rgb_at(buf, 1), 0xFFFFFFu);
    EXPECT_EQ(rgb_at(buf, 2), 0x000000u); // None
    EXPECT_EQ(rgb_at(buf, 3), 0x000000u); // no colour: key missing
    EXPECT_EQ(rgb_at(buf, 4), 0xABCDEFu);
    EXPECT_TRUE(untouched(buf, 15));
}

TEST(XpmColors, OtherKeywordsAndFurtherKeywordsInTheLine)
{
    xpm_lines xpm({"5 1 5 1", "a\tc #123456\tm #FFFFFF", "b\tm #00FF00", "c\tg4 #0000FF",
                   "d\ts symbol\tc #654321", "e\tc #ff8000", "abcde"});
    auto buf = paint(xpm, 5, 1, 3);
    EXPECT_EQ(rgb_at(buf, 0), 0x123456u); // cut at the "m" that follows
    EXPECT_EQ(rgb_at(buf, 1), 0x00FF00u);
    EXPECT_EQ(rgb_at(buf, 2), 0x0000FFu);
    EXPECT_EQ(rgb_at(buf, 3), 0x654321u); // "c " outranks an earlier "s "
    EXPECT_EQ(rgb_at(buf, 4), 0xFF8000u);
}

TEST(XpmColors, ParseFindsKeywordsByRank)
{
    const char *t = "\tm #000000\tc #FFFFFF";
    EXPECT_EQ(ParseXPMColor(t), t + 11);
    const char *g4 = "\tg4 #808080";
    EXPECT_EQ(ParseXPMColor(g4), g4 + 1);
    // A blank before the keyword hides it; a later occurrence counts.
    const char *twice = " c #111111\tc #222222";
    EXPECT_EQ(ParseXPMColor(twice), twice + 11);
    // At the first position the preceding character decides.
    EXPECT_EQ(ParseXPMColor("c #FFFFFF", ' '), nullptr);
    const char *start = "c #FFFFFF";
    EXPECT_EQ(ParseXPMColor(start, '.'), start);
    EXPECT_EQ(ParseXPMColor(""), nullptr);
    EXPECT_EQ(ParseXPMColor("\nc #FFFFFF"), nullptr);
    EXPECT_EQ(ParseXPMColor("#FFFFFF\nc #000000"), nullptr); // scan stops at the newline
    EXPECT_EQ(ParseXPMColor(nullptr), nullptr);
    EXPECT_EQ(ParseXPMColor("\tcolor"), nullptr);
}

TEST(XpmColors, CopyIsBoundedAndTerminated)
{
    char dst[8];
    std::memset(dst, 'z', sizeof dst);
    EXPECT_STREQ(CopyXPMColor(dst, "#123456789", 7), "#123456");
    std::memset(dst, 'z', sizeof dst);
    EXPECT_STREQ(CopyXPMColor(dst, "ab", 7), "ab");
    EXPECT_STREQ(CopyXPMColor(dst, "ab", 0), "");
    EXPECT_STREQ(CopyXPMColor(dst, nullptr, 7), "");
}

TEST(XpmColors, LongColourTextIsCutNotOverrun)
{
    std::string line = "a\tc #112233" + std::string(200, ' ') + "trailing";
    xpm_lines xpm({"1 1 1 1", line, "a"});
    auto buf = paint(xpm, 1, 1, 3);
    EXPECT_EQ(rgb_at(buf, 0), 0x112233u);
    // Keyword at the very end of the line: no colour text at all.
    xpm_lines bare({"1 1 1 1", "a\tc ", "a"});
    auto buf2 = paint(bare, 1, 1, 3);
    EXPECT_EQ(rgb_at(buf2, 0), 0u);
}

TEST(XpmPixels, DepthOneLightsEveryColourButBlackAndNone)
{
    xpm_lines xpm({"4 1 4 1", "a\tc #191919", "b\tc #000000", "c\tc None", "d\tc #000001", "abcd"});
    auto buf = paint(xpm, 4, 1, 1);
    EXPECT_EQ(buf[0], 0xFF);
    EXPECT_EQ(buf[1], 0x00);
    EXPECT_EQ(buf[2], 0x00);
    EXPECT_EQ(buf[3], 0xFF);
    EXPECT_TRUE(untouched(buf, 4));
}

TEST(XpmPixels, DepthTwoAndThreeByteLayouts)
{
    xpm_lines xpm({"2 1 2 1", "p\tc #123456", "q\tc #F00F80", "pq"});
    auto two = paint(xpm, 2, 1, 2);
    auto three = paint(xpm, 2, 1, 3);
    // Depth 2: low byte, then middle byte ORed with the top byte.
    EXPECT_EQ(two[0], 0x56);
    EXPECT_EQ(two[1], 0x34 | 0x12);
    EXPECT_EQ(two[2], 0x80);
    EXPECT_EQ(two[3], 0x0F | 0xF0);
    EXPECT_TRUE(untouched(two, 4));
    // Depth 3: blue, green, red.
    EXPECT_EQ(std::vector<unsigned char>(three.begin(), three.begin() + 6),
              (std::vector<unsigned char>{0x56, 0x34, 0x12, 0x80, 0x0F, 0xF0}));
    EXPECT_TRUE(untouched(three, 6));
}

TEST(XpmPixels, UnsupportedDepthWritesNothing)
{
    xpm_lines xpm({"2 1 1 1", "+\tc #FFFFFF", "++"});
    for (int depth : {0, 4, -1})
        EXPECT_TRUE(untouched(paint(xpm, 2, 1, depth), 0)) << "depth " << depth;
}

TEST(XpmPixels, ImageLandsTopLeftAndRowsStepByBufferWidth)
{
    xpm_lines xpm({"2 2 2 2", "..\tc #000000", "##\tc #FFFFFF", "##..", "..##"});
    auto buf = paint(xpm, 5, 3, 1);
    const std::vector<unsigned char> want = {
        0xFF,      0x00,      fill_byte, fill_byte, fill_byte, //
        0x00,      0xFF,      fill_byte, fill_byte, fill_byte, //
        fill_byte, fill_byte, fill_byte, fill_byte, fill_byte,
    };
    EXPECT_EQ(std::vector<unsigned char>(buf.begin(), buf.begin() + 15), want);
    EXPECT_TRUE(untouched(buf, 15));
}

TEST(XpmPixels, MissingKeyPaintsZero)
{
    xpm_lines xpm({"3 1 1 1", "+\tc #FFFFFF", "+?+"});
    auto buf = paint(xpm, 3, 1, 3);
    EXPECT_EQ(rgb_at(buf, 0), 0xFFFFFFu);
    EXPECT_EQ(rgb_at(buf, 1), 0u);
    EXPECT_EQ(rgb_at(buf, 2), 0xFFFFFFu);
}

TEST(XpmPixels, LetterCaseOfKeysIsFoldedByTheTable)
{
    // "a" and "A" are one key to the table: the first definition wins.
    xpm_lines xpm({"2 1 2 1", "a\tc #111111", "A\tc #222222", "aA"});
    auto buf = paint(xpm, 2, 1, 3);
    EXPECT_EQ(rgb_at(buf, 0), 0x111111u);
    EXPECT_EQ(rgb_at(buf, 1), 0x111111u);
}

TEST(XpmSafety, WideImageIsClippedToTheBuffer)
{
    xpm_lines xpm({"6 2 1 1", "+\tc #FFFFFF", "++++++", "++++++"});
    auto buf = paint(xpm, 4, 2, 1);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(buf[i], 0xFF) << i;
    EXPECT_TRUE(untouched(buf, 8)); // no extra columns
}

TEST(XpmPixels, TheImagesRowCountDecidesNotTheHeight)
{
    // Three rows are painted whatever height the caller names, and no
    // fourth row for a taller buffer.
    xpm_lines xpm({"1 3 1 1", "+\tc #FFFFFF", "+", "+", "+"});
    for (int height : {0, 1, 2, 5}) {
        std::vector<unsigned char> buf(8, fill_byte);
        testing::internal::CaptureStdout();
        ReadXPMImage(xpm.get(), buf.data(), 1, height, 1);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::vector<unsigned char>(buf.begin(), buf.begin() + 3),
                  (std::vector<unsigned char>{0xFF, 0xFF, 0xFF}))
            << "height " << height;
        EXPECT_TRUE(untouched(buf, 3)) << "height " << height;
    }
}

TEST(XpmSafety, LongKeysBypassTheCacheButKeepTheirColours)
{
    xpm_lines xpm({"4 1 2 7", "abcdefX\tc #010203", "abcdefY\tc #0A0B0C",
                   "abcdefXabcdefYabcdefYabcdefX"});
    auto buf = paint(xpm, 4, 1, 3);
    EXPECT_EQ(rgb_at(buf, 0), 0x010203u);
    EXPECT_EQ(rgb_at(buf, 1), 0x0A0B0Cu);
    EXPECT_EQ(rgb_at(buf, 2), 0x0A0B0Cu);
    EXPECT_EQ(rgb_at(buf, 3), 0x010203u);
    EXPECT_TRUE(untouched(buf, 12));
}

TEST(XpmSafety, TruncatedArraysStopEarly)
{
    // The array ends inside the colour lines: no pixels at all.
    xpm_lines in_colors({"2 2 3 1", "+\tc #FFFFFF"});
    auto a = paint(in_colors, 2, 2, 1);
    EXPECT_TRUE(untouched(a, 0));

    // The array ends after the first row: that row only.
    xpm_lines in_rows({"2 3 1 1", "+\tc #FFFFFF", "++"});
    auto b = paint(in_rows, 2, 3, 1);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[1], 0xFF);
    EXPECT_TRUE(untouched(b, 2));
}

TEST(XpmSafety, ShortLinesAreNotOverrun)
{
    // A row cut short paints its missing pixels dark; a colour line
    // shorter than its key defines nothing.
    xpm_lines xpm({"3 2 2 2", "++\tc #FFFFFF", "-", "++", "++++++"});
    auto buf = paint(xpm, 3, 2, 1);
    EXPECT_EQ(std::vector<unsigned char>(buf.begin(), buf.begin() + 6),
              (std::vector<unsigned char>{0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(untouched(buf, 6));
}

TEST(XpmCache, NextImageDoesNotSeeTheLastImagesColours)
{
    xpm_lines white({"1 1 1 1", ".\tc #FFFFFF", "."});
    xpm_lines black({"1 1 1 1", ".\tc #000000", "."});
    auto a = paint(white, 1, 1, 3);
    auto b = paint(black, 1, 1, 3);
    EXPECT_EQ(rgb_at(a, 0), 0xFFFFFFu);
    EXPECT_EQ(rgb_at(b, 0), 0u);
}

TEST(XpmCache, GetColorLooksUpThroughTheTable)
{
    hashmap_t m = hashmap_create(2);
    uint32_t red = 0xFF0000, blue = 0x0000FF;
    ASSERT_EQ(hashmap_insert(m, "r", &red, 4), 0);
    ASSERT_EQ(hashmap_insert(m, "b", &blue, 4), 0);
    EXPECT_EQ(get_color(m, "r"), red);
    EXPECT_EQ(get_color(m, "r"), red);
    EXPECT_EQ(get_color(m, "B"), blue);
    EXPECT_EQ(get_color(m, "b"), blue);
    EXPECT_EQ(get_color(m, "x"), 0u);
    EXPECT_EQ(get_color(m, "r"), red);
    EXPECT_EQ(get_color(m, nullptr), 0u);
    hashmap_delete(m);
}
