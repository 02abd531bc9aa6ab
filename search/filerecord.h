#pragma once
// The file record: one row of a result list is one file. Records are compact (40 bytes
// plus the name's bytes) because a list may hold millions of them; the texts of the
// columns are made from the stored values when they are shown or compared.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bigallocator.h"
#include "pathrules.h"

namespace fenwa {

enum RowIcon : uint8_t {
    IconImageFile = 0,    // green light
    IconOtherFile = 1,    // red light
    IconCurrentGroup = 2, // pointing hand
};

// The columns of a result list, in order.
enum Column : int { ColName = 0, ColDirectory, ColSize, ColType, ColTime, ColumnCount };

// The extensions that make a file an image; an extension that occurs anywhere in this
// text counts (".JP" does, ".PNG" does not).
inline constexpr std::string_view ImageExtensionList = ".BMP.GIF.JPG.JPEG.JPE.ICO.EMF.WMF";
// The photo kinds read by their own libraries count only as whole extensions. The
// picture registry's photo formats list the same ones.
inline constexpr std::string_view PhotoExtensionList =
    ".PNG.WEBP.TIF.TIFF.HEIC.HEIF.HIF.AVIF.JXL.DNG.CR2.CR3.NEF.ARW.ORF.RAF.RW2.";

bool IsImageName(std::string_view name);

// Row flags.
enum RowFlag : uint8_t {
    // Another row of the list is a hard link of this row's file: the two share their data,
    // so deleting one of them frees no space and is no loss.
    RowHardLinked = 1,
};

struct FileRecord {
    uint32_t nameOffset = 0; // into the store's name bytes
    uint16_t nameLength = 0;
    uint8_t icon = IconOtherFile;
    uint8_t flags = 0;
    uint32_t directory = 0; // index into the store's directory texts
    int32_t minute = 0;     // local last-write time, minutes since 1970-01-01 00:00
    int64_t size = 0;
    // What the file was when it was read: its inode (its device is its directory's) and
    // the stamp of its modification and status-change times. 0 when not known.
    uint64_t inode = 0;
    uint64_t changeStamp = 0;
};
static_assert(sizeof(FileRecord) == 40);

// The XXH3-128 hash of a file's whole content, as the content check computed it.
struct ContentHash {
    uint64_t low = 0;
    uint64_t high = 0;
    friend bool operator==(const ContentHash&, const ContentHash&) = default;
};

// "YYYY/MM/DD HH:MM" of a local minute.
std::string formatMinute(int32_t minute);

// An ordered store of file records. Names and directory texts are native bytes.
class FileRecordStore {
public:
    FileRecordStore() = default;

    size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    void clear();
    // Empties the store but keeps the room its rows and names took, for a store that is
    // filled again and again.
    void clearKeepingRoom();
    void reserve(size_t rows) { records_.reserve(rows); }
    // Room for `rows` more rows whose names take `nameBytes` more bytes.
    void reserveMore(size_t rows, size_t nameBytes) {
        records_.reserve(records_.size() + rows);
        names_.reserve(names_.size() + nameBytes);
    }

    // The index of a directory text, added once, with the device its files are on (0
    // when not known).
    uint32_t internDirectory(std::string_view directory, uint64_t device = 0);

    void append(uint32_t directory, std::string_view name, int64_t size, int32_t minute,
                uint64_t inode = 0, uint64_t changeStamp = 0);
    // Copies `rows` of `from`, in that order, with what each carries.
    void appendRows(const FileRecordStore& from, std::span<const uint32_t> rows);
    // Moves every record of `other` to the end of this store; `other` is left empty.
    void appendAll(FileRecordStore&& other);
    // Copies every record of `other` to the end of this store.
    void appendCopy(const FileRecordStore& other);
    // Moves every record of `other` in before row `position`; `other` is left empty.
    void insertAll(size_t position, FileRecordStore&& other);

