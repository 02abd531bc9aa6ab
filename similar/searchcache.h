#pragma once
// Fingerprints and the content check's hashes kept between searches, in the file
// CacheDatabase keeps (cachedatabase.h, shared with fenwa-cli's front end): here a
// picture's reading goes to and from its entry, its likeness print packed.

#include <cstdint>
#include <string>

#include "cachedatabase.h"
#include "filerecord.h"
#include "fingerprint.h"
#include "picturefingerprint.h"

namespace fenwa::similar {

class SearchCache : public CacheDatabase {
public:
    using CacheDatabase::CacheDatabase;

    // Whether the key is known, and then what reading its picture gave. A fingerprinted
    // picture may be known without its likeness print: then only the print is left to
    // make. The print is read only `withPrint` (Known::Yes then means it is in `reading`).
    Known lookup(const FingerprintKey& key, PictureReading& reading, bool withPrint);
    // Kept in memory until flush(); a print is kept as given (an empty one as none).
    void store(const FingerprintKey& key, PictureReading reading);
};

// A row's picture read through the cache: a known entry is used as it is (with its print
// when `withPrint`); otherwise the file is decoded, its print made at the same time, and
// the reading kept only when the file still is what the row says (size, identity, change
// stamp) and has settled. The print is kept only `withPrint`: prints are kept for the
// pictures that need one, not for every picture read. Rows without an identity bypass the
// cache. `decode` reads a file with its print (ReadPictureFile but for tests).
using PictureDecoder = PictureReading (*)(const std::string& path);
PictureReading CachedPicture(SearchCache* cache, const FileRecordStore& rows, size_t row,
                             bool withPrint, PictureDecoder decode = nullptr);

// Keeps a print made by an earlier CachedPicture of the row (without `withPrint`), when
// the file still is what the row says and has settled.
void KeepPicturePrint(SearchCache* cache, const FileRecordStore& rows, size_t row,
                      const PictureReading& reading);

} // namespace fenwa::similar
