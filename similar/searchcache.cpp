#include "searchcache.h"

#include <QByteArray>
#include <tuple>

#include "filesystem.h"
#include "fingerprint.h"
#include "likeness.h"
#include "picturefingerprint.h"

namespace fenwa::similar {

namespace {

// Prints are kept deflated, each grey row as differences from the pixel to its left
// (neighbours are close in a photo, and a page is mostly white): a 16.6 KB print keeps
// in about 4 KB for a page and 9 KB for a photo.
std::string packPrint(const std::string& print) {
    std::string filtered = print;
    if (print.size() >= 6 + size_t(LikenessSide) * LikenessSide)
        for (size_t row = 0; row < size_t(LikenessSide); ++row)
            for (size_t x = LikenessSide - 1; x > 0; --x) {
                const size_t i = 6 + row * LikenessSide + x;
                filtered[i] = char(uint8_t(print[i]) - uint8_t(print[i - 1]));
            }
    const QByteArray packed =
        qCompress(reinterpret_cast<const uchar*>(filtered.data()), qsizetype(filtered.size()));
    return packed.toStdString();
}

// Nothing for bytes that do not unpack to a print's size (a damaged entry).
std::string unpackPrint(const void* blob, size_t size) {
    const auto* bytes = static_cast<const uchar*>(blob);
    // qUncompress trusts the length in front: a damaged one must not allocate much.
    if (size < 4 || ((uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                      uint32_t(bytes[2]) << 8 | bytes[3]) > 65536u))
        return {};
    const QByteArray raw = qUncompress(bytes, qsizetype(size));
    std::string print = raw.toStdString();
    if (print.size() >= 6 + size_t(LikenessSide) * LikenessSide)
        for (size_t row = 0; row < size_t(LikenessSide); ++row)
            for (size_t x = 1; x < size_t(LikenessSide); ++x) {
                const size_t i = 6 + row * LikenessSide + x;
                print[i] = char(uint8_t(print[i]) + uint8_t(print[i - 1]));
            }
    return print;
}

static_assert(int(PictureOutcome::Fingerprinted) == 0 &&
              int(PictureOutcome::NearlyBlank) == KeptOutcomes - 1);
static_assert(CentreParts == std::tuple_size_v<decltype(KeptFingerprint::centre)>);

} // namespace

SearchCache::Known SearchCache::lookup(const FingerprintKey& key, PictureReading& reading,
                                       bool withPrint) {
    reading = {};
    KeptFingerprint kept;
    const Known known = lookupFingerprint(key, FingerprintVersion, kept, withPrint);
    if (known == Known::No)
        return known;
    if (withPrint && known == Known::Yes && kept.fingerprinted()) {
        reading.print = unpackPrint(kept.packedPrint.data(), kept.packedPrint.size());
        if (!ValidLikenessPrint(reading.print)) {
            // A print that does not unpack would make pictures alike: nothing more is taken.
            markDamaged();
            reading = {};
            return Known::No;
        }
    }
    reading.outcome = PictureOutcome(kept.outcome);
    if (kept.fingerprinted())
        reading.fingerprint = {kept.hash, kept.colour, kept.centre};
    return known;
}

void SearchCache::store(const FingerprintKey& key, PictureReading reading) {
    KeptFingerprint kept;
    kept.outcome = int(reading.outcome);
    if (reading.fingerprinted()) {
        kept.hash = reading.fingerprint.hash;
        kept.colour = reading.fingerprint.colour;
        kept.centre = reading.fingerprint.centre;
        if (!reading.print.empty())
            kept.packedPrint = packPrint(reading.print);
    }
    storeFingerprint(key, FingerprintVersion, std::move(kept));
}

namespace {

PictureReading readWithPrint(const std::string& path) {
    return ReadPictureFile(path, true);
}

FingerprintKey keyOf(const FileRecordStore& rows, size_t row) {
    return {rows.device(row), rows.inode(row), rows.fileSize(row), rows.changeStamp(row)};
}

// Where the status-change time is made up (FUSE, network) an edit in place need not
// change the key: nothing is looked up or kept there.
bool cacheable(SearchCache* cache, const FingerprintKey& key, const std::string& path) {
    return cache && key.inode != 0 && key.changeStamp != 0 && platform::changeTimeTrusted(path);
}

bool settled(SearchCache* cache, const FingerprintKey& key, const std::string& path) {
    return platform::fileSettled(-1, path, {key.device, key.inode}, key.size, key.changeStamp,
                                 cache->settleSeconds());
}

} // namespace

PictureReading CachedPicture(SearchCache* cache, const FileRecordStore& rows, size_t row,
                             bool withPrint, PictureDecoder decode) {
    if (!decode)
        decode = readWithPrint;
    const std::string path = rows.fullPath(row);
    const FingerprintKey key = keyOf(rows, row);
    if (!cacheable(cache, key, path))
        return decode(path);
    PictureReading reading;
    const SearchCache::Known known = cache->lookup(key, reading, withPrint);
    if (known == SearchCache::Known::Yes ||
        (known == SearchCache::Known::WithoutPrint && !withPrint))
        return reading;
    reading = decode(path);
    if (settled(cache, key, path)) {
        PictureReading kept = reading;
        if (!withPrint)
            kept.print.clear();
        cache->store(key, std::move(kept));
    }
    return reading;
}

void KeepPicturePrint(SearchCache* cache, const FileRecordStore& rows, size_t row,
                      const PictureReading& reading) {
    const std::string path = rows.fullPath(row);
    const FingerprintKey key = keyOf(rows, row);
    if (!reading.print.empty() && cacheable(cache, key, path) && settled(cache, key, path))
        cache->store(key, reading);
}

} // namespace fenwa::similar
