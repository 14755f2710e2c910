// Printer output: header and wrapping at 40 columns, an identifier with
// errors left out, and lines reaching the device without waiting.
#include "printer.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split_crlf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(text.substr(start, p - start));
    EXPECT_EQ(start, text.size()) << "text not ended by CR LF";
    return lines;
}

std::string words_of(const std::string &text)
{
    std::istringstream in(text);
    std::string w, all;
    while (in >> w)
        all += w + " ";
    return all;
}

} // namespace

TEST(Printer, HeaderAndTextWrapAtFortyColumns)
{
    printer_msg m;
    m.freq_khz = 4209;
    m.ident = "FE01";
    m.time = 1796790075; // 2026-12-09 04:21:15 UTC
    m.error_pct = 100;
    m.text = "FE01\r\nGALE WARNING NORTH SEA AREAS FORTIES CROMARTY FORTH TYNE DOGGER "
             "SOUTHWESTERLY 8 BACKING 7\n\nVERYLONGWORDWITHOUTANYBLANKSTHATMUSTBESPLITHARD"
             "BYTHEWRAP\rNNNN";
    const auto lines = split_crlf(printer_format(m));
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "4209kHz FE01 2026-12-09 04:21Z err 100%");
    for (const std::string &l : lines)
        EXPECT_LE(l.size(), static_cast<size_t>(PRINTER_COLUMNS)) << l;
    EXPECT_EQ(lines[1], "FE01");
    EXPECT_EQ(lines.back(), "");
    std::string body;
    for (size_t i = 1; i < lines.size(); ++i)
        body += lines[i] + "\n";
    // Nothing lost or broken but the one word longer than a line.
    std::string expected = words_of(m.text);
    std::string got = words_of(body);
    const std::string longword = "VERYLONGWORDWITHOUTANYBLANKSTHATMUSTBESPLITHARDBYTHEWRAP";
    expected.replace(expected.find(longword), longword.size(),
                     longword.substr(0, PRINTER_COLUMNS) + " " + longword.substr(PRINTER_COLUMNS));
    EXPECT_EQ(got, expected);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].empty() || (lines[i].front() != ' ' && lines[i].back() != ' '));
    EXPECT_NE(body.find("\n\n" + longword.substr(0, PRINTER_COLUMNS) + "\n"), std::string::npos);

    m.ident = "F*01";
    m.time = -1;
    m.error_pct = 99.9;
    const std::string bad = printer_format(m);
    EXPECT_EQ(split_crlf(bad)[0], "4209kHz ---- ---------- err 99.9%");
    EXPECT_EQ(bad.find("F*01"), std::string::npos);
}

TEST(Printer, LinesReachTheDeviceAndAMissingOneIsSaidOnce)
{
    char path[] = "/tmp/nmea-printer-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::vector<std::string> notes;
    auto note = [&](const std::string &t) { notes.push_back(t); };
    printer_ptr p = printer_new(path, note);
    printer_msg m;
    m.freq_khz = 518;
    m.ident = "KA33";
    m.text = "FIRST";
    ASSERT_TRUE(printer_print(*p, m));
    m.text = "SECOND";
    ASSERT_TRUE(printer_print(*p, m));
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        std::vector<pollfd> fds = printer_pollfds(*p);
        ::poll(fds.data(), fds.size(), 20);
        printer_service(*p);
        std::ifstream in(path, std::ios::binary);
        got.assign(std::istreambuf_iterator<char>(in), {});
        if (got.find("SECOND") != std::string::npos)
            break;
    }
    m.text = "FIRST";
    EXPECT_EQ(got.substr(0, printer_format(m).size()), printer_format(m));
    EXPECT_NE(got.find("SECOND\r\n"), std::string::npos);
    EXPECT_TRUE(notes.empty());
    ::unlink(path);

    printer_ptr gone = printer_new("/nonexistent/lp0", note);
    EXPECT_TRUE(printer_print(*gone, m));
    EXPECT_TRUE(printer_print(*gone, m));
    printer_service(*gone);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("cannot open"), std::string::npos);
    const int wait = printer_timeout_ms(*gone);
    EXPECT_TRUE(wait > 0 && wait <= 5001) << wait;
}
