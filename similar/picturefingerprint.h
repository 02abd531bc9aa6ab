#pragma once
// Reading a picture file into its fingerprint and colour layout. JPEG files are decoded
// by libjpeg-turbo at the smallest scale that keeps 128 pixels on the short side (what the likeness
// print needs); other pictures (GIF, BMP, icons, metafiles) load through the picture loaders. EXIF
// orientation needs no turning: the distance already ignores orientation.
// Safe to call from several threads once PrepareFingerprinting() has run.

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fingerprint.h"
#include "likeness.h"

namespace fenwa::similar {

// The short side a reduced JPEG decode keeps at least.
inline constexpr int MinShortSide = LikenessSide;
// Larger files are not read for a fingerprint.
inline constexpr int64_t MaxPictureFileBytes = int64_t(256) << 20;

// Registers the picture kinds the loaders need; call once on the main thread.
void PrepareFingerprinting();

// What reading a picture gave. Nearly blank pictures are told apart from those that
// cannot be decoded: both take no part, but they are counted apart.
enum class PictureOutcome { Fingerprinted, Undecodable, NearlyBlank };
struct PictureReading {
    PictureOutcome outcome = PictureOutcome::Undecodable;
    PictureFingerprint fingerprint; // when fingerprinted
    std::string print;              // the likeness print, when asked for (empty: none)
    bool fingerprinted() const { return outcome == PictureOutcome::Fingerprinted; }
};

// Reads a picture's bytes. The name decides the loader as it does for the viewer; JPEG
// bytes are recognised by their start. With `withPrint`, a fingerprinted picture's
// likeness print is made from the same decoded pixels.
PictureReading ReadPictureBytes(const QByteArray& bytes, const std::string& name, bool withPrint);

// Reads a picture file (at most MaxPictureFileBytes long). Only a regular file is read:
// a FIFO, device or directory at the path cannot be decoded, at once.
PictureReading ReadPictureFile(const std::string& path, bool withPrint);

// The fingerprint alone, or nothing when the picture cannot be decoded or is nearly blank.
std::optional<PictureFingerprint> FingerprintBytes(const QByteArray& bytes,
                                                   const std::string& name);
std::optional<PictureFingerprint> FingerprintFile(const std::string& path);

} // namespace fenwa::similar
