#pragma once
// The rules of the directory list: which texts may join it. The list never holds a
// directory twice, nor a directory together with one of its ancestors, so a search with
// subdirectories never reads a file twice.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "filesystem.h"
#include "pathrules.h"

namespace fenwa {

inline constexpr const char* MsgNotADirectory = "您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!";
inline constexpr const char* MsgRelativesJoin = " 和 ";
inline constexpr const char* MsgRelativesTail = " 是直系親屬, 不可同時存在!";

enum class AddDirectoryOutcome { Added, NotADirectory, AlreadyListed, Relatives };

struct AddDirectoryCheck {
    AddDirectoryOutcome outcome = AddDirectoryOutcome::NotADirectory;
    std::string directory; // the trimmed text that would be added
    std::string conflict;  // the listed entry it clashes with (Relatives)
};

// The identities of a directory and of those above it (directoryAncestry), empty when it
// does not exist.
using DirectoryAncestry =
    std::function<std::vector<platform::FileIdentity>(const std::string& directory)>;

// Decides whether `text` may join `entries`. isDirectory tells whether a text names an
// existing directory; it is asked about the text exactly as given. With `ancestry`,
// directories are compared by what they are, so that another spelling of a listed
// directory (relative, through a link, with "..", a bind mount) or of one of its relatives
// is refused, and a text that merely looks like a relative ("p/a/../b" beside "p/a") is
// not. Texts are compared by their path components when there is no `ancestry` or an
// entry cannot be looked at.
AddDirectoryCheck checkDirectoryToAdd(std::string_view text,
                                      const std::vector<std::string>& entries,
                                      const std::function<bool(const std::string&)>& isDirectory,
                                      platform::PathStyle style = platform::nativePathStyle(),
                                      const DirectoryAncestry& ancestry = {});

// The message for two relatives: d + " 和 " + e + " 是直系親屬, 不可同時存在!".
std::string relativesMessage(std::string_view directory, std::string_view conflict);

} // namespace fenwa
