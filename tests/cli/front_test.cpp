// fenwa-cli as started (the front end without Qt) against the full program: the same
// output, errors and exit status for every command, whichever of them runs it.

#include <gtest/gtest.h>

#include <elf.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "cachedatabase.h"
#include "filesystem.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << "status " << o.status << "\nout:\n" << o.out << "err:\n" << o.err;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `program` with `args`, `locale` as LC_ALL when given.
Outcome runProgram(const fs::path& program, const std::vector<std::string>& args,
                   const fs::path& scratch, const std::string& locale = {}) {
    const fs::path out = scratch / "out", err = scratch / "err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (!locale.empty())
            ::setenv("LC_ALL", locale.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>("fenwa-cli")};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contents(out), contents(err)};
}

class Front : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/fenwa-front-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        tree = root / "tree";
        // Siblings whose order depends on the locale: case, accents, digits, a name
        // that is no UTF-8.
        for (const char* dir : {"b", "A", "a", "\xc3\x84rm", "zeta", "10", "9", "_x", "\xff"}) {
            fs::create_directories(tree / dir / "inner");
            std::ofstream(tree / dir / "same.txt") << "twelve bytes";
            std::ofstream(tree / dir / "inner" / (std::string(dir) + ".jpg")) << dir;
        }
        fs::create_directories(tree / "empty");
        fs::create_directories(root / "nothing");
        // A front end with nothing to hand over to: it answers alone or not at all.
        alone = root / "alone";
        fs::create_directories(alone);
        fs::copy_file(FENWA_CLI_FRONT, alone / "fenwa-cli");
        fs::copy_file(FENWA_CLI_COLLATION, alone / "fenwa-collation.so");
        fs::copy_file(FENWA_CLI_CACHE_MODULE, alone / "fenwa-content-cache.so");
        // The content search's cache, the test's own.
        ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CACHE_HOME");
        fs::remove_all(root);
    }

    fs::path root, tree, alone;
};

TEST_F(Front, GivesWhatTheFullProgramGives) {
    const std::string t = tree.string(), none = (root / "nothing").string();
    struct Case {
        std::vector<std::string> args;
        bool plain; // the front end runs it itself
    };
    const std::vector<Case> cases = {
        {{}, true},
        {{"--help"}, true},
        {{"--version"}, true},
        {{"find-all", "--no-subdirs", "-h"}, true},
        {{"find-all", none}, true},
        {{"find-all", t}, true},
        {{"find-all", "--no-subdirs", t}, true},
        {{"find-duplicates", "--size", "--name", t}, true},
        {{"find-duplicates", "--time", "--format", "tsv", t}, true},
        {{"find-duplicates", t}, true},
        {{"find-all"}, true},
        {{"find-all", t, t + "/b"}, true},
        {{"find-all", t, t + "/missing"}, true},
        {{"find-all", "--format", "xml", t}, true},
        {{"find-all", "--min-size", "1", "--max-size", "2k", "--skip", t + "/b", "--skip",
          t + "/nowhere", "--pictures-only", "--skip-empty", t},
         true},
        {{"find-all", "--min-size", "lots", t}, true},
        {{"find-all", "--", "--size"}, true},
        {{"find-all", "--bogus", t}, false},
        {{"find-all", "--size", t}, false},
        {{"find-all", "--format", "csv", t}, false},
        {{"find-duplicates", "--content", t}, true},
        {{"find-duplicates", "--content", "--name", "--no-subdirs", "--format", "tsv", t}, true},
        {{"find-duplicates", "--content", "--min-size", "1", "--skip", t + "/b", t}, true},
        {{"find-duplicates", "--content", "--similar", t}, false},
        {{"find-all", "--content", t}, false},
        {{"find-duplicates", "--size", "--keep", "biggest", t}, false},
        {{"frobnicate"}, false},
        {{"decode", t + "/missing.jpg", "-o", (root / "x.bmp").string()}, false},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args)
            shown += " " + a;
        SCOPED_TRACE("fenwa-cli" + shown);
        const Outcome full = runProgram(FENWA_CLI_FULL, c.args, root);
        if (c.plain)
            EXPECT_EQ(runProgram(alone / "fenwa-cli", c.args, root), full);
        else
            EXPECT_EQ(runProgram(FENWA_CLI_FRONT, c.args, root), full);
    }
    // Without the collation module, a walk that needs it is handed over whole, silently.
    const fs::path bare = root / "bare";
    fs::create_directories(bare);
    fs::copy_file(FENWA_CLI_FRONT, bare / "fenwa-cli");
    fs::create_symlink(FENWA_CLI_FULL, bare / "fenwa-cli-full");
    EXPECT_EQ(runProgram(bare / "fenwa-cli", {"find-all", t}, root),
              runProgram(FENWA_CLI_FULL, {"find-all", t}, root));
    // So is a content search without the cache's module (no siblings to order here).
    const std::vector<std::string> content = {"find-duplicates", "--content", t + "/b"};
    EXPECT_EQ(runProgram(bare / "fenwa-cli", content, root),
              runProgram(FENWA_CLI_FULL, content, root));
    // Without the full program beside it, what needs it fails with a reason.
    const Outcome lost = runProgram(alone / "fenwa-cli", {"find-all", "--format", "csv", t}, root);
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find("fenwa-cli-full"), std::string::npos) << lost.err;
}

