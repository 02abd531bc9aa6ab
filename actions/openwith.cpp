#include "openwith.h"

#include "pathrules.h"

namespace fenwa::actions {

bool offeredToAcdsee(std::string_view name) {
    const std::string_view extension = platform::extensionOf(platform::nativePathStyle(), name);
    if (extension.empty())
        return false;
    std::string upper(extension);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return AcdseeExtensionList.find(upper) != std::string_view::npos;
}

OpenRequest openRequest(const std::string& path) {
    return OpenRequest{path, {}};
}

std::optional<OpenRequest> acdseeRequest(std::string_view name, const std::string& path) {
    if (!offeredToAcdsee(name))
        return std::nullopt;
    return OpenRequest{AcdseeProgram, path};
}

OpenRequest ultraEditRequest(const std::string& path) {
    return OpenRequest{UltraEditProgram, path};
}

} // namespace fenwa::actions
