#include "GifFile.h"

#include "GifBitmap.h"
#include "GifErrors.h"
#include "GifLimits.h"
#include "readfile.h"

#include <algorithm>

namespace fenwa::gif {

namespace {

constexpr uint8_t kExtensionIntroducer = 0x21; // '!'
constexpr uint8_t kImageSeparator = 0x2C;      // ','
constexpr uint8_t kTrailer = 0x3B;             // ';'

uint16_t Word(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Reads Count colours; a table cut short by the end of the file keeps its constructed
// entries where no bytes came.
void ReadColors(TGifStream& stream, TColorTable& table) {
    std::array<uint8_t, 256 * 3> bytes{};
    const size_t wanted = static_cast<size_t>(table.Count()) * 3;
    const size_t got = stream.Read(bytes.data(), wanted);
    for (size_t i = 0; i + 2 < got; i += 3)
        table.Colors[i / 3] = {bytes[i], bytes[i + 1], bytes[i + 2]};
}

// Reads data sub-blocks up to the zero length byte or the end of the stream. A block cut
// short by the end of the stream is kept with the bytes that came.
void ReadSubBlocks(TGifStream& stream, TByteBuffer& blocks) {
    uint8_t length = 0;
    while (stream.ReadByte(length) && length != 0) {
        const auto block =
            stream.Remaining().first(std::min<size_t>(length, stream.Remaining().size()));
        stream.Seek(stream.Position() + static_cast<int64_t>(block.size()));
        if (!block.empty())
            blocks.AddBlock(block);
        if (block.size() < length)
            break;
    }
}

std::string HexByte(uint8_t value) {
    constexpr char digits[] = "0123456789ABCDEF";
    return {digits[value >> 4], digits[value & 15]};
}

} // namespace

// ---------------------------------------------------------------------------------------
// TByteBuffer

void TByteBuffer::AddBlock(std::span<const uint8_t> block) {
    bytes_.insert(bytes_.end(), block.begin(), block.end());
    blockEnds_.push_back(static_cast<uint32_t>(bytes_.size()));
}

std::span<const uint8_t> TByteBuffer::Block(int32_t i) const {
    if (i < 1 || i > BlockCount())
        throw EListError(ListIndexMessage(i - 1));
    const uint32_t begin = i == 1 ? 0 : blockEnds_[static_cast<size_t>(i - 2)];
    return std::span(bytes_).subspan(begin, blockEnds_[static_cast<size_t>(i - 1)] - begin);
}

void TByteBuffer::Reset() {
    if (blockEnds_.empty())
        throw EListError(ListIndexMessage(0));
    blockIndex_ = 1;
    position_ = 1;
}

uint8_t TByteBuffer::NextByte() {
    if (blockIndex_ < 1)
        throw EListError(ListIndexMessage(-1));
    if (position_ > static_cast<int32_t>(Block(blockIndex_).size())) {
        ++blockIndex_;
        position_ = 1;
    }
    const auto block = Block(blockIndex_); // raises after the last block
    return block[static_cast<size_t>(position_++ - 1)];
}

// ---------------------------------------------------------------------------------------
// TGifSubImage

namespace {

uint8_t BitsForColorCount(int32_t count) {
    for (uint8_t bits = 1; bits <= 8; ++bits)
        if (count == 1 << bits)
            return bits;
    throw EGifException("Number of colors (" + std::to_string(count) +
                        ") wrong; must be a power of 2");
}

} // namespace

TGifSubImage::TGifSubImage(int32_t colorCount, TGifFile* owner)
    : Owner(owner), Pixels(std::make_unique<TByteArray2D>(0, 0)), LocalColorTable(colorCount) {
    LocalTableBits = BitsForColorCount(colorCount);
    CodeSize = LocalTableBits == 1 ? 2 : LocalTableBits;
    ImageFlags = static_cast<uint8_t>((HasLocalColorTable ? 0x80 + LocalTableBits - 1 : 0) |
                                      (Interlaced ? 0x40 : 0));
}

TGifSubImage::~TGifSubImage() = default;

void TGifSubImage::ReadFromStream(TGifStream& stream) {
    // A descriptor cut short by the end of the file keeps zeros where no bytes came.
    std::array<uint8_t, 9> descriptor{};
    stream.Read(descriptor.data(), descriptor.size());
    Left = Word(&descriptor[0]);
    Top = Word(&descriptor[2]);
    Width = Word(&descriptor[4]);
    Height = Word(&descriptor[6]);
    ImageFlags = descriptor[8];
    HasLocalColorTable = (ImageFlags & 0x80) != 0;
    Interlaced = (ImageFlags & 0x40) != 0;
    LocalTableBits = static_cast<uint8_t>((ImageFlags & 7) + 1);
    LocalColorTable.SetCount(1 << LocalTableBits);
    if (HasLocalColorTable)
        ReadColors(stream, LocalColorTable);

    // The size comes from the file: check it against our bounds before allocating.
    const int64_t pixels = int64_t{Width} * Height;
    if (Owner)
        Owner->ReservePixels(pixels);
    Pixels.reset();
    Pixels = std::make_unique<TByteArray2D>(Width, Height);

    // Without this byte the image has no data either; Decode then reports the missing data.
    stream.ReadByte(CodeSize);

    // The data's size is known from the sub-block lengths: reserve it once.
    const auto rest = stream.Remaining();
    size_t total = 0;
    for (size_t at = 0; at < rest.size() && rest[at] != 0; at += rest[at] + size_t{1})
        total += rest[at];
    Data.Reserve(std::min(total, rest.size()));

    uint8_t length = 0;
    stream.ReadByte(length);
    while (length != 0 && !stream.AtEnd()) {
        const auto block =
            stream.Remaining().first(std::min<size_t>(length, stream.Remaining().size()));
        stream.Seek(stream.Position() + static_cast<int64_t>(block.size()));
        length = 0;
        if (!stream.AtEnd())
            stream.ReadByte(length); // a block cut short ends the data with the stream
        Data.AddBlock(block);
    }

    Decode();
}

int32_t TGifSubImage::Delay() const {
    for (int32_t i = Extensions.Count() - 1; i >= 0; --i)
        if (Extensions[i].Kind == TExtensionKind::ekGraphicControl)
            return Extensions[i].GraphicControl.DelayTime;
    return 0;
}

const TIndexedBitmap& TGifSubImage::GetBitmap() {
    if (!bitmap_)
        bitmap_ = std::make_unique<TIndexedBitmap>(BuildIndexedBitmap(*this));
    return *bitmap_;
}

// ---------------------------------------------------------------------------------------
// TGifFile

TGifFile::TGifFile() = default;
TGifFile::~TGifFile() = default;

void TGifFile::LoadFromFile(const std::string& fileName) {
    // Opened once without blocking and read from that descriptor: a FIFO or device put
    // at the name is refused rather than waited on.
    std::vector<uint8_t> bytes;
    int64_t size = 0;
    const platform::ReadFileError error =
        platform::readRegularFile(fileName, kMaxFileBytes, bytes, &size);
    if (error == platform::ReadFileError::TooLarge)
        throw ENotEnoughMemory(NotEnoughMemoryMessage(std::max(size, kMaxFileBytes + 1)));
    if (error != platform::ReadFileError::None)
        throw EFileError("Cannot open file \"" + fileName + "\". " +
                         platform::readFileErrorText(error));
    ReadGifStream(bytes);
}

void TGifFile::ReadGifStream(std::span<const uint8_t> bytes) {
    TGifStream stream(bytes);
    ReadGifStream(stream);
}

void TGifFile::ReadGifStream(TGifStream& stream) {
    stream.Seek(0);
    int64_t recorded = 0;

    // A header shorter than six bytes has no version and is refused like a wrong one.
    std::array<uint8_t, 6> header{};
    const bool complete = stream.Read(header.data(), header.size()) == header.size();
    std::copy(header.begin(), header.begin() + 3, Signature.begin());
    std::copy(header.begin() + 3, header.end(), Version.begin());
    const std::string_view version(Version.data(), Version.size());
    if (!complete || (version != "87a" && version != "89a" && version != "87A" && version != "89A"))
        throw EGifException("Gif Version must be 87a or 89a");

    std::array<uint8_t, 7> screen{};
    stream.Read(screen.data(), screen.size());
    ScreenWidth = Word(&screen[0]);
    ScreenHeight = Word(&screen[2]);
    ScreenFlags = screen[4];
    BackgroundIndex = screen[5];
    AspectRatio = screen[6];
    HasGlobalColorTable = (ScreenFlags & 0x80) != 0;
    GlobalTableBits = static_cast<uint8_t>((ScreenFlags & 7) + 1);
    // Set whether or not the table is present: images take their colour count from it.
    GlobalColorTable.SetCount(1 << GlobalTableBits);
    if (HasGlobalColorTable)
        ReadColors(stream, GlobalColorTable);

    uint8_t introducer = 0;
    stream.ReadByte(introducer);
    // The position test stops at a stray byte: nothing is read for it, so it does not move.
    while (introducer != kTrailer && !stream.AtEnd() && stream.Position() != recorded) {
        recorded = stream.Position();
        TExtensionList extensions;
        ReadExtensions(stream, introducer, extensions);
        if (introducer == kImageSeparator) {
            CountImage();
            auto image = std::make_unique<TGifSubImage>(GlobalColorTable.Count(), this);
            image->Extensions = std::move(extensions);
            image->ReadFromStream(stream);
            images_.push_back(std::move(image));
            if (stream.AtEnd() || !stream.ReadByte(introducer))
                introducer = kTrailer;
        }
        // Otherwise extensions that no image follows are dropped with the list.
    }
}

void TGifFile::ReadExtensions(TGifStream& stream, uint8_t& introducer, TExtensionList& list) {
    while (introducer == kExtensionIntroducer && !stream.AtEnd()) {
        uint8_t label = 0;
        stream.ReadByte(label);
        TExtensionKind kind;
        switch (label) {
        case 0xF9:
            kind = TExtensionKind::ekGraphicControl;
            break;
        case 0x01:
            kind = TExtensionKind::ekPlainText;
            break;
        case 0xFF:
            kind = TExtensionKind::ekApplication;
            break;
        case 0xFE:
            kind = TExtensionKind::ekComment;
            break;
        default:
            throw EGifException("Unrecognized extension block.\r\nCode = $" + HexByte(label));
        }
        CountExtension();
        TExtension& extension = list.Add(kind);
        switch (kind) {
        case TExtensionKind::ekGraphicControl: {
            // Always six bytes, whatever the block size byte claims.
            std::array<uint8_t, 6> body{};
            stream.Read(body.data(), body.size());
            extension.GraphicControl = {body[0], body[1], Word(&body[2]), body[4], body[5]};
            break;
        }
        case TExtensionKind::ekPlainText:
        case TExtensionKind::ekApplication:
            extension.Header.assign(kind == TExtensionKind::ekPlainText ? 13 : 12, 0);
            stream.Read(extension.Header.data(), extension.Header.size());
            ReadSubBlocks(stream, extension.Blocks);
            break;
        case TExtensionKind::ekComment:
            ReadSubBlocks(stream, extension.Blocks);
            break;
        }
        // At the end of the stream the introducer keeps its value and the loop ends.
        stream.ReadByte(introducer);
    }
}

void TGifFile::ReservePixels(int64_t pixels) {
    if (reservedPixels_ + pixels > kMaxFilePixels)
        throw ENotEnoughMemory(NotEnoughMemoryMessage(pixels));
    reservedPixels_ += pixels;
}

void TGifFile::CountImage() {
    if (++imagesRead_ > kMaxImages)
        throw EGifException("Too many images (more than " + std::to_string(kMaxImages) + ")");
}

void TGifFile::CountExtension() {
    if (++extensionsRead_ > kMaxExtensions)
        throw EGifException("Too many extension blocks (more than " +
                            std::to_string(kMaxExtensions) + ")");
}

TGifSubImage& TGifFile::GetImage(int32_t i) {
    if (i < 1 || i > ImageCount())
        throw EListError(ListIndexMessage(i - 1));
    return *images_[static_cast<size_t>(i - 1)];
}

int32_t TGifFile::AnimationDelay() const {
    if (images_.size() < 2)
        return 0;
    for (auto it = images_.rbegin(); it != images_.rend(); ++it)
        if ((*it)->Delay() != 0)
            return (*it)->Delay();
    return 0;
}

} // namespace fenwa::gif
