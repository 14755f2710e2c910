#include "hashmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct map_deleter {
    void operator()(hashmap_s *m) const { hashmap_delete(m); }
};
using map_ptr = std::unique_ptr<hashmap_s, map_deleter>;

int insert_u32(hashmap_t m, const char *key, uint32_t v)
{
    return hashmap_insert(m, key, &v, sizeof v);
}

uint32_t value_at(hashmap_t m, hashmap_iter it)
{
    const char *key = nullptr;
    const void *data = nullptr;
    EXPECT_EQ(hashmap_return_entry(m, it, &key, &data), 4);
    uint32_t v = 0;
    if (data != nullptr)
        std::memcpy(&v, data, sizeof v);
    return v;
}

// Keys in visiting order, read through the iterators.
std::vector<std::string> keys_in_order(hashmap_t m)
{
    std::vector<std::string> keys;
    if (hashmap_first(m) != 0)
        return keys;
    for (hashmap_iter it = 0; hashmap_is_end(m, it) == 0; ++it) {
        const char *key = nullptr;
        const void *data = nullptr;
        EXPECT_GT(hashmap_return_entry(m, it, &key, &data), 0);
        keys.push_back(key);
    }
    return keys;
}

} // namespace

TEST(HashFunc, FoldsCaseAndMixesLaterCharacters)
{
    EXPECT_EQ(hashfunc("+", 3), 43 % 3);
    EXPECT_EQ(hashfunc("a", 1000), 'a');
    EXPECT_EQ(hashfunc("A", 1000), 'a');
    // 'a' = 97 is odd: (97 >> 1) + 'b' + 8 = 48 + 98 + 8 = 154.
    EXPECT_EQ(hashfunc("ab", 1000), 154);
    EXPECT_EQ(hashfunc("AB", 1000), 154);
    // 154 is even: (154 >> 1) + 'c' = 77 + 99 = 176.
    EXPECT_EQ(hashfunc("abc", 7), 176 % 7);
    EXPECT_EQ(hashfunc("", 5), 0);
    EXPECT_EQ(hashfunc(nullptr, 3), -1);
    EXPECT_EQ(hashfunc("a", 0), -2);
}

TEST(HashMap, CreateRefusesZeroBuckets)
{
    EXPECT_EQ(hashmap_create(0), nullptr);
    map_ptr m(hashmap_create(4));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->size, 4u);
    EXPECT_EQ(m->end_iterator, 0);
    EXPECT_EQ(hashmap_first(m.get()), -1);
    EXPECT_EQ(hashmap_is_end(m.get(), 0), 1);
}

TEST(HashMap, ResultCodesForBadArguments)
{
    map_ptr m(hashmap_create(3));
    uint32_t v = 1;
    const char *key = nullptr;
    const void *data = nullptr;

    EXPECT_EQ(hashmap_insert(nullptr, "a", &v, 4), -1);
    EXPECT_EQ(hashmap_insert(m.get(), nullptr, &v, 4), -1);
    EXPECT_EQ(hashmap_insert(m.get(), "a", &v, 0), -2);
    EXPECT_EQ(hashmap_insert(m.get(), "a", nullptr, 4), -2);
    EXPECT_EQ(m->end_iterator, 0);

    EXPECT_EQ(hashmap_find(nullptr, "a"), -1);
    EXPECT_EQ(hashmap_find(m.get(), nullptr), -1);
    EXPECT_EQ(hashmap_find(m.get(), "a"), m->end_iterator);

    ASSERT_EQ(insert_u32(m.get(), "a", 7), 0);
    EXPECT_EQ(hashmap_return_entry(m.get(), -1, &key, &data), -1);
    EXPECT_EQ(hashmap_return_entry(nullptr, 0, &key, &data), -1);
    EXPECT_EQ(hashmap_return_entry(m.get(), 0, nullptr, &data), -1);
    EXPECT_EQ(hashmap_return_entry(m.get(), 0, &key, nullptr), -1);
    EXPECT_EQ(hashmap_return_entry(m.get(), 1, &key, &data), -4);
    EXPECT_EQ(hashmap_return_entry(m.get(), 0, &key, &data), 4);

    EXPECT_EQ(hashmap_entry_by_key(nullptr, "a", &data), -1);
    EXPECT_EQ(hashmap_entry_by_key(m.get(), nullptr, &data), -1);
    EXPECT_EQ(hashmap_entry_by_key(m.get(), "a", nullptr), -1);
    EXPECT_EQ(hashmap_entry_by_key(m.get(), "zz", &data), 0);

    EXPECT_EQ(hashmap_search(nullptr, "a"), -1);
    EXPECT_EQ(hashmap_search(m.get(), nullptr), -1);
    EXPECT_EQ(hashmap_remove(nullptr, "a"), -1);
    EXPECT_EQ(hashmap_remove(m.get(), nullptr), -1);
    EXPECT_EQ(hashmap_remove(m.get(), "zz"), 0);

    EXPECT_EQ(hashmap_first(nullptr), -1);
    EXPECT_EQ(hashmap_is_end(nullptr, 0), -1);
    EXPECT_EQ(hashmap_is_end(m.get(), -1), -1);
    EXPECT_EQ(hashmap_is_end(m.get(), 0), 0);
    EXPECT_EQ(hashmap_is_end(m.get(), 1), 1);
    EXPECT_EQ(hashmap_delete(nullptr), -1);
}

TEST(HashMap, ValuesAreCopiedIn)
{
    map_ptr m(hashmap_create(2));
    char key[] = "key";
    char value[] = "value";
    ASSERT_EQ(hashmap_insert(m.get(), key, value, sizeof value), 0);
    key[0] = 'X';
    value[0] = 'X';
    const void *data = nullptr;
    ASSERT_EQ(hashmap_entry_by_key(m.get(), "key", &data), static_cast<long>(sizeof value));
    EXPECT_STREQ(static_cast<const char *>(data), "value");
    EXPECT_EQ(hashmap_search(m.get(), "Xey"), 0);
}

