#include "platform/files/Entries.h"

#include "platform/error/Error.h"
#include "platform/files/Names.h"
#include "platform/files/Native.h"
#include "platform/files/Os.h"

#include <algorithm>
#include <cerrno>

namespace files {

using namespace native;

bool SizeOf(const std::string& path, std::uint64_t& size) {
    std::error_code ec;
    if (!fs::is_regular_file(Path(path), ec))
        return false;
    const std::uintmax_t bytes = fs::file_size(Path(path), ec);
    size = static_cast<std::uint64_t>(bytes);
    return !ec;
}

bool IsFolderPath(const std::string& path) {
    return IsFolder(path);
}

bool ExistsPath(const std::string& path) {
    return Exists(path);
}

void Discard(const std::string& path) {
    std::error_code ec;
    fs::remove(Path(path), ec);
}

bool Identify(const std::string& path, FileId& id, bool followLinks) {
    return os::Identify(Path(NativePath(path)), id, followLinks);
}

bool ReadOnlyExact(const std::string& path) {
    return IsReadOnly(NativePath(path));
}

Listing List(const std::string& folder) {
    Listing listing;
    const std::string native = NativePath(folder);
    std::error_code ec;
    fs::directory_iterator it(Path(FolderOrDot(native)), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // The kind the listing itself reports, where it does: no look-up per entry among thousands.
        std::error_code kind;
        if (it->is_symlink(kind))
            continue;
        if (it->is_regular_file(kind))
            listing.files.push_back(Utf8(it->path().filename()));
        else if (it->is_directory(kind))
            listing.folders.push_back(Utf8(it->path().filename()));
    }
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

void Move(const std::string& from, const std::string& to) {
    const std::string source = NativePath(from);
    switch (os::Rename(Path(source), Path(NativePath(to)), false)) {
    case 0:
        return;
    case EEXIST:
    case ENOTEMPTY:
        Fail(zel::rt::FileAlreadyExists, "Move");
    case ENOENT:
        Fail(Exists(source) ? zel::rt::PathNotFound : zel::rt::FileNotFound, "Move");
    default:
        Fail(zel::rt::PathFileAccessError, "Move");
    }
}

bool Remove(const std::string& path) {
    const fs::path native = Path(NativePath(path));
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(native, ec)))
        Fail(zel::rt::PathFileAccessError, "Remove");
    const bool removed = fs::remove(native, ec);
    if (ec)
        Fail(zel::rt::PathFileAccessError, "Remove");
    return removed;
}

int RemoveOwn(const std::string& path) {
    const fs::path native = Path(NativePath(path));
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(native, ec);
    if (!fs::exists(st))
        return ENOENT;
    if (fs::is_directory(st))
        return EISDIR;
    // A copy the program keeps may carry the read-only attribute of the file it saved.
    if (!fs::is_symlink(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none)
        fs::permissions(native, fs::perms::owner_write, fs::perm_options::add, ec);
    if (fs::remove(native, ec))
        return 0;
    return ec ? ErrnoOf(ec) : ENOENT;
}

void MakeFolders(const std::string& path) {
    std::error_code ec;
    fs::create_directories(Path(NativePath(path)), ec);
    if (!IsFolder(NativePath(path)))
        Fail(zel::rt::PathNotFound, "MakeFolders");
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(Path(NativePath(path)), ec);
    if (ec)
        Fail(zel::rt::PathFileAccessError, "RemoveTree");
}

bool RemoveFolderIfEmpty(const std::string& path) {
    const fs::path native = Path(NativePath(path));
    std::error_code ec;
    // Never recursive: what another process has just put there stays, and so does the folder.
    return fs::is_directory(fs::symlink_status(native, ec)) && fs::remove(native, ec) && !ec;
}

void SyncFolder(const std::string& folder) {
    if (os::SyncFolder(Path(FolderOrDot(NativePath(folder)))) != 0)
        Fail(zel::rt::PathFileAccessError, "SyncFolder");
}

void SyncFiles(const std::string& folder) {
    if (os::SyncFiles(Path(FolderOrDot(NativePath(folder)))) != 0)
        Fail(zel::rt::PathFileAccessError, "SyncFiles");
}

bool SameVolume(const std::string& folderA, const std::string& folderB) {
    return os::SameVolume(Path(FolderOrDot(NativePath(folderA))), Path(FolderOrDot(NativePath(folderB))));
}

} // namespace files
