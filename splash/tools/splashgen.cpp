// splashgen: draws the four splash images of logowrite and writes them as
// XPM sources, which the program embeds.  (splash/tools/previews.sh turns
// them into PNG pictures to look at.)
//
// Takes: an output folder.
// Gives: usb_detect.xpm, usb_ok.xpm, usb_done.xpm and usb_error.xpm:
// 640 x 240 pixels, white artwork on black inside x 53..613,
// y 36..221.  USB-DETECT has 19 grey levels on the edges of its
// anti-aliased progress dots; the others are black and white only.
// The output is the same on every run.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

// The 5 x 7 dot capitals of the texts: seven rows of five dots, bit 4
// the left column.
struct glyph {
    char ch;
    std::array<uint8_t, 7> rows;
};

const glyph font[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

constexpr int W = 640;
constexpr int H = 240;
constexpr int levels = 20; // level 0 black, 20 white, 1..19 greys

// Where the artwork must lie; checked after drawing.
constexpr int art_left = 53, art_top = 36, art_right = 613, art_bottom = 221;

struct canvas {
    std::vector<uint8_t> px = std::vector<uint8_t>(W * H, 0);

    void set(int x, int y, int level)
    {
        if (x >= 0 && x < W && y >= 0 && y < H)
            px[y * W + x] = static_cast<uint8_t>(level);
    }
    int at(int x, int y) const { return px[y * W + x]; }
};

// Hard-edged shapes: a pixel is inside when its centre is.
template <typename Inside>
void fill(canvas &c, int x0, int y0, int x1, int y1, int level, Inside inside)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (inside(x + 0.5, y + 0.5))
                c.set(x, y, level);
}

void disc(canvas &c, double cx, double cy, double r, int level)
{
    fill(c, int(cx - r) - 1, int(cy - r) - 1, int(cx + r) + 1, int(cy + r) + 1, level,
         [&](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; });
}

void segment(canvas &c, double ax, double ay, double bx, double by, double width)
{
    double half = width / 2;
    fill(c, int(std::min(ax, bx) - half) - 1, int(std::min(ay, by) - half) - 1,
         int(std::max(ax, bx) + half) + 1, int(std::max(ay, by) + half) + 1, levels,
         [&](double x, double y) {
             double dx = bx - ax, dy = by - ay;
             double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
             t = std::max(0.0, std::min(1.0, t));
             double ex = ax + t * dx - x, ey = ay + t * dy - y;
             return ex * ex + ey * ey <= half * half;
         });
}

void triangle(canvas &c, double ax, double ay, double bx, double by, double cx, double cy)
{
    auto side = [](double px, double py, double qx, double qy, double x, double y) {
        return (qx - px) * (y - py) - (qy - py) * (x - px);
    };
    fill(c, int(std::min({ax, bx, cx})) - 1, int(std::min({ay, by, cy})) - 1,
         int(std::max({ax, bx, cx})) + 1, int(std::max({ay, by, cy})) + 1, levels,
         [&](double x, double y) {
             double s1 = side(ax, ay, bx, by, x, y), s2 = side(bx, by, cx, cy, x, y),
                    s3 = side(cx, cy, ax, ay, x, y);
             return (s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0);
         });
}

void rect(canvas &c, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            c.set(x, y, levels);
}

// Anti-aliased disc: each pixel's coverage, sampled 16 x 16 times, picks
// one of the grey levels.
void smooth_disc(canvas &c, double cx, double cy, double r)
{
    constexpr int n = 16;
    for (int y = int(cy - r) - 1; y <= int(cy + r) + 1; ++y) {
        for (int x = int(cx - r) - 1; x <= int(cx + r) + 1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < n; ++sy)
                for (int sx = 0; sx < n; ++sx) {
                    double px = x + (sx + 0.5) / n, py = y + (sy + 0.5) / n;
                    hits += (px - cx) * (px - cx) + (py - cy) * (py - cy) <= r * r;
                }
            int level = (hits * levels + n * n / 2) / (n * n);
            if (level > c.at(x, y))
                c.set(x, y, level);
        }
    }
}

const glyph &glyph_of(char ch)
{
    for (const glyph &g : font)
        if (g.ch == ch)
            return g;
    std::cerr << "splashgen: no glyph for '" << ch << "'\n";
    std::exit(1);
}

int text_width(const std::string &s, int scale)
{
    return s.empty() ? 0 : int(s.size()) * 6 * scale - scale;
}

// Draws text with its top-left corner at (x0, y0); glyph cells are
// 5 x 7 dots of scale x scale pixels, one dot apart.
void text(canvas &c, int x0, int y0, int scale, const std::string &s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        const glyph &g = glyph_of(s[i]);
        int gx = x0 + int(i) * 6 * scale;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g.rows[row] & (0x10 >> col))
                    rect(c, gx + col * scale, y0 + row * scale, gx + col * scale + scale - 1,
                         y0 + row * scale + scale - 1);
    }
}

