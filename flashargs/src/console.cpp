// Terminal input of the interactive editor.
#include "console.h"

#include <termios.h>
#include <unistd.h>

line_result read_line(FILE *in, std::string &line)
{
    line.clear();
    bool any = false;
    bool too_long = false;
    int c;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < INPUT_LINE_MAX)
            line.push_back(static_cast<char>(c));
        else
            too_long = true;
    }
    if (!any)
        return LINE_EOF;
    return too_long ? LINE_TOO_LONG : LINE_OK;
}

int read_key()
{
    std::fflush(stdout);
    termios saved{};
    // Standard input may be a file or a pipe: then there is no mode to change.
    bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios single = saved;
        single.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        // Wait for exactly one key, however the terminal was left before.
        single.c_cc[VMIN] = 1;
        single.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSADRAIN, &single);
    }
    int key = std::getchar();
    if (terminal)
        tcsetattr(STDIN_FILENO, TCSADRAIN, &saved);
    return key;
}
