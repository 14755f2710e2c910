// The interactive editor driven through a pseudo-terminal.
#include "harness.h"

namespace {

const std::string PROMPT = "Param>";
const std::string BAD_COMMAND = "?!?: Problems with command or parameters, try `h' for help\n";

class editor : public scratch_dir {
protected:
    std::unique_ptr<pty_session> term;

    // Starts the editor on a block holding `text`.
    void start(const std::string &text)
    {
        list_partition(3);
        erased_partition(3);
        put_block(3, text + std::string(1, '\0'));
        term = std::make_unique<pty_session>(dir);
        ASSERT_TRUE(term->expect("Autodetected parameters in ./mtdblock3\n"
                                 "Entering the boot/network parameter editor, `h' for help,\n"
                                 "use options `n' and `a' for editing of network stuff.\n" +
                                 PROMPT));
    }

    // Sends a command line; returns what the program answered before the
    // next prompt.
    std::string command(const std::string &line)
    {
        term->send(line + "\n");
        std::string seen;
        EXPECT_TRUE(term->expect(PROMPT, &seen)) << "after " << line;
        return seen.substr(0, seen.size() - PROMPT.size());
    }

    void quit()
    {
        term->send("q\n");
        EXPECT_EQ(term->finish(), 0);
    }
};

TEST_F(editor, delete_lines)
{
    start("alpha beta gamma");
    EXPECT_EQ(command("d 0"), BAD_COMMAND);
    EXPECT_EQ(command("d"), BAD_COMMAND);
    EXPECT_EQ(command("d x"), BAD_COMMAND);
    EXPECT_EQ(command("d 7"), " 1: alpha\n 2: beta\n 3: gamma\n");
    EXPECT_EQ(command("d 3"), " 1: alpha\n 2: beta\n");
    EXPECT_EQ(command("  d 1"), " 1: beta\n");
    EXPECT_EQ(command("d a"), "<no parameters>\n");
    EXPECT_EQ(command("i 5 only"), " 1: only\n");
    EXPECT_EQ(command("dall"), "<no parameters>\n");
    quit();
    EXPECT_EQ(block_text(3), "alpha beta gamma") << "nothing is written without w";
}

TEST_F(editor, insert_lines)
{
    start("one two three");
    EXPECT_EQ(command("i 0 x"), BAD_COMMAND);
    EXPECT_EQ(command("i x"), BAD_COMMAND);
    EXPECT_EQ(command("i 2"), "?!?: param string contains illegal chars.\n");
    EXPECT_EQ(command("i 2   "), "?!?: param string contains illegal chars.\n");
    EXPECT_EQ(command("i 9 x"), " 1: one\n 2: two\n 3: three\n 4: x\n");
    EXPECT_EQ(command("i 1 first"), " 1: first\n 2: one\n 3: two\n 4: three\n 5: x\n");
    EXPECT_EQ(command("i 3 a b"),
              " 1: first\n 2: one\n 3: a\n 4: b\n 5: two\n 6: three\n 7: x\n");
    quit();
}

TEST_F(editor, listing_normalises_separators)
{
    start("  ro\tot=/dev/x   quiet \x01 \x85 mem=64M\xC3\xA9 ");
    EXPECT_EQ(command("p"), " 1: root=/dev/x\n 2: quiet\n 3: mem=64M\n");
    EXPECT_EQ(command("print"), " 1: root=/dev/x\n 2: quiet\n 3: mem=64M\n");
    quit();
}

TEST_F(editor, commands_are_lower_case)
{
    start("a");
    EXPECT_EQ(command(""), "");
    EXPECT_EQ(command("   "), "");
    EXPECT_EQ(command("x"), BAD_COMMAND);
    EXPECT_EQ(command("P"), BAD_COMMAND);
    EXPECT_EQ(command("Q"), BAD_COMMAND);
    std::string help = command("h");
    EXPECT_EQ(help.rfind(" a                : alter the network specifications\n", 0), 0u);
    EXPECT_NE(help.find(" w                : write new parameters back to FPROM\n"),
              std::string::npos);
    quit();
}

TEST_F(editor, over_long_command_line_is_refused_whole)
{
    start("keep");
    // The tail of the line must not be taken as a further command.
    std::string answer = command("i 1 " + std::string(90, 'z') + " d a");
    EXPECT_NE(answer.find("?!?: "), std::string::npos);
    EXPECT_EQ(command("p"), " 1: keep\n");
    quit();
}

TEST_F(editor, write_confirmed_with_single_key)
{
    start("old words");
    command("d 1");
    command("i 9 tabs\tgone");
    term->send("w\n");
    ASSERT_TRUE(term->expect("Do you want to write the parameters back to FPROM? [y/n]>"));
    // The key must arrive without Enter, so the terminal leaves line mode.
    ASSERT_TRUE(term->canonical_becomes(false));
    term->send("y");
    std::string seen;
    ASSERT_TRUE(term->expect(PROMPT, &seen));
    EXPECT_EQ(seen, "\nAutodetected parameters in ./mtdblock3\n"
                    "Boot parameters start at: 0x00fff800\n" + PROMPT);
    EXPECT_TRUE(term->canonical_becomes(true));
    bool filled = false;
    EXPECT_EQ(block_text(3, &filled), "words tabs");
    EXPECT_TRUE(filled);
    quit();
}

TEST_F(editor, write_declined)
{
    start("old");
    command("d a");
    for (const char *key : {"n", "Y", "\n"}) {
        term->send("w\n");
        ASSERT_TRUE(term->expect("[y/n]>"));
        ASSERT_TRUE(term->canonical_becomes(false));
        term->send(key);
        std::string seen;
        ASSERT_TRUE(term->expect(PROMPT, &seen));
        EXPECT_EQ(seen, "\nwrite back aborted...\n" + PROMPT) << int(key[0]);
    }
    quit();
    EXPECT_EQ(block_text(3), "old");
}

TEST_F(editor, end_of_input_ends_like_quit)
{
    start("a");
    term->send("\x04"); // the terminal's end-of-file key
    EXPECT_EQ(term->finish(), 0);
    EXPECT_EQ(block_text(3), "a");
}

TEST_F(editor, end_of_input_inside_network_dialog)
{
    start("a tarvIP=10.0.0.5,8,10.0.0.1");
    term->send("a\n");
    ASSERT_TRUE(term->expect("[y/n] >"));
    term->send("y\n");
    ASSERT_TRUE(term->expect("enter Ethernet number .......> "));
    term->send("\x04");
    EXPECT_EQ(term->finish(), 0);
}

TEST_F(editor, network_dialog_rewrites_text_in_memory)
{
    start("root=/dev/x tarvIP=10.0.0.5,8,10.0.0.1");
    std::string shown = command("n");
    EXPECT_NE(shown.find("Subnet mask (eth0) ..........: 255.255.255.  0\n"), std::string::npos);
    EXPECT_EQ(command("p"), " 1: root=/dev/x\n 2: tarvIP=10.0.0.5,8,10.0.0.1\n");

    term->send("a\n");
    ASSERT_TRUE(term->expect("Do you want to enter the etheraddr specs? [y/n] >"));
    term->send("y\n");
    ASSERT_TRUE(term->expect("enter Ethernet number .......> "));
    term->send("0:a:1b:2c:3d:4e\n");
    ASSERT_TRUE(term->expect("Ethernet number .............: 00:0A:1B:2C:3D:4E\n"
                             "Do you want to change the etheraddr specs? [y/n] >"));
    term->send("n\n");
    ASSERT_TRUE(term->expect("Do you want to change the IP network specs? [y/n] >"));
    term->send("n\n");
    ASSERT_TRUE(term->expect("Do you want to enter the host/domain specs? [y/n] >"));
    term->send("n\n");
    ASSERT_TRUE(term->expect(PROMPT));
    EXPECT_EQ(command("p"), " 1: tarvETH=00:0A:1B:2C:3D:4E\n 2: tarvIP=10.0.0.5,8,10.0.0.1\n"
                            " 3: root=/dev/x\n");
    quit();
}

} // namespace
