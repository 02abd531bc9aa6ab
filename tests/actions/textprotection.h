#pragma once
// Protection over a disk made of texts alone, for tests of the rules without a disk: each
// directory text is one directory, ".." of it the text above, and an alias names the
// directory of another text (as a link or a bind mount does).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protection.h"

namespace fenwa::actions::fake {

inline Protection protectionByText(const std::vector<std::string>& protect,
                                   const std::map<std::string, std::string>& aliases = {},
                                   const std::vector<std::string>& missing = {}) {
    struct Disk {
        std::map<std::string, uint64_t> inodes;
        std::map<std::string, std::string> aliases;
        std::vector<std::string> missing;
        platform::FileIdentity id(std::string text) {
            // An alias stands for its target as the first component(s) of a text.
            for (const auto& [alias, target] : aliases)
                if (text.compare(0, alias.size(), alias) == 0 &&
                    (text.size() == alias.size() || text[alias.size()] == '/'))
                    text = target + text.substr(alias.size());
            return {7, inodes.try_emplace(text, inodes.size() + 1).first->second};
        }
        std::vector<platform::FileIdentity> ancestry(std::string text) {
            std::vector<platform::FileIdentity> chain;
            for (const std::string& m : missing)
                if (text == m)
                    return chain;
            while (true) {
                chain.push_back(id(text));
                if (text == "/")
                    return chain;
                const size_t slash = text.rfind('/');
                text = slash == 0 ? "/" : text.substr(0, slash);
            }
        }
    };
    auto disk = std::make_shared<Disk>();
    disk->aliases = aliases;
    disk->missing = missing;
    Protection protection;
    protection.ancestry = [disk](const std::string& text) { return disk->ancestry(text); };
    for (const std::string& p : protect)
        protection.directories.insert(disk->id(p));
    return protection;
}

} // namespace fenwa::actions::fake
