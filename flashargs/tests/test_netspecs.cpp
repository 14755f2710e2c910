// Network specification words: parsing, display and the dialog.
#include "netspecs.h"

#include "bootparams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::uint32_t ip_of(int a, int b, int c, int d)
{
    return (std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) |
           std::uint32_t(d);
}

TEST(parse_ether, reads_six_hex_bytes)
{
    unsigned char mac[6] = {};
    const char *rest = nullptr;
    const char *text = "00:0a:1B:0x2c: 3d:4E,tail";
    ASSERT_EQ(parse_ether(mac, text, &rest), 0);
    const unsigned char expected[6] = {0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
    EXPECT_EQ(std::memcmp(mac, expected, 6), 0);
    EXPECT_STREQ(rest, ",tail");

    for (const char *bad : {"00:0A:1B:2C:3D", "00:0A:1B:2C:3D:", "100:0A:1B:2C:3D:4E",
                            "00-0A-1B-2C-3D-4E", "00:0A:1B :2C:3D:4E", "", "g0:0:0:0:0:0"})
        EXPECT_EQ(parse_ether(mac, bad, nullptr), -1) << bad;
}

TEST(parse_dotted, reads_four_numbers_in_any_base)
{
    std::uint32_t value = 0;
    const char *rest = nullptr;
    ASSERT_EQ(parse_dotted(&value, "10.0.0.5,8", &rest), 0);
    EXPECT_EQ(value, ip_of(10, 0, 0, 5));
    EXPECT_STREQ(rest, ",8");
    ASSERT_EQ(parse_dotted(&value, "010.0x10.255.0377", nullptr), 0);
    EXPECT_EQ(value, ip_of(8, 16, 255, 255));

    for (const char *bad : {"10.0.0", "10.0.0.256", "10,0.0.5", "10.0..5", "09.1.1.1", "a.b.c.d",
                            "10.0.0.0400"})
        EXPECT_EQ(parse_dotted(&value, bad, nullptr), -1) << bad;
}

std::string printed(void (*print)(FILE *))
{
    char *buffer = nullptr;
    std::size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    print(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(print_specs, fixed_formats)
{
    EXPECT_EQ(printed([](FILE *out) { print_dotted(ip_of(10, 0, 0, 5), out); }),
              " 10.  0.  0.  5");
    EXPECT_EQ(printed([](FILE *out) { print_dotted(mask_from_host_bits(8), out); }),
              "255.255.255.  0");
    EXPECT_EQ(printed([](FILE *out) {
                  const unsigned char mac[6] = {0, 0x0A, 0xFF, 0x2C, 0x3D, 0x4E};
                  print_ether(mac, out);
              }),
              "00:0A:FF:2C:3D:4E");
    EXPECT_EQ(mask_from_host_bits(0), 0xFFFFFFFFu);
    EXPECT_EQ(mask_from_host_bits(32), 0u);
}

TEST(find_net_specs, parses_the_three_words)
{
    eth_spec eth{};
    ip_spec ip{};
    host_spec host{};
    find_net_specs(&eth, &ip, &host,
                   "root=/dev/x tarvHOST=board7.example.org,010.0.0.1 quiet "
                   "tarvETH=00:0A:1B:2C:3D:4E tarvIP=10.0.0.5,0x8,10.0.0.1");
    EXPECT_TRUE(eth.present);
    EXPECT_EQ(eth.mac[5], 0x4E);
    ASSERT_TRUE(ip.present);
    EXPECT_EQ(ip.addr, ip_of(10, 0, 0, 5));
    EXPECT_EQ(ip.host_bits, 8);
    EXPECT_EQ(ip.gateway, ip_of(10, 0, 0, 1));
    ASSERT_TRUE(host.present);
    EXPECT_STREQ(host.hostname, "board7");
    EXPECT_STREQ(host.domain, "example.org");
    EXPECT_EQ(host.dns, ip_of(8, 0, 0, 1));

    // Only the records asked for are looked at.
    ip_spec only{};
    find_net_specs(nullptr, &only, nullptr, "tarvIP=1.2.3.4,16,1.2.0.1");
    EXPECT_TRUE(only.present);
}

TEST(find_net_specs, rejects_malformed_words)
{
    const char *bad_ip[] = {"tarvIP=10.0.0.5,17,10.0.0.1", "tarvIP=10.0.0.5,24,10.0.0.1",
                            "tarvIP=10.0.0.5,,10.0.0.1",   "tarvIP=10.0.0.5,8",
                            "tarvIP=10.0.0.5,8,10.0.0",    "tarvIP=10.0.0.5;8;10.0.0.1"};
    for (const char *text : bad_ip) {
        ip_spec ip{};
        find_net_specs(nullptr, &ip, nullptr, text);
        EXPECT_FALSE(ip.present) << text;
    }
    const std::string long_name(64, 'h');
    const std::string bad_host[] = {"tarvHOST=my-board.example.org", "tarvHOST=board",
                                    "tarvHOST=board.example.org,10.0.0",
                                    "tarvHOST=board.example.org,10.0.0.1x",
                                    "tarvHOST=board.exa_mple", "tarvHOST=" + long_name + ".org",
                                    "tarvHOST=b." + long_name};
    for (const auto &text : bad_host) {
        host_spec host{};
        find_net_specs(nullptr, nullptr, &host, text.c_str());
        EXPECT_FALSE(host.present) << text;
    }
    host_spec host{};
    find_net_specs(nullptr, nullptr, &host, ("tarvHOST=" + long_name.substr(1) + ". x").c_str());
    EXPECT_TRUE(host.present);
    EXPECT_EQ(host.dns, 0u);

    eth_spec eth{};
    find_net_specs(&eth, nullptr, nullptr, "tarvETH=00:0A:1B:2C:3D");
    EXPECT_FALSE(eth.present);
}

// Runs the dialog on `text` with the given answers; returns its output.
struct dialog_run {
    char text[PARAM_BLOCK_SIZE] = {};
    std::string output;
    int result = 0;

    dialog_run(int mode, const std::string &initial, const std::string &answers)
    {
        std::memcpy(text, initial.data(), std::min(initial.size(), PARAM_TEXT_MAX));
        std::string input = answers;
        FILE *in = fmemopen(input.data(), input.size() + 1, "r");
        if (input.empty())
            in = fopen("/dev/null", "r");
        char *buffer = nullptr;
        std::size_t size = 0;
        FILE *out = open_memstream(&buffer, &size);
        result = net_specs_dialog(mode, text, in, out);
        std::fclose(out);
        std::fclose(in);
        output.assign(buffer, size);
        std::free(buffer);
    }

    bool says(const std::string &s) const { return output.find(s) != std::string::npos; }
};

const std::string IP_WORD = "tarvIP=10.0.0.5,8,10.0.0.1";

TEST(net_specs_dialog, show_mode_never_changes_text)
{
    const std::string text = "a  " + IP_WORD + " tarvHOST=b.c\tz";
    dialog_run run(NET_SPECS_SHOW, text, "");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(std::string(run.text), text);
    EXPECT_EQ(run.output, "        --o TARV ethernet address specs  o--\n"
                          "   ** No valid ethernet specification found **\n"
                          "        --o TARV board IP network specs  o--\n"
                          "IP number   (eth0) ..........:  10.  0.  0.  5\n"
                          "Subnet mask (eth0) ..........: 255.255.255.  0\n"
                          "Default gateway .............:  10.  0.  0.  1\n"
                          "        --o TARV board host/domain specs o--\n"
                          "   ** No valid host/domain specification found **\n");
}

TEST(net_specs_dialog, all_no_moves_specs_to_front)
{
    dialog_run run(NET_SPECS_EDIT, "root=/dev/x " + IP_WORD + " quiet tarvHOST=b.c,0x0a.0.0.1",
                   "n\nn\nn\n");
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.says("Do you want to enter the etheraddr specs? [y/n] >"));
    EXPECT_TRUE(run.says("Do you want to change the IP network specs? [y/n] >"));
    EXPECT_TRUE(run.says("DNS IP number ...............:  10.  0.  0.  1\n"));
    EXPECT_EQ(std::string(run.text), IP_WORD + " tarvHOST=b.c,10.0.0.1 root=/dev/x quiet ");
}

TEST(net_specs_dialog, ethernet_entry_and_retry)
{
    dialog_run run(NET_SPECS_EDIT, "x", "y\n0:a:b:c:d\n\n1:2:3:4:5:6\nn\nn\nn\n");
    EXPECT_TRUE(run.says("enter Ethernet number .......> "
                         "?!?: Illegal Ethernet number (colon-separated hex), try again!\n"
                         "enter Ethernet number .......> "
                         "?!?: Illegal Ethernet number (colon-separated hex), try again!\n"));
    EXPECT_TRUE(run.says("Ethernet number .............: 01:02:03:04:05:06\n"
                         "Do you want to change the etheraddr specs? [y/n] >"));
    EXPECT_EQ(std::string(run.text), "tarvETH=01:02:03:04:05:06 x");
}

TEST(net_specs_dialog, zero_ethernet_is_not_present)
{
    const std::string old = "tarvETH=00:0A:1B:2C:3D:4E";
    dialog_run run(NET_SPECS_EDIT, "a " + old, "y\n0:0:0:0:0:ff\nn\nn\n");
    EXPECT_TRUE(run.says("   ** No valid ethernet specification found **\n"
                         "Do you want to enter the etheraddr specs? [y/n] >"));
    EXPECT_EQ(std::string(run.text), "a " + old);
}

TEST(net_specs_dialog, empty_answers_keep_values)
{
    dialog_run run(NET_SPECS_EDIT, IP_WORD + " tarvETH=0:1:2:3:4:5 tarvHOST=b.c",
                   "y\n\nn\ny\n\n\n\nn\ny\n\n\n\nn\n");
    EXPECT_FALSE(run.says("?!?"));
    EXPECT_TRUE(run.says("----------------------------------------------\n"));
    EXPECT_EQ(std::string(run.text),
              "tarvETH=00:01:02:03:04:05 " + IP_WORD + " tarvHOST=b.c ");
}

TEST(net_specs_dialog, empty_host_pass_writes_bare_key)
{
    dialog_run run(NET_SPECS_EDIT, "", "n\nn\ny\n\n\n\nn\n");
    EXPECT_TRUE(run.says("hostname of TARV board ......: \n"
                         "domainname ..................: \n"
                         "DNS IP number ...............:  <no DNS specified>\n"));
    EXPECT_EQ(std::string(run.text), "tarvHOST=. ");
}

TEST(net_specs_dialog, host_entry_checks_names)
{
    dialog_run run(NET_SPECS_EDIT, "q tarvHOST=old.dom,1.1.1.1",
                   "n\nn\ny\nmy-board\nboard7\nex_ample\nexample.org\nx.1\nn\nn\n");
    EXPECT_TRUE(run.says("enter hostname ..............> ?!?: Illegal hostname, try again!\n"));
    EXPECT_TRUE(
        run.says("enter domainname ............> ?!?: Illegal domainname, try again!\n"));
    EXPECT_TRUE(run.says(
        "enter DNS IP ('n' for none)..> ?!?: Illegal IP number (dotted dec.), try again!\n"));
    EXPECT_EQ(std::string(run.text), "tarvHOST=board7.example.org q ");
}

TEST(net_specs_dialog, wide_mask_is_written_as_unreadable_count)
{
    dialog_run run(NET_SPECS_EDIT, IP_WORD, "n\ny\n10.0.0.5\n255.0.0.0\n10.1.2.3\nn\nn\n");
    EXPECT_FALSE(run.says("?!?"));
    EXPECT_TRUE(run.says("Subnet mask (eth0) ..........: 255.  0.  0.  0\n"));
    EXPECT_EQ(std::string(run.text), "tarvIP=10.0.0.5,24,10.1.2.3 ");
    ip_spec ip{};
    find_net_specs(nullptr, &ip, nullptr, run.text);
    EXPECT_FALSE(ip.present);
}

TEST(net_specs_dialog, mask_and_gateway_warnings)
{
    dialog_run holes(NET_SPECS_EDIT, IP_WORD, "n\ny\n\n255.255.0.255\n\nn\nn\n");
    EXPECT_TRUE(holes.says("?!?: Illegal subnet mask specified, please correct!\n"
                           "IP number   (eth0) ..........:  10.  0.  0.  5\n"
                           "Subnet mask (eth0) ..........: 255.255.255.255\n"));
    EXPECT_EQ(std::string(holes.text), "tarvIP=10.0.0.5,0,10.0.0.1 ");

    dialog_run nets(NET_SPECS_EDIT, IP_WORD, "n\ny\n\n255.255.255.128\n10.0.0.200\nn\nn\n");
    EXPECT_TRUE(nets.says("?!?: IP address and default gateway on different nets!\n"));
    EXPECT_EQ(std::string(nets.text), "tarvIP=10.0.0.5,7,10.0.0.200 ");
}

TEST(net_specs_dialog, ip_entry_retries_and_octal)
{
    dialog_run run(NET_SPECS_EDIT, "", "n\ny\n010.0.0.010\n256.0.0.0\n\n255.255.0.0\nx\n"
                                       "10.0.0.1\nn\nn\n");
    EXPECT_TRUE(run.says("Do you want to enter the IP network specs? [y/n] >"));
    EXPECT_TRUE(run.says("enter subnet mask (eth0) .....> "
                         "?!?: Illegal IP number (dotted dec.), try again!\n"
                         "enter subnet mask (eth0) .....> "
                         "?!?: Illegal IP number (dotted dec.), try again!\n"));
    EXPECT_TRUE(run.says("enter default gateway .......> "
                         "?!?: Illegal IP number (dotted dec.), try again!\n"));
    EXPECT_TRUE(run.says("?!?: IP address and default gateway on different nets!\n"));
    EXPECT_EQ(std::string(run.text), "tarvIP=8.0.0.8,16,10.0.0.1 ");
}

TEST(net_specs_dialog, zero_address_stays_absent)
{
    dialog_run run(NET_SPECS_EDIT, "a", "n\ny\n0.0.0.0\n255.255.255.0\n0.0.0.0\nn\nn\n");
    EXPECT_TRUE(run.says("   ** No valid eth0 network specification found **\n"
                         "Do you want to enter the IP network specs? [y/n] >"));
    EXPECT_EQ(std::string(run.text), "a");
}

TEST(net_specs_dialog, end_of_input_leaves_text_alone)
{
    const std::string text = "z " + IP_WORD;
    for (const char *answers : {"", "y\n", "n\ny\n10.0.0.9\n", "n\nn\ny\nboard\n"}) {
        dialog_run run(NET_SPECS_EDIT, text, answers);
        EXPECT_EQ(run.result, -1) << answers;
        EXPECT_EQ(std::string(run.text), text) << answers;
    }
}

TEST(net_specs_dialog, rewrite_never_outgrows_buffer)
{
    std::string words;
    while (words.size() < 2030)
        words += "p" + std::to_string(words.size()) + " ";
    words.resize(2030);
    dialog_run run(NET_SPECS_EDIT, words, "n\ny\n10.0.0.5\n255.255.255.0\n10.0.0.1\nn\nn\n");
    EXPECT_EQ(run.result, -2);
    EXPECT_TRUE(run.says("?!?: "));
    EXPECT_EQ(std::string(run.text), words);

    // Words that are replaced make room for their new form.
    std::string with_word = IP_WORD + " " + words.substr(0, 2047 - IP_WORD.size() - 1);
    dialog_run same(NET_SPECS_EDIT, with_word, "n\nn\nn\n");
    EXPECT_EQ(same.result, 0);
    EXPECT_EQ(std::string(same.text), with_word);
}

} // namespace
