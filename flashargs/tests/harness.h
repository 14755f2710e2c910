// Test helpers: a scratch directory with a stand-in MTD listing and
// partition files, running the built program on it, and driving it through
// a pseudo-terminal. Every wait has a time limit so a fault cannot hang.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

constexpr long BLOCK_OFFSET = 129024;
constexpr std::size_t PARTITION_SIZE = 128 * 1024;

struct run_result {
    int status = -1; // exit status, -1 when killed or not run
    std::string out;
    std::string err;
};

class scratch_dir : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string &name) const { return dir + "/" + name; }
    void write_file(const std::string &name, const std::string &content) const;
    std::string read_file(const std::string &name) const;

    // "./proc-mtd" naming the parameter partition `number`.
    void list_partition(int number, const char *name = "Params") const;
    // An erased partition file "mtdblock<number>" (all 0xFF).
    void erased_partition(int number) const;
    // Puts `bytes` at the start of the parameter block of partition `number`.
    void put_block(int number, const std::string &bytes) const;
    // The 2048 bytes of the parameter block of partition `number`.
    std::string block(int number) const;
    // The parameter text a block holds (up to its 0), and whether the rest
    // is 0xFF fill.
    std::string block_text(int number, bool *filled = nullptr) const;

    // Runs `program` with `args` in the scratch directory, standard input
    // from `input`.
    run_result run(const std::vector<std::string> &args, const std::string &input = "",
                   const char *program = FLASHARGS_STANDIN_BIN) const;
};

// The stand-in program on a pseudo-terminal in a given directory, with the
// terminal's echo and output translation off so the output is exactly what
// the program writes.
class pty_session {
public:
    explicit pty_session(const std::string &dir);
    ~pty_session();
    pty_session(const pty_session &) = delete;
    pty_session &operator=(const pty_session &) = delete;

    void send(const std::string &keys);
    // Waits until `text` appears behind the previous match; returns the
    // output between the previous match and the end of `text`.
    ::testing::AssertionResult expect(const std::string &text, std::string *seen = nullptr);
    // Waits for the terminal's canonical mode to become `on`.
    ::testing::AssertionResult canonical_becomes(bool on);
    // Waits for the program to end; its exit status or -1.
    int finish();
    // Everything the program wrote so far.
    const std::string &output() const { return all; }

private:
    bool pump(int timeout_ms);
    int master = -1;
    int pid = -1;
    std::string all;
    std::size_t matched = 0;
};