    const FileRecord& record(size_t row) const { return records_[row]; }
    std::string_view name(size_t row) const {
        const FileRecord& r = records_[row];
        return std::string_view(names_.data() + r.nameOffset, r.nameLength);
    }
    const std::string& directory(size_t row) const { return directories_[records_[row].directory]; }
    size_t nameBytes() const { return names_.size(); }
    // The interned directory texts, by the index records hold.
    size_t directoryCount() const { return directories_.size(); }
    const std::string& directoryText(uint32_t index) const { return directories_[index]; }
    std::string_view type(size_t row) const;
    int64_t fileSize(size_t row) const { return records_[row].size; }
    int32_t minute(size_t row) const { return records_[row].minute; }
    uint8_t icon(size_t row) const { return records_[row].icon; }
    // The file's device and inode as read; inode 0 when not known.
    uint64_t device(size_t row) const { return directoryDevices_[records_[row].directory]; }
    uint64_t inode(size_t row) const { return records_[row].inode; }
    uint64_t changeStamp(size_t row) const { return records_[row].changeStamp; }
    // After an action of the program's own changed the file's status (a rename).
    void setChangeStamp(size_t row, uint64_t stamp) { records_[row].changeStamp = stamp; }
    bool hardLinked(size_t row) const { return records_[row].flags & RowHardLinked; }
    void setHardLinked(size_t row, bool linked) {
        records_[row].flags = uint8_t(linked ? records_[row].flags | RowHardLinked
                                             : records_[row].flags & ~RowHardLinked);
    }
    void setIcon(size_t row, uint8_t icon) { records_[row].icon = icon; }
    // The icon a row has when it is not marked: image or other file.
    uint8_t naturalIcon(size_t row) const;

    std::string fullPath(size_t row) const;
    std::string sizeText(size_t row) const { return std::to_string(records_[row].size); }
    std::string timeText(size_t row) const { return formatMinute(records_[row].minute); }
    std::string text(size_t row, int column) const;

    // The hash of a row's content, or null when its bytes were never checked. Only rows a
    // content check kept carry one, so a store without any costs nothing for them.
    const ContentHash* contentHash(size_t row) const {
        if (row >= hashOfRow_.size() || hashOfRow_[row] == NoHash)
            return nullptr;
        return &hashes_[hashOfRow_[row]];
    }
    void setContentHash(size_t row, const ContentHash& hash);
    // True when both rows were hashed, with equal sizes and equal hashes.
    bool sameContent(size_t a, size_t b) const;

    // The group a duplicate search put a row in, or 0 when it is in none (a list of every
    // file has no groups). Ids come from a process-wide counter, so rows of different
    // searches never share one. The group goes with its row through every re-sort.
    uint32_t group(size_t row) const { return row < groupOfRow_.size() ? groupOfRow_[row] : 0; }
    void setGroup(size_t row, uint32_t group);
    bool sameGroup(size_t a, size_t b) const { return group(a) != 0 && group(a) == group(b); }
    bool hasGroups() const { return !groupOfRow_.empty(); }
    // In a list of similar pictures, how alike a row's picture is to its group's first
    // row, in percent (100: nothing the comparison sees differs); NoLikeness for a row
    // that was never measured. It goes with its row like the group.
    static constexpr uint8_t NoLikeness = 255;
    uint8_t likeness(size_t row) const {
        return row < likenessOfRow_.size() ? likenessOfRow_[row] : NoLikeness;
    }
    void setLikeness(size_t row, uint8_t percent);
    bool hasLikeness() const { return !likenessOfRow_.empty(); }
    // `count` group ids never handed out before: the first is returned.
    static uint32_t reserveGroups(size_t count);

    // Removes the rows whose flag is set; keeps the order of the others.
    void removeRows(const std::vector<bool>& remove);
    // Reorders the rows: new row i is old row order[i].
    void permute(const std::vector<uint32_t>& order);
    // Gives a row a new name; the type and icon follow the name.
    void rename(size_t row, std::string_view newName);

    size_t memoryUsage() const;

private:
    uint32_t storeName(std::string_view name);

    static constexpr uint32_t NoHash = UINT32_MAX;

    BigArray<FileRecord> records_;
    // Empty until a row gets a hash; then one entry per record, an index into hashes_.
    std::vector<uint32_t> hashOfRow_;
    std::vector<ContentHash> hashes_;
    // Empty until a row gets a group; then one entry per record.
    std::vector<uint32_t> groupOfRow_;
    // Empty until a row gets a likeness; then one entry per record.
    std::vector<uint8_t> likenessOfRow_;
    BigArray<char> names_;
    std::vector<std::string> directories_;
    std::vector<uint64_t> directoryDevices_;
    std::unordered_map<std::string, uint32_t> directoryIndex_;
};

} // namespace fenwa
