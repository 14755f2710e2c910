// Message filter: any sequence of adding, testing and removing station,
// type and frequency filters with any letter sets and patterns, and any
// message identifier and frequency put to the filter.
#include "navtex_settings/message_filter.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include "fuzz_support.h"

using fuzz::check;

namespace {

void quiet_log(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

int pick_freq(FuzzedDataProvider &in)
{
    static const int freqs[] = {490, 518, 4209};
    if (in.ConsumeBool())
        return in.ConsumeIntegral<int>();
    return freqs[in.ConsumeIntegralInRange<int>(0, 2)];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("G_SLICE", "always-malloc", 1);
    g_log_set_default_handler(quiet_log, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    filter_obj filters;
    check(message_filter_init(&filters) == 1);

    while (in.remaining_bytes() > 0) {
        const int op = in.ConsumeIntegralInRange<int>(0, 7);
        const bool station = in.ConsumeBool();
        const int freq = pick_freq(in);
        std::string text = in.ConsumeRandomLengthString(40);
        text = text.c_str();
        switch (op) {
        case 0:
            if ((station ? message_filter_add_station : message_filter_add_type)(
                    &filters, freq, text.c_str()) == 1)
                check((station ? message_filter_has_station : message_filter_has_type)(
                          &filters, freq, text.c_str()) == 1);
            break;
        case 1:
            (station ? message_filter_has_station : message_filter_has_type)(&filters, freq,
                                                                              text.c_str());
            break;
        case 2:
            (station ? message_filter_remove_station : message_filter_remove_type)(
                &filters, freq, text.c_str());
            check((station ? message_filter_has_station : message_filter_has_type)(
                      &filters, freq, text.c_str()) == 0);
            break;
        case 3:
            message_filter_add_freq(&filters, text.c_str());
            break;
        case 4: {
            guint before = g_slist_length(filters.pattern_list);
            check(message_filter_flush_all(&filters) == static_cast<int>(before));
            check(filters.pattern_list == nullptr);
            break;
        }
        case 5: {
            std::string pattern = in.ConsumeRandomLengthString(24);
            pattern = pattern.c_str();
            int r = message_filter_match(text.c_str(), pattern.c_str());
            check(r == 0 || r == 1);
            break;
        }
        default: {
            filter_msg msg{};
            msg.freq = freq;
            std::strncpy(msg.ident, text.c_str(), sizeof msg.ident - 1);
            int r = message_filter(&filters, &msg);
            check(r == 0 || r == 1);
            break;
        }
        }
    }
    message_filter_free(&filters);
    return 0;
}