// The receiver's mark: a ring round the USB trident.
void logo(canvas &c)
{
    const double cx = 146, cy = 129;
    disc(c, cx, cy, 93, levels);
    disc(c, cx, cy, 83, 0);
    triangle(c, cx, 52, cx - 14, 80, cx + 14, 80);
    segment(c, cx, 78, cx, 190, 8);
    disc(c, cx, 192, 12, levels);
    segment(c, cx, 160, 114, 136, 8);
    segment(c, 114, 136, 114, 108, 8);
    disc(c, 114, 104, 9, levels);
    segment(c, cx, 176, 178, 152, 8);
    segment(c, 178, 152, 178, 128, 8);
    rect(c, 170, 112, 186, 128);
}

constexpr int text_left = 272;
constexpr int text_scale = 3;

void lines(canvas &c, const std::string &first, const std::string &second)
{
    const int line_height = 7 * text_scale;
    if (second.empty()) {
        text(c, text_left, 102, text_scale, first);
    } else {
        text(c, text_left, 84, text_scale, first);
        text(c, text_left, 84 + line_height + 15, text_scale, second);
    }
}

void footer(canvas &c)
{
    const std::string s = "NAVTEX RECEIVER";
    const int scale = 2;
    text(c, art_right + 1 - text_width(s, scale), art_bottom + 1 - 7 * scale, scale, s);
}

// Three dots after the second line, growing, drawn smooth.
void progress_dots(canvas &c, const std::string &second)
{
    const int line_top = 84 + 7 * text_scale + 15;
    double x = text_left + text_width(second, text_scale) + 14;
    const double y = line_top + 7 * text_scale - 4.7;
    const double radius[] = {3.5, 4.25, 4.95};
    const double shift[] = {0.2, 0.45, 0.7};
    for (int i = 0; i < 3; ++i) {
        smooth_disc(c, x + shift[i], y + shift[i] / 2, radius[i]);
        x += 17;
    }
}

struct image_def {
    const char *file;
    const char *array;
    std::string first, second;
    bool dots;
};

// XPM pixel keys: black, white, then the greys by level.
const char grey_keys[] = "@#$%&*=-;>,')!~{]^/";
static_assert(sizeof grey_keys - 1 == levels - 1);

char key_of(int level)
{
    if (level == 0)
        return '.';
    if (level == levels)
        return '+';
    return grey_keys[level - 1];
}

int grey_value(int level)
{
    return level * 255 / levels;
}

bool write_xpm(const std::string &path, const image_def &d, const canvas &c)
{
    std::set<int> greys;
    for (uint8_t v : c.px)
        if (v != 0 && v != levels)
            greys.insert(v);
    std::ofstream out(path, std::ios::binary);
    out << "/* XPM */\n";
    out << "/* Drawn by splashgen; change the generator, not this file. */\n";
    out << "static const char *" << d.array << "[] = {\n";
    out << "\"" << W << " " << H << " " << 3 + greys.size() << " 1\",\n";
    out << "\" \tc None\",\n";
    out << "\".\tc #000000\",\n";
    out << "\"+\tc #FFFFFF\",\n";
    for (int g : greys) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", grey_value(g));
        out << "\"" << key_of(g) << "\tc #" << hex << hex << hex << "\",\n";
    }
    for (int y = 0; y < H; ++y) {
        out << "\"";
        for (int x = 0; x < W; ++x)
            out << key_of(c.at(x, y));
        out << (y + 1 < H ? "\",\n" : "\"\n");
    }
    out << "};\n";
    return bool(out);
}

// Refuses a drawing that strays from the artwork area or misses its
// grey levels.
bool check(const image_def &d, const canvas &c)
{
    int left = W, top = H, right = -1, bottom = -1;
    std::set<int> greys;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (int v = c.at(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                if (v != levels)
                    greys.insert(v);
            }
    bool ok = left == art_left && top == art_top && right == art_right && bottom == art_bottom;
    if (!ok)
        std::cerr << "splashgen: " << d.file << " covers x " << left << ".." << right << ", y "
                  << top << ".." << bottom << "\n";
    size_t want = d.dots ? levels - 1 : 0;
    if (greys.size() != want) {
        std::cerr << "splashgen: " << d.file << " has " << greys.size() << " grey levels, not "
                  << want << "\n";
        ok = false;
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "Usage: splashgen OUTPUT-FOLDER\n";
        return 2;
    }
    const std::string dir = argv[1];
    const image_def defs[] = {
        {"usb_detect", "usb_detect_xpm", "USB MEMORY FOUND", "PLEASE WAIT", true},
        {"usb_ok", "usb_ok_xpm", "USB UPDATE OK", "", false},
        {"usb_done", "usb_done_xpm", "UPDATE DONE", "REMOVE USB MEMORY", false},
        {"usb_error", "usb_error_xpm", "USB UPDATE FAILED", "CHECK USB MEMORY", false},
    };
    int status = 0;
    for (const image_def &d : defs) {
        canvas c;
        logo(c);
        lines(c, d.first, d.second);
        if (d.dots)
            progress_dots(c, d.second);
        footer(c);
        if (!check(d, c)) {
            status = 1;
            continue;
        }
        const std::string base = dir + "/" + d.file;
        if (!write_xpm(base + ".xpm", d, c)) {
            std::cerr << "splashgen: cannot write " << base << ".xpm\n";
            status = 1;
        }
    }
    return status;
}
