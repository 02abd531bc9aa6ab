// The module's side of cachemodule.h: CacheDatabase behind plain calls.

#include "cachemodule.h"

#include <string>

#include "cachedatabase.h"

namespace {

using fenwa::similar::CacheDatabase;

struct Cache {
    CacheDatabase database{CacheDatabase::defaultPath()};
    std::string answer; // what the last call that answers text answered
};

Cache* asCache(void* cache) {
    return static_cast<Cache*>(cache);
}

const FenwaCacheCalls Calls = {
    [] { return static_cast<void*>(new Cache); },
    [](void* cache) {
        Cache* c = asCache(cache);
        c->answer = c->database.problem();
        return c->answer.c_str();
    },
    [](void* cache) { return asCache(cache)->database.settleSeconds(); },
    [](void* cache, const fenwa::FileStamp* stamps, size_t count, fenwa::KeptContentHashes* found,
       unsigned char* known) {
        const auto answers =
            asCache(cache)->database.lookupContents(std::vector(stamps, stamps + count));
        for (size_t i = 0; i < count; ++i) {
            known[i] = answers[i].has_value();
            if (answers[i])
                found[i] = *answers[i];
        }
    },
    [](void* cache, const fenwa::FileStamp* stamp, const fenwa::KeptContentHashes* hashes) {
        asCache(cache)->database.storeContent(*stamp, *hashes);
    },
    [](void* cache) {
        Cache* c = asCache(cache);
        c->answer = c->database.writeBack();
        return c->answer.c_str();
    },
    [](void* cache) { delete asCache(cache); },
};

} // namespace

extern "C" __attribute__((visibility("default"))) const FenwaCacheCalls*
fenwa_content_cache_calls_1() {
    return &Calls;
}
