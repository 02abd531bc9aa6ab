#pragma once
// The file-system facilities the scanner and the directory list need, over native
// byte paths. Only regular files and real directories are reported: symbolic links
// are neither listed nor followed, and FIFOs, sockets and devices are skipped.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fenwa::platform {

// True when the system reports the path as an existing directory (following a link
// the user typed, as the shell would).
bool isExistingDirectory(const std::string& nativePath);

struct FileEntry {
    std::string_view name; // valid only during the callback
    int64_t size = 0;
    int64_t mtimeSeconds = 0; // seconds since the epoch, UTC
};

// Calls onFile for every regular file directly in the directory, in the system's
// enumeration order, hidden files included. Returns false when the directory could not
// be read (nothing is reported then).
bool forEachFile(const std::string& nativeDirectory,
                 const std::function<void(const FileEntry&)>& onFile);

// Calls onDirectory with the name of every subdirectory that is not hidden (a name
// beginning with ".") and is a real directory, not a link to one.
bool forEachSubdirectory(const std::string& nativeDirectory,
                         const std::function<void(std::string_view name)>& onDirectory);

// One directory read once: the names of the entries that may be regular files (to be
// looked at by forEachListedFile), in the system's enumeration order, and the names of
// the subdirectories forEachSubdirectory would report. A recursive scan reads each
// directory once this way instead of once for its subdirectories and once for its files.
struct DirectoryListing {
    std::string fileNames; // each name followed by a NUL
    std::vector<std::string> subdirectories;
    void clear() {
        fileNames.clear();
        subdirectories.clear();
    }
};
bool listDirectory(const std::string& nativeDirectory, DirectoryListing& listing);

// Calls onFile for every listed name that is still a regular file, in the listing's
// order. Returns false when the directory could not be opened.
bool forEachListedFile(const std::string& nativeDirectory, const DirectoryListing& listing,
                       const std::function<void(const FileEntry&)>& onFile);

// An open directory, for walks whose paths may be longer than the system accepts:
// a subdirectory is opened relative to its parent by name alone. Moves, never copies.
class DirectoryHandle {
public:
    DirectoryHandle() = default;
    ~DirectoryHandle();
    DirectoryHandle(DirectoryHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void close();

    // Opens a directory by its text (a link the user typed is followed).
    bool open(const std::string& nativeDirectory);
    // Opens the subdirectory `name` of `parent`; a name that is now a link, a file or
    // gone is not opened.
    bool openChild(const DirectoryHandle& parent, std::string_view name);

    // The device and inode, telling one directory reached twice (a bind mount looping
    // back into its own tree) from another.
    bool identity(uint64_t& device, uint64_t& inode) const;

    // One reading of the directory: onFile for every regular file, in the system's
    // enumeration order, hidden files included; the names of the subdirectories that
    // are not hidden and are real directories, not links, appended to `subdirectories`.
    // Without onFile only the subdirectories are looked for.
    bool read(const std::function<void(const FileEntry&)>& onFile,
              std::vector<std::string>& subdirectories) const;

private:
    int fd_ = -1;
};

// True when something exists at the path (a link counts, whatever it points to).
bool pathExists(const std::string& nativePath);

// The size and modification time of a regular file (a link is not followed); false when
// the path is not a regular file now.
bool statRegularFile(const std::string& nativePath, int64_t& size, int64_t& mtimeSeconds);

// Local time of a modification time, as whole minutes since 1970-01-01 00:00 local time.
// The seconds are dropped, so two times within the same local minute are equal.
int32_t localMinuteOf(int64_t mtimeSeconds);

// One-time process set-up that makes local-time conversion cheap (a cached zone).
void initialiseProcess();

} // namespace fenwa::platform
