#pragma once
// The content hashes' cache as a module (fenwa-content-cache.so), so that the front end
// loads SQLite only for a content search: --version and the plain searches start without
// it. The module keeps the file CacheDatabase keeps (cachedatabase.h), shared with the
// window and the full program. Its calls are plain C: the module and the front end each
// carry their own C++ library.

#include <cstddef>

#include "contentcheck.h"

extern "C" {

// Changes with any change to the table or to the types passed through it.
#define FENWA_CACHE_MODULE_CALLS "fenwa_content_cache_calls_1"

struct FenwaCacheCalls {
    // Opens (or starts) the cache at its default place; never null.
    void* (*open)();
    // What CacheDatabase::problem() says; valid until the next call on the cache.
    const char* (*problem)(void* cache);
    int (*settleSeconds)(void* cache);
    // One answer per stamp: `known[i]` is 1 when `found[i]` holds the kept hashes.
    void (*lookup)(void* cache, const fenwa::FileStamp* stamps, size_t count,
                   fenwa::KeptContentHashes* found, unsigned char* known);
    void (*store)(void* cache, const fenwa::FileStamp* stamp,
                  const fenwa::KeptContentHashes* hashes);
    // What CacheDatabase::writeBack() answers; valid until the next call on the cache.
    const char* (*writeBack)(void* cache);
    void (*close)(void* cache);
};

using FenwaCacheCallsFunction = const FenwaCacheCalls* (*)();
}
