// Editing actions on the parameter text and the command number reader.
#include "param_editor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct param_text {
    char text[PARAM_BLOCK_SIZE] = {};

    explicit param_text(const std::string &initial)
    {
        std::memcpy(text, initial.data(), std::min(initial.size(), PARAM_TEXT_MAX));
    }

    // Runs an action; the listing it printed goes to `listing`.
    int act(int action, int line = 0, const char *insert = nullptr,
            std::string *listing = nullptr)
    {
        char *buffer = nullptr;
        std::size_t size = 0;
        FILE *out = open_memstream(&buffer, &size);
        int result = edit_params(action, text, line, insert, out);
        std::fclose(out);
        if (listing != nullptr)
            *listing = std::string(buffer, size);
        std::free(buffer);
        return result;
    }

    std::string str() const { return text; }
};

TEST(edit_params, print_normalises_and_lists)
{
    param_text t("\x02  a\x7F" "b\t\x80  c\xFE" "d \x1B e\xFF ignored");
    std::string listing;
    EXPECT_EQ(t.act(EDIT_PRINT, 0, nullptr, &listing), 0);
    EXPECT_EQ(t.str(), "a\x7F" "b cd e");
    EXPECT_EQ(listing, " 1: a\x7F" "b\n 2: cd\n 3: e\n");

    param_text empty(" \t \x90 ");
    EXPECT_EQ(empty.act(EDIT_PRINT, 0, nullptr, &listing), 0);
    EXPECT_EQ(empty.str(), "");
    EXPECT_EQ(listing, "<no parameters>\n");
}

TEST(edit_params, numbers_of_two_digits_align)
{
    std::string words;
    for (int i = 1; i <= 10; ++i)
        words += "w" + std::to_string(i) + " ";
    param_text t(words);
    std::string listing;
    t.act(EDIT_PRINT, 0, nullptr, &listing);
    EXPECT_NE(listing.find(" 9: w9\n10: w10\n"), std::string::npos);
}

TEST(edit_params, clear_empties_without_listing)
{
    param_text t("a b");
    std::string listing;
    EXPECT_EQ(t.act(EDIT_CLEAR, 0, nullptr, &listing), 0);
    EXPECT_EQ(t.str(), "");
    EXPECT_EQ(listing, "");
}

TEST(edit_params, delete_by_line)
{
    param_text t("a  b\tx c");
    EXPECT_EQ(t.act(EDIT_DELETE, 0), -1);
    EXPECT_EQ(t.str(), "a  b\tx c");
    EXPECT_EQ(t.act(EDIT_DELETE, 2), 0);
    EXPECT_EQ(t.str(), "a c");
    EXPECT_EQ(t.act(EDIT_DELETE, 2), 0);
    EXPECT_EQ(t.str(), "a ") << "deleting the last line leaves its separator";
    EXPECT_EQ(t.act(EDIT_PRINT), 0);
    EXPECT_EQ(t.str(), "a");
    EXPECT_EQ(t.act(EDIT_DELETE, 5), 0);
    EXPECT_EQ(t.str(), "a");
    EXPECT_EQ(t.act(EDIT_DELETE, 1), 0);
    EXPECT_EQ(t.str(), "");
}

TEST(edit_params, insert_by_line)
{
    param_text t("one two three");
    EXPECT_EQ(t.act(EDIT_INSERT, 0, "x"), -1);
    EXPECT_EQ(t.act(EDIT_INSERT, 1, "x"), 0);
    EXPECT_EQ(t.str(), "x one two three");
    EXPECT_EQ(t.act(EDIT_INSERT, 4, "y\tnot this"), 0);
    EXPECT_EQ(t.str(), "x one two y three");
    EXPECT_EQ(t.act(EDIT_INSERT, 99, "p q\xC3\xA9r"), 0);
    EXPECT_EQ(t.str(), "x one two y three p q");

    param_text empty("");
    EXPECT_EQ(empty.act(EDIT_INSERT, 1, "only"), 0);
    EXPECT_EQ(empty.str(), " only");
    EXPECT_EQ(empty.act(EDIT_PRINT), 0);
    EXPECT_EQ(empty.str(), "only");
}

TEST(edit_params, insert_never_outgrows_buffer)
{
    std::string full(2040, 'a');
    param_text t(full);
    EXPECT_EQ(t.act(EDIT_INSERT, 9, "bcdef"), 0);
    EXPECT_EQ(t.str().size(), 2046u);
    EXPECT_EQ(t.act(EDIT_INSERT, 1, "x"), EDIT_TOO_LONG);
    EXPECT_EQ(t.act(EDIT_INSERT, 2, "y"), EDIT_TOO_LONG);
    EXPECT_EQ(t.str(), full + " bcdef");
    EXPECT_EQ(t.text[PARAM_TEXT_MAX], '\0');
}

TEST(next_number, reads_unsigned_decimal)
{
    unsigned long value = 77;
    const char *line = "   12 rest";
    const char *cursor = line;
    EXPECT_EQ(next_number(&cursor, &value, 10), 1);
    EXPECT_EQ(value, 12u);
    EXPECT_STREQ(cursor, " rest");

    for (const char *end : {"", "   ", "  \n"}) {
        cursor = end;
        value = 77;
        EXPECT_EQ(next_number(&cursor, &value, 10), 0) << '"' << end << '"';
        EXPECT_EQ(value, 77u);
    }
    for (const char *bad : {" x1", "-3", "+3", " \t4"}) {
        cursor = bad;
        EXPECT_EQ(next_number(&cursor, &value, 10), -1) << bad;
    }
    cursor = "0x10";
    EXPECT_EQ(next_number(&cursor, &value, 10), 1);
    EXPECT_EQ(value, 0u);
    EXPECT_STREQ(cursor, "x10");
    cursor = "1f";
    EXPECT_EQ(next_number(&cursor, &value, 16), 1);
    EXPECT_EQ(value, 31u);
}

} // namespace
