#pragma once
// Path texts as the directory list and the scanner see them. Every rule is a pure
// function over a path style, so the Windows rules can be tested on any platform and
// the program uses the native style. Paths are byte strings: native bytes on POSIX,
// UTF-8 for the Windows style (separators are ASCII, so no multi-byte character is
// ever split).

#include <string>
#include <string_view>

namespace fenwa::platform {

enum class PathStyle { Windows, Posix };

constexpr PathStyle nativePathStyle() {
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

// The separator JoinPath inserts: "\" on Windows, "/" on POSIX.
char pathSeparator(PathStyle style);
bool isSeparator(PathStyle style, char c);

// directory, a separator unless the directory already ends with one, then name.
std::string JoinPath(PathStyle style, std::string_view directory, std::string_view name);

// The extension of a file name: from the last dot after the last separator (and, on
// Windows, the last colon), dot included; empty when there is none.
std::string_view extensionOf(PathStyle style, std::string_view name);

// The drive part of a path: "C:" or "\\server\share" on Windows (without a trailing
// backslash), "/" on POSIX for an absolute path. Empty when the path has none.
std::string_view drivePart(PathStyle style, std::string_view path);

// True when the path is a drive root: the drive part alone, with or without one
// trailing separator ("C:", "C:\", "\\server\share\", "/").
bool isRoot(PathStyle style, std::string_view path);

// The scanner's directory texts: a root gets exactly one trailing separator, any other
// directory loses one trailing separator if it has one.
std::string normalizeDirectory(PathStyle style, std::string_view directory);

// The directory of a file chosen in a file dialog: everything before the last separator
// (or colon on Windows); the separator directly after a drive's colon, or a POSIX root,
// is kept, so a file in a root gives the root.
std::string directoryOfFile(PathStyle style, std::string_view fileName);

// Leading and trailing blanks and control characters removed (every byte up to 0x20).
std::string_view trimmed(std::string_view text);

// Two directory texts name the same listed directory: equal ignoring ASCII case on
// Windows (case-insensitive file systems), byte for byte on POSIX.
bool sameDirectoryText(PathStyle style, std::string_view a, std::string_view b);

// True when one of the two texts names the other or one of its ancestors, comparing
// whole path components. Trailing and repeated separators are ignored, so "C:\Pics"
// and "C:\Pics\" are relatives; a root is a relative of everything on its drive.
bool areRelatives(PathStyle style, std::string_view a, std::string_view b);

// ASCII-only case folding, the comparisons the whole program uses for field texts.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
int compareIgnoringAsciiCase(std::string_view a, std::string_view b);

} // namespace fenwa::platform
