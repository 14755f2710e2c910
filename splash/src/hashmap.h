// String-keyed hash map with a fixed number of buckets.
//
// Takes: NUL-terminated keys (compared and hashed without regard to
// letter case) and opaque value bytes, which are copied in.
// Gives: references to the stored copies, and iterators that are
// positions 0 .. end_iterator - 1 in a fixed visiting order (bucket 0
// upward, each bucket's chain from head to tail).  Results are 0 or a
// count on success and negative codes on failure.
//
// Entries stay allocated (and references to them valid) until
// hashmap_delete, even after hashmap_remove has unlinked them.
#ifndef SPLASH_HASHMAP_H
#define SPLASH_HASHMAP_H

#include <cstddef>

using hashmap_iter = int;

struct hashentry_s {
    char *key;
    void *data;
    size_t len;
    hashentry_s *prev;
    hashentry_s *next;
};

struct hashbucket_s {
    hashentry_s *head;
    hashentry_s *tail;
};

struct hashmap_s {
    unsigned size;
    hashmap_iter end_iterator;
    hashbucket_s *buckets;
    // Entries taken out by hashmap_remove, released by hashmap_delete.
    hashentry_s *removed;
};

using hashmap_t = hashmap_s *;

// Bucket of a key: -1 for a null key, -2 for zero buckets.
long hashfunc(const char *key, unsigned size);

hashmap_t hashmap_create(unsigned size);
int hashmap_insert(hashmap_t map, const char *key, const void *data, size_t len);
hashmap_iter hashmap_find(hashmap_t map, const char *key);
long hashmap_return_entry(hashmap_t map, hashmap_iter iter, const char **key, const void **data);
long hashmap_entry_by_key(hashmap_t map, const char *key, const void **data);
int hashmap_search(hashmap_t map, const char *key);
int hashmap_remove(hashmap_t map, const char *key);
int hashmap_first(hashmap_t map);
int hashmap_is_end(hashmap_t map, hashmap_iter iter);
int hashmap_delete(hashmap_t map);

#endif
