#include "replacefile.h"

#include <cerrno>

namespace fenwa::platform {

namespace {

ActResult notBuiltYet() {
    ActResult r;
    r.error = ActError::NotSupported;
    r.sysError = ENOSYS;
    r.message = "not built yet";
    return r;
}

} // namespace

ExpectedFile ExpectedFile::of(const FileState& state) {
    ExpectedFile e(state.identity);
    e.size = state.size;
    e.mtimeNs = state.mtimeNanoseconds;
    e.directory = state.directory;
    return e;
}

ExpectedFile ExpectedFile::of(const FileMeta& meta) {
    ExpectedFile e(meta.identity);
    e.size = meta.size;
    e.mtimeNs = meta.mtimeNs;
    return e;
}

bool readFileMeta(const std::string&, FileMeta&) {
    return false;
}

ActWords actErrorWords(ActError) {
    return {"Not built yet.", "尚未实现。"};
}

ActResult replaceWithHardLink(const std::string&, const ExpectedFile&, const std::string&,
                              const ExpectedFile&) {
    return notBuiltYet();
}

std::string relativeLinkText(const std::string&, const std::string& targetPath) {
    return targetPath;
}

ActResult replaceWithSymlink(const std::string&, const ExpectedFile&, const std::string&,
                             const ExpectedFile&) {
    return notBuiltYet();
}

ActResult canReflink(const std::string&, const std::string&) {
    return notBuiltYet();
}

ActResult replaceWithReflink(const std::string&, const ExpectedFile&, const std::string&,
                             const ExpectedFile&) {
    return notBuiltYet();
}

ActResult moveNoReplace(const std::string&, const ExpectedFile&, const std::string&) {
    return notBuiltYet();
}

ActResult restoreIndependentCopy(const std::string&, const ActLeft&, const std::string&,
                                 const FileMeta&) {
    return notBuiltYet();
}

} // namespace fenwa::platform
