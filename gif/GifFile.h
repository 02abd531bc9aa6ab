#pragma once

#include "GifArrays.h"
#include "GifStream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fenwa::gif {

class TGifFile;
class TIndexedBitmap;

enum class TExtensionKind : uint8_t {
    ekGraphicControl = 0, // label 0xF9
    ekPlainText = 1,      // label 0x01
    ekApplication = 2,    // label 0xFF
    ekComment = 3,        // label 0xFE
};

// The six bytes after a graphic control label, as they stand in the file.
struct TGraphicControl {
    uint8_t BlockSize = 0;
    uint8_t Flags = 0;
    uint16_t DelayTime = 0; // hundredths of a second
    uint8_t TransparentIndex = 0;
    uint8_t Terminator = 0;
};

// Data sub-blocks: the compressed data of an image, or the data of an extension, read
// back one byte at a time. The blocks are stored back to back, so that the decoder can
// read them as one run and a file of many tiny blocks costs no allocation per block.
class TByteBuffer {
public:
    void AddBlock(std::span<const uint8_t> block);
    void Reserve(size_t totalSize) { bytes_.reserve(totalSize); }
    int32_t TotalSize() const { return static_cast<int32_t>(bytes_.size()); }
    int32_t BlockCount() const { return static_cast<int32_t>(blockEnds_.size()); }
    // Block i, 1-based.
    std::span<const uint8_t> Block(int32_t i) const;
    // All blocks joined.
    std::span<const uint8_t> Bytes() const { return bytes_; }

    // Starts reading at the first byte of the first block; with no block at all raises
    // EListError "List index out of bounds (0)".
    void Reset();
    // The next byte; after the last block raises EListError.
    uint8_t NextByte();
    int32_t BlockIndex() const { return blockIndex_; }
    int32_t Position() const { return position_; }

private:
    std::vector<uint8_t> bytes_;
    std::vector<uint32_t> blockEnds_; // offset just past each block in bytes_
    int32_t blockIndex_ = 0;          // 1-based
    int32_t position_ = 0;            // 1-based within the current block
};

// One extension block that stood before an image.
class TExtension {
public:
    explicit TExtension(TExtensionKind kind) : Kind(kind) {}

    TExtensionKind Kind;
    TGraphicControl GraphicControl; // ekGraphicControl only
    // The fixed bytes after the label: 13 for plain text, 12 for application (the block
    // size byte included); empty for the other kinds.
    std::vector<uint8_t> Header;
    // The data sub-blocks (plain text, application, comment).
    TByteBuffer Blocks;
};

// The extensions before one image, in file order. Owns its items and frees them from the
// last to the first.
class TExtensionList {
public:
    TExtensionList() = default;
    TExtensionList(TExtensionList&&) = default;
    TExtensionList& operator=(TExtensionList&&) = default;
    ~TExtensionList() { Clear(); }

    TExtension& Add(TExtensionKind kind) {
        return *items_.emplace_back(std::make_unique<TExtension>(kind));
    }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // 0-based, like the list it stands for.
    const TExtension& operator[](int32_t i) const { return *items_.at(static_cast<size_t>(i)); }
    void Clear() {
        while (!items_.empty())
            items_.pop_back();
    }

private:
    std::vector<std::unique_ptr<TExtension>> items_;
};

// One image of a GIF file: its descriptor, extensions, colour table and pixels.
class TGifSubImage {
public:
    // colorCount must be a power of two from 2 to 256, otherwise EGifException.
    TGifSubImage(int32_t colorCount, TGifFile* owner);
    ~TGifSubImage();
    TGifSubImage(const TGifSubImage&) = delete;
    TGifSubImage& operator=(const TGifSubImage&) = delete;

    // Reads the image that follows a 0x2C separator, then decodes it.
    void ReadFromStream(TGifStream& stream);
    // Delay time of the last graphic control extension, 0 if there is none.
    int32_t Delay() const;
    // Decodes Data into Pixels (LzwDecoder.cpp).
    void Decode();
    // The image as an 8-bit palette bitmap, built on the first call and kept.
    const TIndexedBitmap& GetBitmap();

    TGifFile* Owner;
    uint8_t CodeSize = 0;
    TByteBuffer Data;
    uint16_t Left = 0;
    uint16_t Top = 0;
    uint16_t Width = 0;
    uint16_t Height = 0;
    uint8_t ImageFlags = 0;
    bool Interlaced = false;
    bool HasLocalColorTable = false;
    TExtensionList Extensions;
    uint8_t LocalTableBits = 0;
    std::unique_ptr<TByteArray2D> Pixels;
    TColorTable LocalColorTable;

private:
    std::unique_ptr<TIndexedBitmap> bitmap_;
};

// A whole GIF file (87a or 89a) read into memory. Read-only: there is no writer.
class TGifFile {
public:
    TGifFile();
    ~TGifFile();
    TGifFile(const TGifFile&) = delete;
    TGifFile& operator=(const TGifFile&) = delete;

    // Reads the whole file (a native path, any bytes) and runs ReadGifStream on it. Only
    // a regular file is read: a FIFO, device or directory at the name raises EFileError
    // at once.
    void LoadFromFile(const std::string& fileName);
    // Reads the file from the start of the stream. Format errors raise; a file that ends
    // early or a stray byte where a block should start ends reading quietly.
    void ReadGifStream(TGifStream& stream);
    void ReadGifStream(std::span<const uint8_t> bytes);

    int32_t ImageCount() const { return static_cast<int32_t>(images_.size()); }
    // 1-based; outside 1..ImageCount raises EListError.
    TGifSubImage& GetImage(int32_t i);
    // 0 for fewer than 2 images; otherwise the last non-zero image delay, or 0.
    int32_t AnimationDelay() const;

    std::array<char, 3> Signature{'G', 'I', 'F'};
    std::array<char, 3> Version{'8', '7', 'a'};
    uint16_t ScreenWidth = 0;
    uint16_t ScreenHeight = 0;
    uint8_t ScreenFlags = 0;
    uint8_t BackgroundIndex = 0;
    uint8_t AspectRatio = 0;
    bool HasGlobalColorTable = true;
    TColorTable GlobalColorTable{0};
    uint8_t GlobalTableBits = 1;

private:
    friend class TGifSubImage;
    void ReadExtensions(TGifStream& stream, uint8_t& introducer, TExtensionList& list);
    // Counts an image's pixels against kMaxFilePixels; raises ENotEnoughMemory beyond it.
    void ReservePixels(int64_t pixels);
    // Counts an image or extension against kMaxImages and kMaxExtensions.
    void CountImage();
    void CountExtension();

    std::vector<std::unique_ptr<TGifSubImage>> images_;
    int64_t reservedPixels_ = 0;
    int32_t imagesRead_ = 0;
    int32_t extensionsRead_ = 0;
};

} // namespace fenwa::gif
