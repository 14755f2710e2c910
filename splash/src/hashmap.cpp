// String-keyed hash map: chained buckets, case-insensitive keys,
// duplicates kept in insertion order.
#include "hashmap.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

namespace {

unsigned fold(char c)
{
    return static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)));
}

bool key_matches(const hashentry_s *e, const char *key)
{
    return strcasecmp(e->key, key) == 0;
}

hashbucket_s &bucket_of(hashmap_t map, const char *key)
{
    return map->buckets[hashfunc(key, map->size)];
}

void free_entry(hashentry_s *e)
{
    delete[] e->key;
    delete[] static_cast<unsigned char *>(e->data);
    delete e;
}

} // namespace

long hashfunc(const char *key, unsigned size)
{
    if (key == nullptr)
        return -1;
    if (size == 0)
        return -2;
    uint32_t hash = fold(key[0]);
    if (key[0] != '\0') {
        for (const char *p = key + 1; *p != '\0'; ++p)
            hash = (hash >> 1) + fold(*p) + ((hash & 1u) ? 8u : 0u);
    }
    return static_cast<long>(hash % size);
}

hashmap_t hashmap_create(unsigned size)
{
    if (size == 0)
        return nullptr;
    auto *map = new (std::nothrow) hashmap_s{size, 0, nullptr, nullptr};
    if (map == nullptr)
        return nullptr;
    // Zeroed pages from calloc cost nothing until used, so an absurd
    // bucket count fails or stays cheap instead of touching memory.
    map->buckets = static_cast<hashbucket_s *>(std::calloc(size, sizeof(hashbucket_s)));
    if (map->buckets == nullptr) {
        delete map;
        return nullptr;
    }
    return map;
}

int hashmap_insert(hashmap_t map, const char *key, const void *data, size_t len)
{
    if (map == nullptr || key == nullptr)
        return -1;
    if (len == 0 || data == nullptr)
        return -2;
    // The iterator type bounds the number of entries.
    if (map->end_iterator == INT_MAX)
        return -3;

    auto *e = new (std::nothrow) hashentry_s{};
    if (e == nullptr)
        return -3;
    size_t klen = std::strlen(key);
    e->key = new (std::nothrow) char[klen + 1];
    auto *bytes = new (std::nothrow) unsigned char[len];
    if (e->key == nullptr || bytes == nullptr) {
        delete[] e->key;
        delete[] bytes;
        delete e;
        return -3;
    }
    std::memcpy(e->key, key, klen + 1);
    std::memcpy(bytes, data, len);
    e->data = bytes;
    e->len = len;

    hashbucket_s &b = bucket_of(map, key);
    e->prev = b.tail;
    e->next = nullptr;
    if (b.tail != nullptr)
        b.tail->next = e;
    else
        b.head = e;
    b.tail = e;
    map->end_iterator++;
    return 0;
}

hashmap_iter hashmap_find(hashmap_t map, const char *key)
{
    if (map == nullptr || key == nullptr)
        return -1;
    // Every match lives in the key's bucket, so the first match in that
    // chain is the first in visiting order; count what comes before it.
    unsigned target = static_cast<unsigned>(hashfunc(key, map->size));
    hashmap_iter pos = 0;
    for (unsigned i = 0; i < target; ++i)
        for (const hashentry_s *e = map->buckets[i].head; e != nullptr; e = e->next)
            ++pos;
    for (const hashentry_s *e = map->buckets[target].head; e != nullptr; e = e->next, ++pos)
        if (key_matches(e, key))
            return pos;
    return map->end_iterator;
}

long hashmap_return_entry(hashmap_t map, hashmap_iter iter, const char **key, const void **data)
{
    if (map == nullptr || iter < 0 || key == nullptr || data == nullptr)
        return -1;
    if (iter >= map->end_iterator)
        return -4;
    hashmap_iter pos = 0;
    for (unsigned i = 0; i < map->size; ++i) {
        for (const hashentry_s *e = map->buckets[i].head; e != nullptr; e = e->next, ++pos) {
            if (pos == iter) {
                *key = e->key;
                *data = e->data;
                return static_cast<long>(e->len);
            }
        }
    }
    return -4;
}

long hashmap_entry_by_key(hashmap_t map, const char *key, const void **data)
{
    if (map == nullptr || key == nullptr || data == nullptr)
        return -1;
    for (const hashentry_s *e = bucket_of(map, key).head; e != nullptr; e = e->next) {
        if (key_matches(e, key)) {
            *data = e->data;
            return static_cast<long>(e->len);
        }
    }
    return 0;
}

int hashmap_search(hashmap_t map, const char *key)
{
    if (map == nullptr || key == nullptr)
        return -1;
    int count = 0;
    for (const hashentry_s *e = bucket_of(map, key).head; e != nullptr; e = e->next)
        if (key_matches(e, key))
            ++count;
    return count;
}

int hashmap_remove(hashmap_t map, const char *key)
{
    if (map == nullptr || key == nullptr)
        return -1;
    hashbucket_s &b = bucket_of(map, key);
    int count = 0;
    hashentry_s *e = b.head;
    while (e != nullptr) {
        hashentry_s *next = e->next;
        if (key_matches(e, key)) {
            if (e->prev != nullptr)
                e->prev->next = e->next;
            else
                b.head = e->next;
            if (e->next != nullptr)
                e->next->prev = e->prev;
            else
                b.tail = e->prev;
            // Kept aside: callers may still hold references to its data.
            e->prev = nullptr;
            e->next = map->removed;
            map->removed = e;
            map->end_iterator--;
            ++count;
        }
        e = next;
    }
    return count;
}

int hashmap_first(hashmap_t map)
{
    if (map == nullptr || map->end_iterator == 0)
        return -1;
    return 0;
}

int hashmap_is_end(hashmap_t map, hashmap_iter iter)
{
    if (map == nullptr || iter < 0)
        return -1;
    return iter == map->end_iterator ? 1 : 0;
}

int hashmap_delete(hashmap_t map)
{
    if (map == nullptr)
        return -1;
    for (unsigned i = 0; i < map->size; ++i) {
        hashentry_s *e = map->buckets[i].head;
        while (e != nullptr) {
            hashentry_s *next = e->next;
            free_entry(e);
            e = next;
        }
    }
    hashentry_s *e = map->removed;
    while (e != nullptr) {
        hashentry_s *next = e->next;
        free_entry(e);
        e = next;
    }
    std::free(map->buckets);
    delete map;
    return 0;
}
