#include "pathrules.h"

#include <vector>

namespace fenwa::platform {

namespace {

char foldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool endsWithSeparator(PathStyle style, std::string_view s) {
    return !s.empty() && isSeparator(style, s.back());
}

// Root and components of a path for the ancestry test. Empty and "." components
// carry no meaning and are dropped; the root keeps its own text.
struct Components {
    std::string root;
    std::vector<std::string_view> parts;
};

Components splitComponents(PathStyle style, std::string_view path) {
    Components c;
    std::string_view rest = path;
    if (style == PathStyle::Windows) {
        std::string_view drive = drivePart(style, path);
        for (char ch : drive)
            c.root += foldAscii(ch == '/' ? '\\' : ch);
        rest.remove_prefix(drive.size());
    } else if (!rest.empty() && rest.front() == '/') {
        c.root.push_back('/'); // not = "/": GCC 12 warns falsely (-Wrestrict) on that
    }
    auto isSep = [style](char ch) {
        return ch == '/' || (style == PathStyle::Windows && ch == '\\');
    };
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && isSep(rest[i]))
            ++i;
        size_t start = i;
        while (i < rest.size() && !isSep(rest[i]))
            ++i;
        std::string_view part = rest.substr(start, i - start);
        if (!part.empty() && part != ".")
            c.parts.push_back(part);
    }
    return c;
}

bool sameComponent(PathStyle style, std::string_view a, std::string_view b) {
    return style == PathStyle::Windows ? equalsIgnoringAsciiCase(a, b) : a == b;
}

} // namespace

char pathSeparator(PathStyle style) {
    return style == PathStyle::Windows ? '\\' : '/';
}

bool isSeparator(PathStyle style, char c) {
    return c == pathSeparator(style);
}

std::string JoinPath(PathStyle style, std::string_view directory, std::string_view name) {
    std::string result;
    result.reserve(directory.size() + 1 + name.size());
    result.append(directory);
    if (!endsWithSeparator(style, directory))
        result.push_back(pathSeparator(style));
    result.append(name);
    return result;
}

std::string_view extensionOf(PathStyle style, std::string_view name) {
    for (size_t i = name.size(); i-- > 0;) {
        char c = name[i];
        if (c == '.')
            return name.substr(i);
        if (isSeparator(style, c) || (style == PathStyle::Windows && c == ':'))
            break;
    }
    return {};
}

std::string_view drivePart(PathStyle style, std::string_view path) {
    if (style == PathStyle::Posix)
        return (!path.empty() && path.front() == '/') ? path.substr(0, 1) : std::string_view{};
    if (path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2);
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share: up to the backslash that ends the share name.
        size_t server_end = path.find('\\', 2);
        if (server_end == std::string_view::npos)
            return path;
        size_t share_end = path.find('\\', server_end + 1);
        return share_end == std::string_view::npos ? path : path.substr(0, share_end);
    }
    return {};
}

bool isRoot(PathStyle style, std::string_view path) {
    std::string_view drive = drivePart(style, path);
    if (drive.empty())
        return false;
    if (style == PathStyle::Posix)
        return path == "/" || path == "//";
    return path.size() == drive.size() ||
           (path.size() == drive.size() + 1 && isSeparator(style, path.back()));
}

std::string normalizeDirectory(PathStyle style, std::string_view directory) {
    if (isRoot(style, directory)) {
        std::string_view drive = drivePart(style, directory);
        if (style == PathStyle::Posix)
            return "/";
        return std::string(drive) + pathSeparator(style);
    }
    if (endsWithSeparator(style, directory))
        directory.remove_suffix(1);
    return std::string(directory);
}

std::string directoryOfFile(PathStyle style, std::string_view fileName) {
    size_t i = fileName.size();
    while (i > 0) {
        char c = fileName[i - 1];
        if (isSeparator(style, c) || (style == PathStyle::Windows && c == ':'))
            break;
        --i;
    }
    if (i == 0)
        return {};
    // fileName[i - 1] is the last delimiter.
    std::string_view head = fileName.substr(0, i - 1);
    if (style == PathStyle::Posix) {
        return head.empty() ? std::string("/") : std::string(head);
    }
    char delimiter = fileName[i - 1];
    // Keep the colon of "C:name" and the backslash of "C:\name", which make the root.
    if (delimiter == ':' || (!head.empty() && head.back() == ':'))
        return std::string(fileName.substr(0, i));
    return std::string(head);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

bool sameDirectoryText(PathStyle style, std::string_view a, std::string_view b) {
    return style == PathStyle::Windows ? equalsIgnoringAsciiCase(a, b) : a == b;
}

bool areRelatives(PathStyle style, std::string_view a, std::string_view b) {
    Components ca = splitComponents(style, a);
    Components cb = splitComponents(style, b);
    if (ca.root != cb.root)
        return false;
    size_t common = std::min(ca.parts.size(), cb.parts.size());
    for (size_t i = 0; i < common; ++i)
        if (!sameComponent(style, ca.parts[i], cb.parts[i]))
            return false;
    return true;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    return true;
}

int compareIgnoringAsciiCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(foldAscii(a[i]));
        auto y = static_cast<unsigned char>(foldAscii(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace fenwa::platform
