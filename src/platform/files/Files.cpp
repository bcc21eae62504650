#include "platform/files/Files.h"

#include "platform/error/Error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
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
#else
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace files {

namespace {

namespace fs = std::filesystem;

constexpr winapi::DWORD ERROR_READ_FAULT = 30;

[[noreturn]] void Fail(std::int32_t number, const char* source) {
    throw zel::rt::Raise(number, source);
}

// ---- the operating system: the few calls whose semantics differ, each in one place ----

// A native path as the file system library takes it: from UTF-8, so names outside ASCII survive on Windows.
fs::path Path(const std::string& native) {
    return fs::path(std::u8string(native.begin(), native.end()));
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// errno of a file system library error, EIO when it has none.
int ErrnoOf(const std::error_code& ec) {
    const std::error_condition condition = ec.default_error_condition();
    return condition.category() == std::generic_category() ? condition.value() : EIO;
}

#ifdef _WIN32
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
#endif

// Renames; with `replace` an existing target is replaced in one step, without it an existing target is never
// touched (EEXIST). 0 or an errno.
int Rename(const fs::path& from, const fs::path& to, bool replace) {
#ifdef _WIN32
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(from.c_str(), to.c_str(), flags) ? 0 : ErrnoOfWindows(GetLastError());
#else
    if (replace)
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    // Without an atomic "no replace", a hard link refuses a taken name for files; folders are checked first.
    struct stat st {};
    if (::lstat(from.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (::link(from.c_str(), to.c_str()) != 0)
            return errno;
        return ::unlink(from.c_str()) == 0 ? 0 : errno;
    }
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
#endif
}

int CloseFd(int fd) {
#ifdef _WIN32
    return ::_close(fd);
#else
    return ::close(fd);
#endif
}

int SyncFd(int fd) {
#ifdef _WIN32
    return ::_commit(fd) == 0 ? 0 : errno;
#else
    return ::fsync(fd) == 0 ? 0 : errno;
#endif
}

int OpenForReading(const fs::path& path) {
#ifdef _WIN32
    return ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

long ReadFd(int fd, char* buffer, std::size_t size) {
#ifdef _WIN32
    return ::_read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
    return static_cast<long>(::read(fd, buffer, size));
#endif
}

// Creates a new temporary file "<name>.zel~XXXXXX" in the folder; the descriptor, or -1 with errno set.
int CreateTemporary(const fs::path& folder, const std::string& name, fs::path& created) {
#ifdef _WIN32
    static std::mt19937 random{std::random_device{}()};
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix;
        for (int i = 0; i < 6; ++i)
            suffix += chars[random() % (sizeof chars - 1)];
        created = folder / Path(name + TemporaryMarker + suffix);
        const int fd = ::_wopen(created.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
#else
    std::string templ = Utf8(folder / Path(name)) + TemporaryMarker + "XXXXXX";
    const int fd = ::mkstemp(templ.data());
    if (fd >= 0)
        created = Path(templ);
    return fd;
#endif
}

#ifdef _WIN32
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
#else
bool FromStat(const struct stat& st, FileId& id) {
    if (!S_ISREG(st.st_mode))
        return false;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::uint64_t>(st.st_size);
#ifdef __APPLE__
    id.mtimeNs = static_cast<std::int64_t>(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
    id.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    return true;
}
#endif

bool IdentifyNative(const fs::path& path, FileId& id, bool followLinks = false) {
#ifdef _WIN32
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = FromHandle(handle, followLinks, id);
    CloseHandle(handle);
    return ok;
#else
    struct stat st {};
    return (followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 && FromStat(st, id);
#endif
}

// ---- names and patterns ----

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// "*" and "?" glob without regard to (ASCII) case; "?" takes one whole UTF-8 character.
bool Glob(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            ++n;
            while (n < name.size() && IsContinuation(name[n]))
                ++n;
        } else if (p < pattern.size() && FoldCase(pattern[p]) == FoldCase(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// Windows rules on top of the glob: "x.*" also matches "x" (so "*.*" matches every name) and "x." matches
// names without a dot.
bool WildMatch(const std::string& pattern, const std::string& name) {
    if (Glob(pattern, name))
        return true;
    std::string_view p(pattern);
    if (p.size() >= 2 && p.substr(p.size() - 2) == ".*")
        return Glob(p.substr(0, p.size() - 2), name);
    if (p.size() >= 1 && p.back() == '.' && name.find('.') == std::string::npos)
        return Glob(p.substr(0, p.size() - 1), name);
    return false;
}

bool HasWildcards(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

struct SplitPath {
    std::string folder; // native, with its trailing "/"; empty for the current folder
    std::string name;
};

SplitPath Split(const std::string& path) {
    std::string native = NativePath(path);
    auto pos = native.rfind('/');
    if (pos == std::string::npos)
        return {"", native};
    return {native.substr(0, pos + 1), native.substr(pos + 1)};
}

std::string FolderOrDot(const std::string& folder) {
    return folder.empty() ? std::string(".") : folder;
}

// ---- what is there ----

bool IsPlainFile(const std::string& native) {
    std::error_code ec;
    return fs::is_regular_file(Path(native), ec);
}

bool IsFolder(const std::string& native) {
    std::error_code ec;
    return fs::is_directory(Path(native), ec);
}

bool Exists(const std::string& native) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(Path(native), ec));
}

// The owner-write bit stands in for the read-only attribute on POSIX systems (root ignores permission bits);
// the file system library maps the attribute itself onto it on Windows.
bool IsReadOnly(const std::string& native) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(Path(native), ec);
    return !ec && fs::exists(st) && !fs::is_symlink(st) &&
           (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool SameEntry(const std::string& a, const std::string& b) {
    FileId x, y;
    if (IdentifyNative(Path(a), x) && IdentifyNative(Path(b), y))
        return x.device == y.device && x.inode == y.inode;
    std::error_code ec;
    return fs::equivalent(Path(a), Path(b), ec);
}

// Plain files of a folder whose names match the pattern, in name order; a link counts as what it leads to.
std::vector<std::string> MatchingFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(Path(FolderOrDot(folder)), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = Utf8(it->path().filename());
        std::error_code kind;
        // The kind the listing itself reports, where it does: no look-up per file among thousands.
        if (WildMatch(pattern, name) && it->is_regular_file(kind))
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

winapi::BOOL CopyFailed(winapi::DWORD code) {
    winapi::SetLastError(code);
    return winapi::FALSE;
}

// Owns a file descriptor and, until committed, the temporary file it was opened on.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (m_fd >= 0)
            CloseFd(m_fd);
        if (!m_path.empty()) {
            std::error_code ec;
            fs::remove(m_path, ec);
        }
    }
    bool Create(const fs::path& folder, const std::string& name) {
        m_fd = CreateTemporary(folder, name, m_path);
        if (m_fd < 0)
            m_path.clear();
        return m_fd >= 0;
    }
    int Fd() const { return m_fd; }
    const fs::path& Path() const { return m_path; }
    int Close() {
        const int rc = CloseFd(m_fd);
        m_fd = -1;
        return rc;
    }
    void Commit() { m_path.clear(); }

private:
    int m_fd = -1;
    fs::path m_path;
};

} // namespace

Fd::~Fd() {
    if (m_fd >= 0)
        CloseFd(m_fd);
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FoldCase(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = FoldCase(c);
    return folded;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

bool IsTemporaryName(const std::string& name) {
    return name.find(TemporaryMarker) != std::string::npos;
}

#ifdef _WIN32
namespace {
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

std::string ToAnsi(const std::string& utf8) {
    return Convert(utf8, CP_UTF8, CP_ACP);
}

std::string FromAnsi(const std::string& ansi) {
    return Convert(ansi, CP_ACP, CP_UTF8);
}
#else
std::string ToAnsi(const std::string& utf8) {
    return utf8;
}

std::string FromAnsi(const std::string& ansi) {
    return ansi;
}
#endif

bool IsDiskFull(int err) {
#ifdef EDQUOT
    if (err == EDQUOT)
        return true;
#endif
    return err == ENOSPC || err == EFBIG;
}

winapi::DWORD SystemCode(int err, winapi::DWORD fallback) {
    if (IsDiskFull(err))
        return winapi::ERROR_DISK_FULL;
    switch (err) {
    case 0:
        return winapi::ERROR_SUCCESS;
    case ENOENT:
        return winapi::ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return winapi::ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return winapi::ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return winapi::ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return winapi::ERROR_INVALID_NAME;
    case EBUSY:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
        return winapi::ERROR_SHARING_VIOLATION;
    case ENOMEM:
        return winapi::ERROR_NOT_ENOUGH_MEMORY;
    default:
        return fallback;
    }
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    return WildMatch(pattern, name);
}

std::string NativePath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

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
    std::vector<std::string> names;
    // A pattern that ends in a separator names no file.
    if (split.name.empty())
        return names;
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
    const std::string native = NativePath(path);
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(Path(native).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
    const std::string name = Split(native).name;
    return !name.empty() && name[0] == '.';
#endif
}

bool SameVolume(const std::string& folderA, const std::string& folderB) {
#ifdef _WIN32
    // Through junctions: the volume a folder's files are really on.
    const auto serial = [](const std::string& folder, DWORD& out) {
        HANDLE h = CreateFileW(Path(NativePath(folder)).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        out = info.dwVolumeSerialNumber;
        return ok;
    };
    DWORD a = 0, b = 0;
    return serial(folderA, a) && serial(folderB, b) && a == b;
#else
    // A bind mount of the same file system has the same device, yet a rename across it fails: mounts count too.
    const auto where = [](const std::string& folder, std::uint64_t& device, std::uint64_t& mount) {
#if defined(__linux__) && defined(STATX_MNT_ID)
        struct statx sx {};
        if (::statx(AT_FDCWD, FolderOrDot(NativePath(folder)).c_str(), 0, STATX_MNT_ID, &sx) == 0) {
            device = (std::uint64_t(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
            mount = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
            return true;
        }
        return false;
#else
        struct stat st {};
        if (::stat(FolderOrDot(NativePath(folder)).c_str(), &st) != 0)
            return false;
        device = static_cast<std::uint64_t>(st.st_dev);
        mount = 0;
        return true;
#endif
    };
    std::uint64_t deviceA = 0, mountA = 0, deviceB = 0, mountB = 0;
    return where(folderA, deviceA, mountA) && where(folderB, deviceB, mountB) && deviceA == deviceB && mountA == mountB;
#endif
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

void Name(const std::string& from, const std::string& to) {
    std::string source = ResolvePath(from);
    if (!Exists(source))
        Fail(zel::rt::FileNotFound, "Name");
    std::string target = ResolvePath(to);
    // A change of case only is a rename of the same entry, as on Windows.
    const bool sameEntry = Exists(target) && SameEntry(source, target);
    if (Exists(target) && !sameEntry)
        Fail(zel::rt::FileAlreadyExists, "Name");
    switch (Rename(Path(source), Path(NativePath(to)), sameEntry)) {
    case 0:
        return;
    case EEXIST:
    case ENOTEMPTY:
        Fail(zel::rt::FileAlreadyExists, "Name");
    case ENOENT:
    case ENOTDIR:
        Fail(zel::rt::PathNotFound, "Name");
    default:
        Fail(zel::rt::PathFileAccessError, "Name");
    }
}

void MkDir(const std::string& path) {
    std::error_code ec;
    if (fs::create_directory(Path(NativePath(path)), ec))
        return;
    const int err = ec ? ErrnoOf(ec) : EEXIST;
    Fail(err == ENOENT || err == ENOTDIR ? zel::rt::PathNotFound : zel::rt::PathFileAccessError, "MkDir");
}

void RmDir(const std::string& path) {
    const std::string native = ResolvePath(path);
    if (!IsFolder(native))
        Fail(zel::rt::PathNotFound, "RmDir");
    std::error_code ec;
    if (!fs::remove(Path(native), ec) || ec)
        Fail(zel::rt::PathFileAccessError, "RmDir");
}

winapi::BOOL CopyFileA(const char* existingFile, const char* newFile, winapi::BOOL failIfExists) {
    if (!existingFile || !newFile || !*existingFile || !*newFile)
        return CopyFailed(winapi::ERROR_INVALID_PARAMETER);

    SplitPath from = Split(existingFile);
    const fs::path source = Path(ResolveName(from.folder, from.name));
    std::error_code ec;
    const fs::file_status sourceStatus = fs::status(source, ec);
    if (!fs::exists(sourceStatus))
        return CopyFailed(from.folder.empty() || IsFolder(from.folder) ? winapi::ERROR_FILE_NOT_FOUND
                                                                       : winapi::ERROR_PATH_NOT_FOUND);
    if (!fs::is_regular_file(sourceStatus))
        return CopyFailed(winapi::ERROR_ACCESS_DENIED);
    Fd in(OpenForReading(source));
    if (in.Get() < 0)
        return CopyFailed(SystemCode(errno, winapi::ERROR_ACCESS_DENIED));

    SplitPath to = Split(newFile);
    if (to.name.empty())
        return CopyFailed(winapi::ERROR_PATH_NOT_FOUND);
    std::string target = ResolveName(to.folder, to.name);
    if (Exists(target)) {
        if (failIfExists)
            return CopyFailed(winapi::ERROR_FILE_EXISTS);
        if (!IsPlainFile(target) || IsReadOnly(target))
            return CopyFailed(winapi::ERROR_ACCESS_DENIED);
    } else if (!to.folder.empty() && !IsFolder(to.folder)) {
        return CopyFailed(winapi::ERROR_PATH_NOT_FOUND);
    }

    // The copy goes to a temporary file beside the target; the target changes only by the final rename.
    bool readFault = false;
    const int err = ReplaceFile(
        target,
        [&](int fd) {
            std::vector<char> buffer(1 << 16);
            for (;;) {
                const long n = ReadFd(in.Get(), buffer.data(), buffer.size());
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    readFault = true;
                    return false;
                }
                if (n == 0)
                    return true;
                if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(n)))
                    return false;
            }
        },
        failIfExists != winapi::FALSE);
    if (readFault)
        return CopyFailed(ERROR_READ_FAULT);
    if (err != 0)
        return CopyFailed(SystemCode(err, winapi::ERROR_WRITE_FAULT));
    // Like the platform's copy the target takes the source's attributes and time of last change. A failure to
    // set them does not spoil a complete copy, so it is not reported.
    fs::permissions(Path(target), sourceStatus.permissions(), ec);
    if (const auto time = fs::last_write_time(source, ec); !ec)
        fs::last_write_time(Path(target), time, ec);
    winapi::SetLastError(winapi::ERROR_SUCCESS);
    return winapi::TRUE;
}

int ReplaceFile(const std::string& target, const std::function<bool(int fd)>& fill, bool noReplace) {
    const fs::path path = Path(target);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code ec;
    const fs::file_status old = fs::status(path, ec);
    TempFile temp;
    if (!temp.Create(folder, Utf8(path.filename())))
        return errno;
    if (!fill(temp.Fd()))
        return errno ? errno : EIO;
    if (const int err = SyncFd(temp.Fd()); err != 0)
        return err;
    if (temp.Close() != 0)
        return errno;
    // What replaces a file keeps its permissions; a new file gets the usual ones.
    fs::permissions(temp.Path(),
                    fs::exists(old) ? old.permissions()
                                    : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                          fs::perms::others_read,
                    ec);
    if (const int err = Rename(temp.Path(), path, !noReplace); err != 0)
        return err;
    temp.Commit();
    return 0;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int n = ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
        const ssize_t n = ::write(fd, data, size);
#endif
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int ReadAll(const std::string& path, std::string& content) {
    std::error_code ec;
    const fs::file_status st = fs::status(Path(path), ec);
    if (!fs::exists(st))
        return ENOENT;
    if (!fs::is_regular_file(st))
        return EISDIR;
    Fd fd(OpenForReading(Path(path)));
    if (fd.Get() < 0)
        return errno;
    content.clear();
    char buffer[65536];
    for (;;) {
        const long n = ReadFd(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::string m = mode;
    const bool exclusive = m.find('x') != std::string::npos;
#ifdef _WIN32
    if (exclusive) {
        const int fd = ::_wopen(Path(path).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        return fd < 0 ? nullptr : ::_fdopen(fd, "wb");
    }
    return ::_wfopen(Path(path).c_str(), std::wstring(m.begin(), m.end()).c_str());
#else
    if (exclusive) {
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        return fd < 0 ? nullptr : ::fdopen(fd, "wb");
    }
    return std::fopen(path.c_str(), mode);
#endif
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0)
        return false;
#ifdef _WIN32
    const int err = SyncFd(::_fileno(file));
#else
    const int err = SyncFd(::fileno(file));
#endif
    errno = err;
    return err == 0;
}

bool Seek(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t Seek(int fd, std::int64_t offset, int whence) {
#ifdef _WIN32
    return ::_lseeki64(fd, offset, whence);
#else
    return ::lseek(fd, static_cast<off_t>(offset), whence);
#endif
}

int RenameOver(const std::string& from, const std::string& to) {
    return Rename(Path(from), Path(to), true);
}

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

bool ReadOnlyExact(const std::string& path) {
    return IsReadOnly(NativePath(path));
}

bool Identify(const std::string& path, FileId& id, bool followLinks) {
    return IdentifyNative(Path(NativePath(path)), id, followLinks);
}

bool Identify(std::FILE* file, FileId& id) {
#ifdef _WIN32
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FromHandle(handle, true, id);
#else
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && FromStat(st, id);
#endif
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
    switch (Rename(Path(source), Path(NativePath(to)), false)) {
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
#ifdef _WIN32
    // Renames made with MOVEFILE_WRITE_THROUGH are on disk when they return; NTFS journals the rest.
    (void)folder;
#else
    // Without this a rename can be lost in a power cut even though the file it moved was synced.
    Fd dir(::open(FolderOrDot(NativePath(folder)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0 || ::fsync(dir.Get()) != 0)
        Fail(zel::rt::PathFileAccessError, "SyncFolder");
#endif
}

void SyncFiles(const std::string& folder) {
#ifdef __linux__
    // One call for the whole file system instead of one per file: thousands of small files stay cheap.
    Fd dir(::open(FolderOrDot(NativePath(folder)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0 || ::syncfs(dir.Get()) != 0)
        Fail(zel::rt::PathFileAccessError, "SyncFiles");
#else
    for (const std::string& name : List(folder).files) {
#ifdef _WIN32
        // Flushing needs write access.
        Fd file(::_wopen(Path(NativePath(folder) + "/" + name).c_str(), _O_RDWR | _O_BINARY));
#else
        Fd file(OpenForReading(Path(NativePath(folder) + "/" + name)));
#endif
        if (file.Get() < 0 || SyncFd(file.Get()) != 0)
            Fail(zel::rt::PathFileAccessError, "SyncFiles");
    }
#endif
}

} // namespace files
