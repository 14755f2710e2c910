// Hash map: a random sequence of inserts, look-ups, removals and walks
// over a map of 1 to 16 buckets, checked against a plain model of what
// the map must hold (keys compare without regard to letter case).
#include "hashmap.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>
#include "fuzz_support.h"

using fuzz::check;

namespace {

struct model_entry {
    std::string key;
    std::string value;
};

int model_count(const std::vector<model_entry> &model, const std::string &key)
{
    int n = 0;
    for (const auto &e : model)
        if (strcasecmp(e.key.c_str(), key.c_str()) == 0)
            ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const unsigned buckets = in.ConsumeIntegralInRange<unsigned>(1, 16);
    hashmap_t map = hashmap_create(buckets);
    check(map != nullptr);
    std::vector<model_entry> model;

    while (in.remaining_bytes() > 0) {
        const int op = in.ConsumeIntegralInRange<int>(0, 5);
        std::string key = in.ConsumeRandomLengthString(8);
        key = key.c_str(); // keys are C texts
        switch (op) {
        case 0: {
            std::string value = in.ConsumeRandomLengthString(12);
            int r = value.empty() ? hashmap_insert(map, key.c_str(), "", 0)
                                  : hashmap_insert(map, key.c_str(), value.data(), value.size());
            if (value.empty()) {
                check(r == -2);
            } else {
                check(r == 0);
                model.push_back({key, value});
            }
            break;
        }
        case 1: {
            hashmap_iter it = hashmap_find(map, key.c_str());
            if (model_count(model, key) == 0) {
                check(it == map->end_iterator);
            } else {
                const char *k = nullptr;
                const void *v = nullptr;
                long len = hashmap_return_entry(map, it, &k, &v);
                check(len > 0 && strcasecmp(k, key.c_str()) == 0);
            }
            break;
        }
        case 2:
            check(hashmap_search(map, key.c_str()) == model_count(model, key));
            break;
        case 3: {
            int expected = model_count(model, key);
            check(hashmap_remove(map, key.c_str()) == expected);
            std::erase_if(model, [&](const model_entry &e) {
                return strcasecmp(e.key.c_str(), key.c_str()) == 0;
            });
            break;
        }
        case 4: {
            const void *v = nullptr;
            long len = hashmap_entry_by_key(map, key.c_str(), &v);
            if (model_count(model, key) == 0)
                check(len == 0);
            else
                check(len > 0 && v != nullptr);
            break;
        }
        default: {
            // Walk every position; each must hold an entry, the one past
            // the end none.
            check(map->end_iterator == static_cast<int>(model.size()));
            check(hashmap_first(map) == (model.empty() ? -1 : 0));
            for (hashmap_iter it = 0; it < map->end_iterator; ++it) {
                const char *k = nullptr;
                const void *v = nullptr;
                check(hashmap_return_entry(map, it, &k, &v) > 0);
                check(hashmap_is_end(map, it) == 0);
            }
            const char *k = nullptr;
            const void *v = nullptr;
            check(hashmap_return_entry(map, map->end_iterator, &k, &v) == -4);
            check(hashmap_is_end(map, map->end_iterator) == 1);
            break;
        }
        }
    }
    check(hashmap_delete(map) == 0);
    return 0;
}
