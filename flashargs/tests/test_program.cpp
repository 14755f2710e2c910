// The built program on stand-in partition files and MTD listings.
#include "harness.h"

#include "bootparams.h"

#include <filesystem>

namespace {

const std::string ANNOUNCE = "Autodetected parameters in ./mtdblock3\n";

class program : public scratch_dir {
protected:
    void SetUp() override
    {
        scratch_dir::SetUp();
        list_partition(3);
        erased_partition(3);
    }
};

TEST_F(program, erased_block_reads_as_no_parameters)
{
    run_result listed = run({"-l"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, ANNOUNCE + "\n");

    run_result copied = run({"-r", "params"});
    EXPECT_EQ(copied.status, 0);
    EXPECT_EQ(read_file("params"), "\n");
    EXPECT_EQ(copied.err, "");
}

TEST_F(program, written_file_reads_back_unchanged)
{
    write_file("in", "console=ttyS0,115200\nroot=/dev/mtdblock2\nquiet\n");
    run_result written = run({"-w", "in"});
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.out, ANNOUNCE);
    bool filled = false;
    EXPECT_EQ(block_text(3, &filled), "console=ttyS0,115200 root=/dev/mtdblock2 quiet");
    EXPECT_TRUE(filled) << "the text must be followed by 0xFF fill";

    EXPECT_EQ(run({"-l"}).out, ANNOUNCE + "console=ttyS0,115200\nroot=/dev/mtdblock2\nquiet\n");

    ASSERT_EQ(run({"-r", "out"}).status, 0);
    EXPECT_EQ(read_file("out"), "console=ttyS0,115200\nroot=/dev/mtdblock2\nquiet\n");
    std::string before = block(3);
    ASSERT_EQ(run({"-w", "out"}).status, 0);
    EXPECT_EQ(block(3), before);
}

TEST_F(program, empty_lines_stay_and_trailing_blanks_go)
{
    write_file("in", "a\n\nb\n\n  \n\n");
    ASSERT_EQ(run({"-w", "in"}).status, 0);
    EXPECT_EQ(block_text(3), "a  b");
    EXPECT_EQ(run({"-l"}).out, ANNOUNCE + "a\n\nb\n");
}

TEST_F(program, file_is_cut_at_erased_byte)
{
    // A 0xFF byte must end the text whatever the signedness of char.
    write_file("in", "first\nsecond\xFFthird\n");
    ASSERT_EQ(run({"-w", "in"}).status, 0);
    EXPECT_EQ(block_text(3), "first second");
}

TEST_F(program, full_length_text_keeps_every_character)
{
    std::string words;
    while (words.size() < 3000)
        words += "param" + std::to_string(words.size()) + "\n";
    write_file("in", words);
    ASSERT_EQ(run({"-w", "in"}).status, 0);
    std::string expected = words.substr(0, 2047);
    for (char &c : expected)
        if (c == '\n')
            c = ' ';
    while (expected.back() == ' ')
        expected.pop_back();
    bool filled = false;
    EXPECT_EQ(block_text(3, &filled), expected);
    EXPECT_TRUE(filled);

    // A block without terminator or fill gives its first 2047 bytes.
    put_block(3, std::string(2048, 'x'));
    run_result listed = run({"-l"});
    EXPECT_EQ(listed.out, ANNOUNCE + std::string(2047, 'x') + "\n");
}

TEST_F(program, text_ends_at_first_erased_byte_of_block)
{
    put_block(3, std::string("ab c\xFF" "def\0", 9));
    EXPECT_EQ(run({"-l"}).out, ANNOUNCE + "ab\nc\n");
}

TEST_F(program, later_of_two_partitions_is_used)
{
    write_file("proc-mtd", "mtd3: 00020000 00020000 \"Params\"\n"
                           "mtd4: 00020000 00020000 \"kernel\"\n"
                           "mtd5: 00020000 00020000 \"BACKUP_PARAM\"\n");
    erased_partition(5);
    write_file("in", "x\n");
    run_result written = run({"-w", "in"});
    EXPECT_EQ(written.out, ANNOUNCE + "Autodetected parameters in ./mtdblock5\n");
    EXPECT_EQ(block_text(5), "x");
    EXPECT_EQ(block(3), std::string(2048, '\xFF'));
}

TEST_F(program, autodetect_alone_only_announces)
{
    run_result found = run({"-a"});
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, ANNOUNCE);
    EXPECT_EQ(found.err, "");
    EXPECT_EQ(block(3), std::string(2048, '\xFF'));

