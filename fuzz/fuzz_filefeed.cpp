// File-backed test server: any message file loaded and split, then any
// sequence of reads served as requests between idle ticks; the server's
// reception state must stay consistent and deliver only what it offered.
// Input: the file's bytes, a NUL byte, then reads separated by NUL bytes;
// the first byte of each read also gives the number of idle ticks before it.
#include "filefeed.h"
#include "fuzz_support.h"

#include <cstdlib>
#include <string>

using fuzz::check;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto parts = fuzz::split_parts(data, size, 24);
    const std::string path = fuzz::scratch_dir() + "/navtexMsg.txt";
    check(fuzz::write_file(path, parts[0].data(), parts[0].size()));
    message_store store;
    const int count = load_messages(path, &store);
    // Even an empty file gives one message, an empty one.
    check(count >= 1 && count == static_cast<int>(store.msgs.size()));
    if (parts[0].empty())
        check(count == 1 && store.msgs[0].empty());
    for (std::string_view m : store.msgs)
        check(m.data() >= store.text.data() &&
              m.data() + m.size() <= store.text.data() + store.text.size());

    feed_state st;
    st.msgs = store.msgs;
    st.interval = 1;
    for (size_t p = 1; p < parts.size(); ++p) {
        const std::string &read = parts[p];
        const int ticks = read.empty() ? 0 : static_cast<unsigned char>(read[0]) % 16;
        for (int t = 0; t < ticks; ++t)
            filefeed_tick(st, (t * 37 % 100) / 100.0);
        check(st.current >= -1 && st.current < count);
        check(st.next >= 0 && st.next < count);

        std::string_view line = request_line(read.data(), read.size());
        check(line.size() <= read.size());
        const int pending = st.current;
        const int countdown = st.countdown;
        feed_reply r = filefeed_request(st, line);
        switch (r.action) {
        case feed_action::deliver:
            check(line == "GETMSG" && pending >= 0 && countdown <= 0);
            check(r.parts.size() == 3 && r.parts[1] == store.msgs[static_cast<size_t>(pending)]);
            filefeed_delivered(st);
            check(st.current == -1);
            break;
        case feed_action::reply:
            check(line == "GETSTATUS");
            break;
        case feed_action::close:
            check(line == "quit");
            break;
        case feed_action::none:
            check(r.parts.empty());
            break;
        }
    }
    return 0;
}