TEST(HashMap, KeysIgnoreLetterCase)
{
    map_ptr m(hashmap_create(5));
    ASSERT_EQ(insert_u32(m.get(), "a", 1), 0);
    EXPECT_EQ(hashmap_find(m.get(), "A"), hashmap_find(m.get(), "a"));
    EXPECT_EQ(hashmap_search(m.get(), "A"), 1);
    const void *data = nullptr;
    EXPECT_EQ(hashmap_entry_by_key(m.get(), "A", &data), 4);
    ASSERT_EQ(insert_u32(m.get(), "A", 2), 0);
    EXPECT_EQ(hashmap_search(m.get(), "a"), 2);
    EXPECT_EQ(hashmap_remove(m.get(), "A"), 2);
    EXPECT_EQ(hashmap_first(m.get()), -1);
}

TEST(HashMap, DuplicateKeysAreKeptInInsertionOrder)
{
    map_ptr m(hashmap_create(3));
    ASSERT_EQ(insert_u32(m.get(), "dup", 10), 0);
    ASSERT_EQ(insert_u32(m.get(), "other", 5), 0);
    ASSERT_EQ(insert_u32(m.get(), "dup", 20), 0);
    EXPECT_EQ(m->end_iterator, 3);

    hashmap_iter first = hashmap_find(m.get(), "dup");
    ASSERT_GE(first, 0);
    EXPECT_EQ(value_at(m.get(), first), 10u);
    const void *data = nullptr;
    ASSERT_EQ(hashmap_entry_by_key(m.get(), "dup", &data), 4);
    EXPECT_EQ(*static_cast<const uint32_t *>(data), 10u);
    EXPECT_EQ(hashmap_search(m.get(), "dup"), 2);

    EXPECT_EQ(hashmap_remove(m.get(), "dup"), 2);
    EXPECT_EQ(m->end_iterator, 1);
    EXPECT_EQ(hashmap_search(m.get(), "dup"), 0);
    EXPECT_EQ(hashmap_find(m.get(), "dup"), m->end_iterator);
    EXPECT_EQ(keys_in_order(m.get()), std::vector<std::string>{"other"});
}

TEST(HashMap, IteratorsVisitBucketsInOrderAndChainsFromHead)
{
    // One bucket per remainder of the first character's code.
    map_ptr m(hashmap_create(3));
    // 'c' = 99 -> 0, 'd' = 100 -> 1, 'e' = 101 -> 2, 'f' = 102 -> 0.
    for (const char *k : {"e", "d", "c", "f"})
        ASSERT_EQ(insert_u32(m.get(), k, static_cast<uint32_t>(k[0])), 0);
    EXPECT_EQ(keys_in_order(m.get()), (std::vector<std::string>{"c", "f", "d", "e"}));
    EXPECT_EQ(hashmap_find(m.get(), "c"), 0);
    EXPECT_EQ(hashmap_find(m.get(), "F"), 1);
    EXPECT_EQ(hashmap_find(m.get(), "d"), 2);
    EXPECT_EQ(hashmap_find(m.get(), "e"), 3);
    EXPECT_EQ(value_at(m.get(), 1), static_cast<uint32_t>('f'));
}

TEST(HashMap, RemoveRelinksHeadMiddleAndTail)
{
    map_ptr m(hashmap_create(1)); // a single chain
    for (const char *k : {"a", "b", "c", "d", "e"})
        ASSERT_EQ(insert_u32(m.get(), k, 0), 0);

    EXPECT_EQ(hashmap_remove(m.get(), "c"), 1); // middle
    EXPECT_EQ(keys_in_order(m.get()), (std::vector<std::string>{"a", "b", "d", "e"}));
    EXPECT_EQ(hashmap_remove(m.get(), "a"), 1); // head
    EXPECT_EQ(hashmap_remove(m.get(), "e"), 1); // tail
    EXPECT_EQ(keys_in_order(m.get()), (std::vector<std::string>{"b", "d"}));
    EXPECT_STREQ(m->buckets[0].head->key, "b");
    EXPECT_STREQ(m->buckets[0].tail->key, "d");
    EXPECT_EQ(m->buckets[0].head->prev, nullptr);
    EXPECT_EQ(m->buckets[0].tail->next, nullptr);

    // Appending after removals goes to the new tail.
    ASSERT_EQ(insert_u32(m.get(), "f", 0), 0);
    EXPECT_EQ(keys_in_order(m.get()), (std::vector<std::string>{"b", "d", "f"}));
    EXPECT_EQ(hashmap_remove(m.get(), "b"), 1);
    EXPECT_EQ(hashmap_remove(m.get(), "d"), 1);
    EXPECT_EQ(hashmap_remove(m.get(), "f"), 1);
    EXPECT_EQ(m->buckets[0].head, nullptr);
    EXPECT_EQ(m->buckets[0].tail, nullptr);
    EXPECT_EQ(hashmap_first(m.get()), -1);
}

TEST(HashMap, ReferencesStayValidAfterRemove)
{
    map_ptr m(hashmap_create(2));
    ASSERT_EQ(hashmap_insert(m.get(), "k", "payload", 8), 0);
    const void *data = nullptr;
    ASSERT_EQ(hashmap_entry_by_key(m.get(), "k", &data), 8);
    ASSERT_EQ(hashmap_remove(m.get(), "k"), 1);
    EXPECT_STREQ(static_cast<const char *>(data), "payload");
}
