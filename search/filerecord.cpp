#include "filerecord.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "civiltime.h"

namespace fenwa {

using platform::nativePathStyle;

namespace {

// Up to eight bytes, upper-cased, packed into a number.
uint64_t packUpper(std::string_view text) {
    uint64_t packed = 0;
    for (char c : text)
        packed = (packed << 8) | uint8_t((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
    return packed;
}

// Every piece of the extension list that begins with a dot and is shorter than eight bytes,
// and every photo extension, packed with its length and sorted: a short extension counts
// exactly when it is one.
const std::vector<uint64_t>& shortImageExtensions() {
    static const std::vector<uint64_t> pieces = [] {
        std::vector<uint64_t> out;
        for (size_t i = 0; i < ImageExtensionList.size(); ++i)
            if (ImageExtensionList[i] == '.')
                for (size_t n = 1; n < 8 && i + n <= ImageExtensionList.size(); ++n)
                    out.push_back(packUpper(ImageExtensionList.substr(i, n)) | (uint64_t(n) << 56));
        // The photo extensions whole, between their dots.
        for (size_t i = 0; i + 1 < PhotoExtensionList.size(); ++i)
            if (PhotoExtensionList[i] == '.') {
                const size_t n = PhotoExtensionList.find('.', i + 1) - i;
                out.push_back(packUpper(PhotoExtensionList.substr(i, n)) | (uint64_t(n) << 56));
            }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }();
    return pieces;
}

// The extension of a name as extensionOf gives it, found here without a call per byte
// for POSIX names, since every file of a scan is asked about.
std::string_view extensionOfName(std::string_view name) {
    if constexpr (nativePathStyle() == platform::PathStyle::Posix) {
        for (size_t i = name.size(); i-- > 0;) {
            if (name[i] == '.')
                return name.substr(i);
            if (name[i] == '/')
                break;
        }
        return {};
    } else {
        return platform::extensionOf(nativePathStyle(), name);
    }
}

} // namespace

bool IsImageName(std::string_view name) {
    std::string_view ext = extensionOfName(name);
    if (ext.empty() || ext.size() > ImageExtensionList.size())
        return false;
    if (ext.size() < 8) {
        // Every file of a scan comes here: one lookup among the short pieces. The length
        // sits in the top byte, which seven packed bytes leave free.
        const uint64_t key = packUpper(ext) | (uint64_t(ext.size()) << 56);
        const std::vector<uint64_t>& pieces = shortImageExtensions();
        return std::binary_search(pieces.begin(), pieces.end(), key);
    }
    char upper[ImageExtensionList.size()];
    for (size_t i = 0; i < ext.size(); ++i) {
        const char c = ext[i];
        upper[i] = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    return ImageExtensionList.find(std::string_view(upper, ext.size())) != std::string_view::npos;
}

std::string formatMinute(int32_t minute) {
    int64_t m = minute;
    int64_t days = m >= 0 ? m / 1440 : -((-m + 1439) / 1440);
    int64_t inDay = m - days * 1440;
    platform::CivilDate date = platform::civilFromDays(days);
    if (date.year < 0 || date.year > 9999) {
        char buffer[64]; // room for any int the compiler thinks the fields may hold
        std::snprintf(buffer, sizeof buffer, "%04lld/%02d/%02d %02d:%02d",
                      static_cast<long long>(date.year), date.month, date.day, int(inDay / 60),
                      int(inDay % 60));
        return buffer;
    }
    // The common case by hand: a list of a million rows formats this for every row.
    auto two = [](char* p, int v) {
        p[0] = char('0' + v / 10);
        p[1] = char('0' + v % 10);
    };
    std::string text(16, ' ');
    const int year = int(date.year);
    two(&text[0], year / 100);
    two(&text[2], year % 100);
    text[4] = '/';
    two(&text[5], date.month);
    text[7] = '/';
    two(&text[8], date.day);
    two(&text[11], int(inDay / 60));
    text[13] = ':';
    two(&text[14], int(inDay % 60));
    return text;
}

void FileRecordStore::clear() {
    records_.clear();
    records_.shrink_to_fit();
    hashOfRow_.clear();
    hashOfRow_.shrink_to_fit();
    hashes_.clear();
    hashes_.shrink_to_fit();
    groupOfRow_.clear();
    groupOfRow_.shrink_to_fit();
    likenessOfRow_.clear();
    likenessOfRow_.shrink_to_fit();
    names_.clear();
    names_.shrink_to_fit();
    directories_.clear();
    directoryDevices_.clear();
    directoryIndex_.clear();
}

uint32_t FileRecordStore::internDirectory(std::string_view directory, uint64_t device) {
    auto [it, inserted] =
        directoryIndex_.try_emplace(std::string(directory), uint32_t(directories_.size()));
    if (inserted) {
        directories_.emplace_back(directory);
        directoryDevices_.push_back(device);
    } else if (device != 0) {
        directoryDevices_[it->second] = device;
    }
    return it->second;
}

uint32_t FileRecordStore::storeName(std::string_view name) {
    if (names_.size() + name.size() > UINT32_MAX)
        throw std::length_error("file names exceed the record store's capacity");
    auto offset = static_cast<uint32_t>(names_.size());
    names_.append(name.data(), name.size());
    return offset;
}

void FileRecordStore::append(uint32_t directory, std::string_view name, int64_t size,
                             int32_t minute, uint64_t inode, uint64_t changeStamp) {
    FileRecord r;
    if (name.size() > UINT16_MAX)
        name = name.substr(0, UINT16_MAX);
    r.nameOffset = storeName(name);
    r.nameLength = static_cast<uint16_t>(name.size());
    r.icon = IsImageName(name) ? IconImageFile : IconOtherFile;
    r.directory = directory;
    r.minute = minute;
    r.size = size;
    r.inode = inode;
    r.changeStamp = changeStamp;
    records_.push_back(r);
    if (!hashOfRow_.empty())
        hashOfRow_.push_back(NoHash);
    if (!groupOfRow_.empty())
        groupOfRow_.push_back(0);
    if (!likenessOfRow_.empty())
        likenessOfRow_.push_back(NoLikeness);
}

void FileRecordStore::setLikeness(size_t row, uint8_t percent) {
    if (likenessOfRow_.empty() && percent == NoLikeness)
        return;
    if (likenessOfRow_.empty())
        likenessOfRow_.assign(records_.size(), NoLikeness);
    likenessOfRow_[row] = percent;
}

void FileRecordStore::setGroup(size_t row, uint32_t group) {
    if (groupOfRow_.empty() && group == 0)
        return;
    if (groupOfRow_.empty())
        groupOfRow_.assign(records_.size(), 0);
    groupOfRow_[row] = group;
}

uint32_t FileRecordStore::reserveGroups(size_t count) {
    static std::atomic<uint32_t> next{1};
    return next.fetch_add(uint32_t(count));
}

void FileRecordStore::setContentHash(size_t row, const ContentHash& hash) {
    if (hashOfRow_.empty())
        hashOfRow_.assign(records_.size(), NoHash);
    if (hashOfRow_[row] != NoHash) {
        hashes_[hashOfRow_[row]] = hash;
        return;
    }
    hashOfRow_[row] = uint32_t(hashes_.size());
    hashes_.push_back(hash);
}

bool FileRecordStore::sameContent(size_t a, size_t b) const {
    const ContentHash* ha = contentHash(a);
    const ContentHash* hb = contentHash(b);
    return ha && hb && records_[a].size == records_[b].size && *ha == *hb;
}

void FileRecordStore::appendRows(const FileRecordStore& from, std::span<const uint32_t> rows) {
    // Each directory text interned once, on its first row; room for every record and
    // name taken at once.
    std::vector<uint32_t> directoryMap(from.directories_.size(), UINT32_MAX);
    size_t nameBytes = 0;
    for (uint32_t row : rows)
        nameBytes += from.records_[row].nameLength;
    reserveMore(rows.size(), nameBytes);
    const size_t firstNew = records_.size();
    // The rows lie anywhere in `from` (a group's members are read far apart): each
    // record is asked for some rows ahead, and its name once the record is there.
    constexpr size_t Ahead = 8;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i + 2 * Ahead < rows.size())
            __builtin_prefetch(&from.records_[rows[i + 2 * Ahead]]);
        if (i + Ahead < rows.size())
            __builtin_prefetch(from.names_.data() + from.records_[rows[i + Ahead]].nameOffset);
        const uint32_t row = rows[i];
        const FileRecord& r = from.records_[row];
        uint32_t& mapped = directoryMap[r.directory];
        if (mapped == UINT32_MAX)
            mapped = internDirectory(from.directories_[r.directory],
                                     from.directoryDevices_[r.directory]);
        append(mapped, from.name(row), r.size, r.minute, r.inode, r.changeStamp);
        records_.back().flags = r.flags;
    }
    if (from.hashOfRow_.empty() && !from.hasGroups() && !from.hasLikeness())
        return;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (const ContentHash* hash = from.contentHash(rows[i]))
            setContentHash(firstNew + i, *hash);
        setGroup(firstNew + i, from.group(rows[i]));
        setLikeness(firstNew + i, from.likeness(rows[i]));
    }
}

void FileRecordStore::clearKeepingRoom() {
    records_.clear();
    names_.clear();
    hashOfRow_.clear();
    hashes_.clear();
    groupOfRow_.clear();
    likenessOfRow_.clear();
    directories_.clear();
    directoryDevices_.clear();
    directoryIndex_.clear();
}

void FileRecordStore::appendAll(FileRecordStore&& other) {
    // Taken whole unless room was reserved here for it (and for what follows it).
    if (records_.empty() && records_.capacity() < other.records_.size()) {
        *this = std::move(other);
        other.clear();
        return;
    }
    appendCopy(other);
    other.clear();
}

void FileRecordStore::appendCopy(const FileRecordStore& other) {
    // In bulk: each directory text interned once, the name bytes appended in one piece.
    std::vector<uint32_t> directoryMap(other.directories_.size());
    for (size_t i = 0; i < other.directories_.size(); ++i)
        directoryMap[i] = internDirectory(other.directories_[i], other.directoryDevices_[i]);
    if (names_.size() + other.names_.size() > UINT32_MAX)
        throw std::length_error("file names exceed the record store's capacity");
    const auto nameBase = static_cast<uint32_t>(names_.size());
    names_.append(other.names_.data(), other.names_.size());
    // Geometric growth: a store joined from many pieces is not copied once per piece.
    const size_t needed = records_.size() + other.records_.size();
    if (records_.capacity() < needed)
        records_.reserve(std::max(needed, 2 * records_.capacity()));
    const size_t firstNew = records_.size();
    for (FileRecord r : other.records_) {
        r.nameOffset += nameBase;
        r.directory = directoryMap[r.directory];
        records_.push_back(r);
    }
    // Content hashes go with their rows.
    if (!hashOfRow_.empty())
        hashOfRow_.resize(records_.size(), NoHash);
    for (size_t row = 0; row < other.size(); ++row)
        if (const ContentHash* hash = other.contentHash(row))
            setContentHash(firstNew + row, *hash);
    if (!groupOfRow_.empty() || !other.groupOfRow_.empty()) {
        groupOfRow_.resize(firstNew, 0);
        groupOfRow_.resize(records_.size(), 0);
        std::copy(other.groupOfRow_.begin(), other.groupOfRow_.end(),
                  groupOfRow_.begin() + long(firstNew));
    }
    if (!likenessOfRow_.empty() || !other.likenessOfRow_.empty()) {
        likenessOfRow_.resize(firstNew, NoLikeness);
        likenessOfRow_.resize(records_.size(), NoLikeness);
        std::copy(other.likenessOfRow_.begin(), other.likenessOfRow_.end(),
                  likenessOfRow_.begin() + long(firstNew));
    }
}

void FileRecordStore::insertAll(size_t position, FileRecordStore&& other) {
    const size_t before = size();
    const size_t added = other.size();
    appendAll(std::move(other));
    if (position >= before || added == 0)
        return;
    // The new rows were appended; one reordering moves them in, and whatever a row
    // carries moves with it.
    std::vector<uint32_t> order(size());
    size_t i = 0;
    for (size_t row = 0; row < position; ++row)
        order[i++] = uint32_t(row);
    for (size_t row = before; row < before + added; ++row)
        order[i++] = uint32_t(row);
    for (size_t row = position; row < before; ++row)
        order[i++] = uint32_t(row);
    permute(order);
}

std::string_view FileRecordStore::type(size_t row) const {
    return platform::extensionOf(nativePathStyle(), name(row));
}

uint8_t FileRecordStore::naturalIcon(size_t row) const {
    return IsImageName(name(row)) ? IconImageFile : IconOtherFile;
}

std::string FileRecordStore::fullPath(size_t row) const {
    return platform::JoinPath(nativePathStyle(), directory(row), name(row));
}

std::string FileRecordStore::text(size_t row, int column) const {
    switch (column) {
    case ColName:
        return std::string(name(row));
    case ColDirectory:
        return directory(row);
    case ColSize:
        return sizeText(row);
    case ColType:
        return std::string(type(row));
    case ColTime:
        return timeText(row);
    default:
        return {};
    }
}

void FileRecordStore::removeRows(const std::vector<bool>& remove) {
    // The hashes of removed rows stay in hashes_ unreferenced until the store is cleared.
    const bool hashed = !hashOfRow_.empty();
    size_t kept = 0;
    for (size_t row = 0; row < records_.size(); ++row)
        if (row >= remove.size() || !remove[row]) {
            if (hashed)
                hashOfRow_[kept] = hashOfRow_[row];
            if (!groupOfRow_.empty())
                groupOfRow_[kept] = groupOfRow_[row];
            if (!likenessOfRow_.empty())
                likenessOfRow_[kept] = likenessOfRow_[row];
            records_[kept++] = records_[row];
        }
    records_.resize(kept);
    if (hashed)
        hashOfRow_.resize(kept);
    if (!groupOfRow_.empty())
        groupOfRow_.resize(kept);
    if (!likenessOfRow_.empty())
        likenessOfRow_.resize(kept);
}

void FileRecordStore::permute(const std::vector<uint32_t>& order) {
    BigArray<FileRecord> sorted;
    sorted.reserve(order.size());
    for (uint32_t old : order)
        sorted.push_back(records_[old]);
    records_.swap(sorted);
    if (!hashOfRow_.empty()) {
        std::vector<uint32_t> hashes;
        hashes.reserve(order.size());
        for (uint32_t old : order)
            hashes.push_back(hashOfRow_[old]);
        hashOfRow_.swap(hashes);
    }
    if (!groupOfRow_.empty()) {
        std::vector<uint32_t> groups;
        groups.reserve(order.size());
        for (uint32_t old : order)
            groups.push_back(groupOfRow_[old]);
        groupOfRow_.swap(groups);
    }
    if (!likenessOfRow_.empty()) {
        std::vector<uint8_t> likeness;
        likeness.reserve(order.size());
        for (uint32_t old : order)
            likeness.push_back(likenessOfRow_[old]);
        likenessOfRow_.swap(likeness);
    }
}

void FileRecordStore::rename(size_t row, std::string_view newName) {
    FileRecord& r = records_[row];
    if (newName.size() > UINT16_MAX)
        newName = newName.substr(0, UINT16_MAX);
    r.nameOffset = storeName(newName);
    r.nameLength = static_cast<uint16_t>(newName.size());
    r.icon = IsImageName(newName) ? IconImageFile : IconOtherFile;
}

size_t FileRecordStore::memoryUsage() const {
    size_t bytes = records_.capacity() * sizeof(FileRecord) + names_.capacity() +
                   hashOfRow_.capacity() * sizeof(uint32_t) +
                   hashes_.capacity() * sizeof(ContentHash) +
                   groupOfRow_.capacity() * sizeof(uint32_t) + likenessOfRow_.capacity();
    for (const std::string& d : directories_)
        bytes += sizeof(std::string) + d.capacity() + 48 + 8; // the index's node, the device
    return bytes;
}

} // namespace fenwa