    write_file("proc-mtd", "mtd0: 00040000 00020000 \"U-Boot\"\n");
    run_result none = run({"-a"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
}

TEST_F(program, options_run_in_command_line_order)
{
    write_file("in", "one\ntwo\n");
    run_result both = run({"-l", "-w", "in"});
    EXPECT_EQ(both.status, 0);
    // The listing comes after all options, so it shows the new text.
    EXPECT_EQ(both.out, ANNOUNCE + ANNOUNCE + "one\ntwo\n");

    write_file("in", "three\n");
    ASSERT_EQ(run({"-r", "old", "-w", "in"}).status, 0);
    EXPECT_EQ(read_file("old"), "one\ntwo\n");
    EXPECT_EQ(block_text(3), "three");
}

TEST_F(program, help_and_bad_options)
{
    run_result help = run({"-h"}, "", FLASHARGS_BIN);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, "");
    EXPECT_EQ(help.err.rfind("Program to read or write boot parameters on the TARV "
                             "computer board\n Usage: ..# flashargs [options]\n",
                             0),
              0u);
    EXPECT_NE(help.err.find(" no options   : Edit boot parameters in interactive mode\n"
                            "\nusage example: ..# flashargs -w /tmp/optionsfile\n\n"),
              std::string::npos);
    EXPECT_EQ(help.err.find("-a"), std::string::npos);

    for (const auto &args : std::vector<std::vector<std::string>>{{"-x"}, {"-r"}, {"-l", "-w"}}) {
        run_result bad = run(args, "", FLASHARGS_BIN);
        EXPECT_EQ(bad.status, 255) << args[0];
        EXPECT_NE(bad.err.find("*Error* Illegal option, try `-h' for help\n"),
                  std::string::npos)
            << bad.err;
        EXPECT_EQ(bad.out, "");
    }
}

TEST_F(program, unwritable_and_unreadable_files)
{
    std::filesystem::create_directory(path("folder"));
    run_result to_folder = run({"-r", "folder"});
    EXPECT_EQ(to_folder.status, 255);
    EXPECT_EQ(to_folder.err, "*Error* Error writing to file <folder>\n\n");

    if (std::filesystem::exists("/dev/full")) {
        run_result to_full = run({"-r", "/dev/full"});
        EXPECT_EQ(to_full.status, 255);
        EXPECT_EQ(to_full.err, "*Error* Error writing to file </dev/full>\n\n");
    }

    run_result missing = run({"-w", "nothing-here"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(missing.err, "*Error* Error reading from file <nothing-here>\n\n");

    run_result from_folder = run({"-w", "folder"});
    EXPECT_EQ(from_folder.status, 255);
    EXPECT_EQ(from_folder.err, "*Error* Error reading from file <folder>\n\n");
    EXPECT_EQ(block(3), std::string(2048, '\xFF'));
}

TEST_F(program, editor_takes_plain_input_too)
{
    // Without a terminal the write key is simply the next input character;
    // the end of the input ends the editor.
    run_result edited = run({}, "i 1 new\nw\ny\n");
    EXPECT_EQ(edited.status, 0);
    EXPECT_NE(edited.out.find("Boot parameters start at: 0x00fff800\n"), std::string::npos);
    EXPECT_EQ(block_text(3), "new");
}

TEST_F(program, library_takes_paths_as_arguments)
{
    const std::string listing = path("proc-mtd"), pattern = path("mtdblock%d");
    const flash_paths paths = {listing.c_str(), pattern.c_str()};
    char device[DEVICE_PATH_SIZE] = "";
    testing::internal::CaptureStdout();
    EXPECT_EQ(autodetect_mtd(device, sizeof device, paths), 0);
    EXPECT_EQ(writebootparameters("a b", paths), 0);
    EXPECT_EQ(writebootparameters(std::string(2048, 'x').c_str(), paths), -1);
    char text[PARAM_BLOCK_SIZE];
    EXPECT_EQ(readbootparameters(text, PARAM_TEXT_MAX, paths), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(device), path("mtdblock3"));
    EXPECT_STREQ(text, "a b");

    write_file("proc-mtd", "mtd3: 00020000 00020000 \"Params\"\nparam");
    EXPECT_EQ(autodetect_mtd(device, sizeof device, paths), -1);
}

// A flash failure names the operation and the failed check and ends the
// program unsuccessfully.
void expect_flash_failure(const run_result &r, const std::string &operation,
                          const std::string &condition)
{
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err.rfind("*Error* " + operation + ": `" + condition + "' failed", 0), 0u)
        << r.err;
}

TEST_F(program, flash_access_failures)
{
    std::filesystem::remove(path("proc-mtd"));
    expect_flash_failure(run({"-a"}), "autodetect_mtd",
                         "(f = fopen(\"/proc/mtd\", \"r\")) != ((void *)0)");

    // No parameter partition: no device to open.
    write_file("proc-mtd", "mtd0: 00040000 00020000 \"U-Boot\"\n");
    run_result none = run({"-l"});
    expect_flash_failure(none, "readbootparameters", "(fd = open(device, 00)) != -1");
    EXPECT_NE(none.err.find("no parameter partition"), std::string::npos);
    write_file("in", "a\n");
    expect_flash_failure(run({"-w", "in"}), "writebootparameters",
                         "(fd = open(device, 02)) != -1");

    // A matching line without a partition number sets no device either.
    write_file("proc-mtd", "param: 00020000 00020000 \"Params\"\n");
    expect_flash_failure(run({"-l"}), "readbootparameters", "(fd = open(device, 00)) != -1");

    list_partition(3);
    write_file("mtdblock3", std::string(BLOCK_OFFSET + 100, '\xFF'));
    expect_flash_failure(run({"-l"}), "readbootparameters", "read(fd, str, maxlen) == maxlen");

    std::filesystem::remove(path("mtdblock3"));
    std::filesystem::create_directory(path("mtdblock3"));
    expect_flash_failure(run({"-w", "in"}), "writebootparameters",
                         "(fd = open(device, 02)) != -1");
}

} // namespace