// The front end's content search keeps its hashes where the window and the full program
// do: what is kept there is taken as it stands, by either program.
TEST_F(Front, ContentSearchSharesTheFullProgramsCache) {
    const fs::path pair = root / "pair";
    fs::create_directories(pair);
    std::ofstream(pair / "one.dat") << "first bytes";
    std::ofstream(pair / "two.dat") << "other bytes";
    {
        // Both kept as one content: only a program that reads the cache groups them.
        fenwa::similar::CacheDatabase kept(fenwa::similar::CacheDatabase::defaultPath());
        ASSERT_TRUE(kept.usable()) << kept.problem();
        for (const char* name : {"one.dat", "two.dat"}) {
            fenwa::platform::FileState state;
            ASSERT_TRUE(fenwa::platform::statFileNow((pair / name).string(), state));
            kept.storeContent(
                {state.identity.device, state.identity.inode, state.size, state.changeStamp},
                {{1, 2}, fenwa::ContentHash{3, 4}});
        }
        ASSERT_EQ(kept.writeBack(), "");
    }
    const std::vector<std::string> args = {"find-duplicates", "--content", pair.string()};
    const Outcome front = runProgram(alone / "fenwa-cli", args, root);
    EXPECT_EQ(front.status, 0) << front.err;
    EXPECT_NE(front.out.find("two.dat"), std::string::npos) << front.out;
    EXPECT_EQ(runProgram(FENWA_CLI_FULL, args, root), front);
    // Neither found the other's file strange.
    EXPECT_FALSE(fs::exists(root / "cache/Zantrel/Fenwa/fingerprints.sqlite.set-aside"));
}

// The siblings' order is the locale's, as the window shows it; Swedish puts Ä after Z.
TEST_F(Front, OrdersDirectoriesAsTheLocaleDoes) {
    const std::vector<std::string> args = {"find-all", tree.string()};
    for (const char* locale : {"C", "C.UTF-8", "en_US.UTF-8", "sv_SE.UTF-8"}) {
        SCOPED_TRACE(locale);
        const Outcome full = runProgram(FENWA_CLI_FULL, args, root, locale);
        EXPECT_EQ(full.status, 0);
        EXPECT_EQ(runProgram(alone / "fenwa-cli", args, root, locale), full);
    }
}

// The libraries the front end's file asks the loader for, from its dynamic section.
std::vector<std::string> neededLibraries(const fs::path& program) {
    const std::string elf = contents(program);
    std::vector<std::string> needed;
    if (elf.size() < sizeof(Elf64_Ehdr) || elf.compare(0, 4, ELFMAG) != 0 ||
        elf[EI_CLASS] != ELFCLASS64)
        return {"(not a 64-bit ELF file)"};
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(elf.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(elf.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNAMIC)
            continue;
        const char* strings = elf.data() + sections[sections[i].sh_link].sh_offset;
        const auto* entry = reinterpret_cast<const Elf64_Dyn*>(elf.data() + sections[i].sh_offset);
        for (; entry->d_tag != DT_NULL; ++entry)
            if (entry->d_tag == DT_NEEDED)
                needed.emplace_back(strings + entry->d_un.d_val);
    }
    return needed;
}

TEST(FrontLibraries, OnlyTheSystemsOwnAndTheHash) {
    const std::vector<std::string> needed = neededLibraries(FENWA_CLI_FRONT);
    EXPECT_FALSE(needed.empty());
    for (const std::string& library : needed)
        // A sanitizer build adds its runtimes; nothing else may come in.
        EXPECT_TRUE(library == "libc.so.6" || library == "libm.so.6" ||
                    library == "libxxhash.so.0" || library.starts_with("ld-linux") ||
                    library.starts_with("libasan.") || library.starts_with("libubsan.") ||
                    library.starts_with("libtsan."))
            << library;
    // The full program still has them all.
    const std::vector<std::string> full = neededLibraries(FENWA_CLI_FULL);
    EXPECT_NE(std::find(full.begin(), full.end(), "libQt6Core.so.6"), full.end());
}

} // namespace
