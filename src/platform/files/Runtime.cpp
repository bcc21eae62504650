#include "platform/files/Runtime.h"

#include "platform/error/Error.h"
#include "platform/files/Codes.h"
#include "platform/files/Names.h"
#include "platform/files/Native.h"
#include "platform/files/Os.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace files {

using namespace native;

namespace {

// Plain files of a folder whose names match the pattern, in name order; a link counts as what it leads to.
std::vector<std::string> MatchingFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(Path(FolderOrDot(folder)), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = Utf8(it->path().filename());
        std::error_code kind;
        // The kind the listing itself reports, where it does: no look-up per file among thousands.
        if (MatchesPattern(name, pattern) && it->is_regular_file(kind))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The existing entry a name refers to: the exact name when it exists, else the first entry equal to it
// without regard to case, else the name itself.
std::string ResolveName(const std::string& folder, const std::string& name) {
    if (name.empty() || Exists(folder + name))
        return folder + name;
    std::error_code ec;
    fs::directory_iterator it(Path(FolderOrDot(folder)), ec);
    std::vector<std::string> same;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string entry = Utf8(it->path().filename());
        if (SameName(entry, name))
            same.push_back(std::move(entry));
    }
    if (same.empty())
        return folder + name;
    return folder + *std::min_element(same.begin(), same.end());
}

} // namespace

std::string Environ(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
}

std::string ResolvePath(const std::string& path) {
    SplitPath split = Split(path);
    return ResolveName(split.folder, split.name);
}

std::vector<std::string> Dir(const std::string& pattern) {
    SplitPath split = Split(pattern);
    // A pattern that ends in a separator names no file.
    if (split.name.empty())
        return {};
    return MatchingFiles(split.folder, split.name);
}

bool FileExists(const std::string& path) {
    return IsPlainFile(ResolvePath(path));
}

bool FolderExists(const std::string& path) {
    return IsFolder(ResolvePath(path));
}

std::uint64_t FileLen(const std::string& path) {
    std::error_code ec;
    const fs::path native = Path(ResolvePath(path));
    if (!fs::is_regular_file(native, ec))
        Fail(zel::rt::FileNotFound, "FileLen");
    const std::uintmax_t size = fs::file_size(native, ec);
    if (ec)
        Fail(zel::rt::FileNotFound, "FileLen");
    return static_cast<std::uint64_t>(size);
}

bool ReadOnly(const std::string& path) {
    return IsReadOnly(ResolvePath(path));
}

bool HiddenOrSystem(const std::string& path) {
    return os::HiddenOrSystem(Path(NativePath(path)));
}

void Kill(const std::string& pattern) {
    SplitPath split = Split(pattern);
    std::vector<std::string> names;
    if (!HasWildcards(split.name) && IsPlainFile(split.folder + split.name))
        names.push_back(split.name); // an exact name never takes its case-folded siblings with it
    else
        names = Dir(pattern);
    if (!HasWildcards(split.name) && names.size() > 1)
        names.resize(1); // one name deletes one file, however many differ from it only in case
    if (names.empty())
        Fail(zel::rt::FileNotFound, "Kill");
    for (const std::string& name : names) {
        std::string native = split.folder + name;
        if (IsReadOnly(native))
            Fail(zel::rt::PathFileAccessError, "Kill");
        std::error_code ec;
        if (!fs::remove(Path(native), ec) || ec) {
            const int err = ec ? ErrnoOf(ec) : ENOENT;
            if (err == ENOENT)
                Fail(zel::rt::FileNotFound, "Kill");
            Fail(SystemCode(err, 0) == winapi::ERROR_SHARING_VIOLATION ? zel::rt::PermissionDenied
                                                                       : zel::rt::PathFileAccessError,
                 "Kill");
        }
    }
}

} // namespace files
