#include "platform/files/Os.h"

#include "platform/error/LastError.h"
#include "platform/files/Names.h"
#include "platform/files/Native.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// <windows.h> defines macros of the names the platform's shape gives our own constants.
#include "platform/error/WindowsMacros.h"

namespace files::os {

namespace {

int ErrnoOfWindows(DWORD error) {
    switch (error) {
    case winapi::ERROR_FILE_NOT_FOUND:
    case winapi::ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case winapi::ERROR_FILE_EXISTS:
    case winapi::ERROR_ALREADY_EXISTS:
        return EEXIST;
    case winapi::ERROR_ACCESS_DENIED:
        return EACCES;
    case winapi::ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case winapi::ERROR_DISK_FULL:
    case winapi::ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    default:
        return EIO;
    }
}

bool FromHandle(HANDLE handle, bool followLinks, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | (followLinks ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
    if ((info.dwFileAttributes & notPlain) != 0)
        return false;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // FILETIME counts 100 ns from 1601.
    const auto ticks = static_cast<std::int64_t>((std::uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                                 info.ftLastWriteTime.dwLowDateTime);
    id.mtimeNs = (ticks - 116444736000000000) * 100;
    return true;
}

std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty())
        return text;
    const int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    const int narrow = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(narrow), '\0');
    WideCharToMultiByte(to, 0, w.data(), wide, out.data(), narrow, nullptr, nullptr);
    return out;
}

} // namespace

int Rename(const fs::path& from, const fs::path& to, bool replace) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(from.c_str(), to.c_str(), flags) ? 0 : ErrnoOfWindows(GetLastError());
}

int CreateTemporary(const fs::path& folder, const std::string& name, fs::path& created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        created = folder / native::Path(TemporaryName(name));
        const int fd =
            ::_wopen(created.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

std::FILE* StreamOf(int fd, const char* mode) {
    return ::_fdopen(fd, mode);
}

int OpenForReading(const fs::path& path) {
    return ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

long Read(int fd, char* buffer, std::size_t size) {
    return ::_read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}

long Write(int fd, const char* data, std::size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}

int Close(int fd) {
    return ::_close(fd);
}

int Sync(int fd) {
    return ::_commit(fd) == 0 ? 0 : errno;
}

std::FILE* OpenFile(const fs::path& path, const char* mode) {
    const std::string m = mode;
    if (m.find('x') != std::string::npos) {
        const int fd = ::_wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        return fd < 0 ? nullptr : ::_fdopen(fd, "wb");
    }
    return ::_wfopen(path.c_str(), std::wstring(m.begin(), m.end()).c_str());
}

int FileNo(std::FILE* file) {
    return ::_fileno(file);
}

bool Seek(std::FILE* file, std::uint64_t offset) {
    return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t Seek(int fd, std::int64_t offset, int whence) {
    return ::_lseeki64(fd, offset, whence);
}

bool Identify(const fs::path& path, FileId& id, bool followLinks) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = FromHandle(handle, followLinks, id);
    CloseHandle(handle);
    return ok;
}

bool Identify(std::FILE* file, FileId& id) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FromHandle(handle, true, id);
}

bool HiddenOrSystem(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

bool SameVolume(const fs::path& a, const fs::path& b) {
    // Through junctions: the volume a folder's files are really on.
    const auto serial = [](const fs::path& folder, DWORD& out) {
        HANDLE h =
            CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        out = info.dwVolumeSerialNumber;
        return ok;
    };
    DWORD serialA = 0, serialB = 0;
    return serial(a, serialA) && serial(b, serialB) && serialA == serialB;
}

int SyncFolder(const fs::path& folder) {
    // Renames made with MOVEFILE_WRITE_THROUGH are on disk when they return; NTFS journals the rest.
    (void)folder;
    return 0;
}

int SyncFiles(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        // Flushing needs write access.
        const int fd = ::_wopen(it->path().c_str(), _O_RDWR | _O_BINARY);
        if (fd < 0)
            return errno;
        const int err = Sync(fd);
        ::_close(fd);
        if (err != 0)
            return err;
    }
    return ec ? native::ErrnoOf(ec) : 0;
}

std::string ToAnsi(const std::string& utf8) {
    return Convert(utf8, CP_UTF8, CP_ACP);
}

std::string FromAnsi(const std::string& ansi) {
    return Convert(ansi, CP_ACP, CP_UTF8);
}

} // namespace files::os
