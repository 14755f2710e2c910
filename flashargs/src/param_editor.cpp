// Interactive boot parameter editor.
#include "param_editor.h"

#include "console.h"
#include "netspecs.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char *ENTRY_TEXT =
    "Entering the boot/network parameter editor, `h' for help,\n"
    "use options `n' and `a' for editing of network stuff.\n";
constexpr const char *PROMPT = "Param>";
constexpr const char *HELP_TEXT =
    " a                : alter the network specifications\n"
    " h                : help (this text)\n"
    " d <line>         : delete the specified parameter-line\n"
    " i <line> <param> : insert text <param> before parameter-line <line\n"
    "                    NOTE: the text string must NOT contain spaces!\n"
    " n                : show the network specifications\n"
    " p                : print the boot/network parameters\n"
    " q                : quit boot/network parameter submenu\n"
    " w                : write new parameters back to FPROM\n";
constexpr const char *BAD_COMMAND =
    "?!?: Problems with command or parameters, try `h' for help\n";
constexpr const char *BAD_INSERT = "?!?: param string contains illegal chars.\n";
constexpr const char *WRITE_QUESTION =
    "Do you want to write the parameters back to FPROM? [y/n]>";
constexpr const char *WRITE_DECLINED = "write back aborted...\n";

bool is_word_char(unsigned char c) { return c >= 0x21 && c <= 0x7F; }

// Control characters and 0x80..0xFE; 0xFF ends the text like a 0.
bool is_dropped(unsigned char c) { return c < 0x20 || (c >= 0x80 && c != 0xFF); }

bool ends_text(unsigned char c) { return c == 0 || c == 0xFF; }

// The words of the text by the normal-form rules: only spaces split words,
// dropped characters vanish, and a word of nothing but dropped characters
// is part of the separator run.
std::vector<std::string> words_of(const char *text)
{
    std::vector<std::string> words;
    std::string word;
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    for (std::size_t i = 0; i < PARAM_BLOCK_SIZE && !ends_text(p[i]); ++i) {
        if (p[i] == ' ') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else if (!is_dropped(p[i])) {
            word.push_back(static_cast<char>(p[i]));
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

// The insert text runs up to its first control character or byte >= 0x80.
std::string insert_run(const char *text)
{
    std::string run;
    for (const auto *p = reinterpret_cast<const unsigned char *>(text);
         *p >= 0x20 && *p < 0x80; ++p)
        run.push_back(static_cast<char>(*p));
    return run;
}

void skip_spaces(const char *&p)
{
    while (*p == ' ')
        ++p;
}

int as_line_number(unsigned long value)
{
    return value > static_cast<unsigned long>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

} // namespace

int edit_params(int action, char *text, int line, const char *insert_text, FILE *out)
{
    if (action == EDIT_CLEAR) {
        text[0] = '\0';
        return 0;
    }
    if ((action == EDIT_DELETE || action == EDIT_INSERT) && line <= 0)
        return -1;

    std::vector<std::string> words = words_of(text);
    std::string work;
    const std::size_t count = words.size();
    for (std::size_t i = 0; i < count; ++i) {
        const bool here = static_cast<std::size_t>(line) == i + 1;
        if (action == EDIT_DELETE && here)
            continue; // the word and the separator after it
        if (action == EDIT_INSERT && here)
            work += insert_run(insert_text) + " ";
        work += words[i];
        if (i + 1 < count)
            work += ' ';
    }
    if (action == EDIT_INSERT && static_cast<std::size_t>(line) > count)
        work += " " + insert_run(insert_text);

    if (work.size() > PARAM_TEXT_MAX)
        return EDIT_TOO_LONG;
    std::memcpy(text, work.c_str(), work.size() + 1);

    if (action == EDIT_PRINT) {
        if (words.empty())
            std::fputs("<no parameters>\n", out);
        for (std::size_t i = 0; i < count; ++i)
            std::fprintf(out, "%2i: %s\n", static_cast<int>(i + 1), words[i].c_str());
    }
    return 0;
}

int next_number(const char **cursor, unsigned long *value, int base)
{
    const char *p = *cursor;
    skip_spaces(p);
    *cursor = p;
    if (*p == '\n' || *p == '\0')
        return 0;
    // Digits only: no sign and no further blanks before them.
    const auto first = static_cast<unsigned char>(*p);
    if (!((first >= '0' && first <= '9') || (first >= 'a' && first <= 'z') ||
          (first >= 'A' && first <= 'Z')))
        return -1;
    char *end;
    errno = 0;
    unsigned long number = std::strtoul(p, &end, base);
    if (end == p)
        return -1;
    *value = errno == ERANGE ? ULONG_MAX : number;
    *cursor = end;
    return 1;
}

int param_editor(const flash_paths &paths)
{
    char text[PARAM_BLOCK_SIZE] = {};
    readbootparameters(text, PARAM_TEXT_MAX, paths);
    std::fputs(ENTRY_TEXT, stdout);

    for (;;) {
        std::fputs(PROMPT, stdout);
        std::fflush(stdout);
        std::string command_line;
        line_result got = read_line(stdin, command_line);
        if (got == LINE_EOF) {
            std::fputs("\n", stdout);
            break;
        }
        if (got == LINE_TOO_LONG) {
            std::printf("?!?: command lines are limited to %zu characters, line ignored\n",
                        INPUT_LINE_MAX);
            continue;
        }
        const char *p = command_line.c_str();
        skip_spaces(p);
        if (*p == '\0')
            continue;
        const char command = *p++;
        unsigned long number = 0;
        int result = 0;
        switch (command) {
        case 'a':
            net_specs_dialog(NET_SPECS_EDIT, text, stdin, stdout);
            break;
        case 'n':
            net_specs_dialog(NET_SPECS_SHOW, text, stdin, stdout);
            break;
        case 'd':
            skip_spaces(p);
            if (*p == 'a') {
                result = edit_params(EDIT_CLEAR, text, 0, nullptr);
            } else if (next_number(&p, &number, 10) != 1) {
                std::fputs(BAD_COMMAND, stdout);
                break;
            } else {
                result = edit_params(EDIT_DELETE, text, as_line_number(number), nullptr);
            }
            if (result == 0)
                edit_params(EDIT_PRINT, text, 0, nullptr);
            else
                std::fputs(BAD_COMMAND, stdout);
            break;
        case 'i':
            if (next_number(&p, &number, 10) != 1) {
                std::fputs(BAD_COMMAND, stdout);
                break;
            }
            skip_spaces(p);
            if (!is_word_char(static_cast<unsigned char>(*p))) {
                std::fputs(BAD_INSERT, stdout);
                break;
            }
            result = edit_params(EDIT_INSERT, text, as_line_number(number), p);
            if (result == 0)
                edit_params(EDIT_PRINT, text, 0, nullptr);
            else if (result == EDIT_TOO_LONG)
                std::printf("?!?: parameters would pass %zu characters, nothing inserted.\n",
                            PARAM_TEXT_MAX);
            else
                std::fputs(BAD_COMMAND, stdout);
            break;
        case 'h':
            std::fputs(HELP_TEXT, stdout);
            break;
        case 'p':
            edit_params(EDIT_PRINT, text, 0, nullptr);
            break;
        case 'q':
            return 0;
        case 'w': {
            std::fputs(WRITE_QUESTION, stdout);
            int key = read_key();
            std::fputs("\n", stdout);
            if (key == 'y')
                writebootparameters(text, paths, true);
            else
                std::fputs(WRITE_DECLINED, stdout);
            break;
        }
        default:
            std::fputs(BAD_COMMAND, stdout);
            break;
        }
    }
    return 0;
}
