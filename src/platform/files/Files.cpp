#include "platform/files/Files.h"

#include "platform/error/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

constexpr winapi::DWORD ERROR_READ_FAULT = 30;

[[noreturn]] void Fail(std::int32_t number, const char* source) {
    throw zel::rt::Raise(number, source);
}

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

bool IsPlainFile(const std::string& native) {
    struct stat st {};
    return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& native) {
    struct stat st {};
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& native) {
    struct stat st {};
    return ::lstat(native.c_str(), &st) == 0;
}

// The owner-write bit stands in for the read-only attribute: root ignores permission bits.
bool IsReadOnly(const std::string& native) {
    struct stat st {};
    return ::lstat(native.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

// Entries of a folder whose names match the pattern (any kind of entry), in name order.
std::vector<std::string> MatchingEntries(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(FolderOrDot(folder), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (WildMatch(pattern, name))
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
    std::filesystem::directory_iterator it(FolderOrDot(folder), ec);
    std::vector<std::string> same;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (SameName(entry, name))
            same.push_back(std::move(entry));
    }
    if (same.empty())
        return folder + name;
    return folder + *std::min_element(same.begin(), same.end());
}

winapi::DWORD CodeForErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return winapi::ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return winapi::ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return winapi::ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return winapi::ERROR_INVALID_NAME;
    case EBUSY:
    case ETXTBSY:
        return winapi::ERROR_SHARING_VIOLATION;
    case ENOMEM:
        return winapi::ERROR_NOT_ENOUGH_MEMORY;
    default:
        return winapi::ERROR_WRITE_FAULT;
    }
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
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    bool Create(const std::string& folder, const std::string& name) {
        std::string templ = FolderOrDot(folder) + (folder.empty() ? "/" : "") + name + TemporaryMarker + "XXXXXX";
        m_fd = ::mkstemp(templ.data());
        if (m_fd >= 0)
            m_path = templ;
        return m_fd >= 0;
    }
    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }
    int Close() {
        int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }
    void Commit() { m_path.clear(); }

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace

Fd::~Fd() {
    if (m_fd >= 0)
        ::close(m_fd);
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
    for (std::string& name : MatchingEntries(split.folder, split.name)) {
        if (IsPlainFile(split.folder + name))
            names.push_back(std::move(name));
    }
    return names;
}

bool FileExists(const std::string& path) {
    return IsPlainFile(ResolvePath(path));
}

bool FolderExists(const std::string& path) {
    return IsFolder(ResolvePath(path));
}

std::uint64_t FileLen(const std::string& path) {
    struct stat st {};
    if (::stat(ResolvePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        Fail(zel::rt::FileNotFound, "FileLen");
    return static_cast<std::uint64_t>(st.st_size);
}

bool ReadOnly(const std::string& path) {
    return IsReadOnly(ResolvePath(path));
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
        if (::unlink(native.c_str()) != 0) {
            switch (errno) {
            case ENOENT:
                Fail(zel::rt::FileNotFound, "Kill");
            case EBUSY:
            case ETXTBSY:
                Fail(zel::rt::PermissionDenied, "Kill");
            default:
                Fail(zel::rt::PathFileAccessError, "Kill");
            }
        }
    }
}

void Name(const std::string& from, const std::string& to) {
    std::string source = ResolvePath(from);
    if (!Exists(source))
        Fail(zel::rt::FileNotFound, "Name");
    std::string target = ResolvePath(to);
    // A change of case only is a rename of the same entry, as on Windows.
    bool sameEntry = false;
    struct stat a {
    }, b{};
    if (::lstat(source.c_str(), &a) == 0 && ::lstat(target.c_str(), &b) == 0)
        sameEntry = a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    if (Exists(target) && !sameEntry)
        Fail(zel::rt::FileAlreadyExists, "Name");
    std::string native = NativePath(to);
#ifdef __linux__
    int rc = sameEntry ? ::rename(source.c_str(), native.c_str())
                       : ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, native.c_str(), RENAME_NOREPLACE);
#else
    int rc = ::rename(source.c_str(), native.c_str());
#endif
    if (rc != 0) {
        switch (errno) {
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
}

void MkDir(const std::string& path) {
    if (::mkdir(NativePath(path).c_str(), 0777) != 0)
        Fail(errno == ENOENT || errno == ENOTDIR ? zel::rt::PathNotFound : zel::rt::PathFileAccessError, "MkDir");
}

void RmDir(const std::string& path) {
    if (::rmdir(ResolvePath(path).c_str()) != 0)
        Fail(errno == ENOENT || errno == ENOTDIR ? zel::rt::PathNotFound : zel::rt::PathFileAccessError, "RmDir");
}

winapi::BOOL CopyFileA(const char* existingFile, const char* newFile, winapi::BOOL failIfExists) {
    if (!existingFile || !newFile || !*existingFile || !*newFile)
        return CopyFailed(winapi::ERROR_INVALID_PARAMETER);

    SplitPath from = Split(existingFile);
    std::string source = ResolveName(from.folder, from.name);
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) {
        if (errno == ENOENT)
            return CopyFailed(from.folder.empty() || IsFolder(from.folder) ? winapi::ERROR_FILE_NOT_FOUND
                                                                           : winapi::ERROR_PATH_NOT_FOUND);
        return CopyFailed(CodeForErrno(errno));
    }
    struct stat sourceStat {};
    if (::fstat(in.Get(), &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode))
        return CopyFailed(winapi::ERROR_ACCESS_DENIED);

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
    int err = ReplaceFile(
        target,
        [&](int fd) {
            std::vector<char> buffer(1 << 16);
            for (;;) {
                ssize_t n = ::read(in.Get(), buffer.data(), buffer.size());
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    readFault = true;
                    return false;
                }
                if (n == 0)
                    break;
                if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(n)))
                    return false;
            }
            // Like the platform's copy the target takes the source's attributes and time of last change. A
            // failure to set them does not spoil a complete copy, so it is not reported.
            (void)::fchmod(fd, sourceStat.st_mode & 07777);
            const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
            (void)::futimens(fd, times);
            return true;
        },
        failIfExists != winapi::FALSE);
    if (readFault)
        return CopyFailed(ERROR_READ_FAULT);
    if (err != 0)
        return CopyFailed(err == EEXIST ? winapi::ERROR_FILE_EXISTS : CodeForErrno(err));
    winapi::SetLastError(winapi::ERROR_SUCCESS);
    return winapi::TRUE;
}

int ReplaceFile(const std::string& target, const std::function<bool(int fd)>& fill, bool noReplace) {
    auto slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    TempFile temp;
    if (!temp.Create(folder, target.substr(folder.size())))
        return errno;
    if (!fill(temp.Fd()))
        return errno;
    if (::fsync(temp.Fd()) != 0 || temp.Close() != 0)
        return errno;
#ifdef __linux__
    int rc = noReplace ? ::renameat2(AT_FDCWD, temp.Path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE)
                       : ::rename(temp.Path().c_str(), target.c_str());
#else
    (void)noReplace;
    int rc = ::rename(temp.Path().c_str(), target.c_str());
#endif
    if (rc != 0)
        return errno;
    temp.Commit();
    return 0;
}

bool Identify(const std::string& path, FileId& id) {
    struct stat st {};
    if (::lstat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

Listing List(const std::string& folder) {
    Listing listing;
    const std::string native = NativePath(folder);
    std::error_code ec;
    std::filesystem::directory_iterator it(native.empty() ? std::string(".") : native, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code kind;
        const auto status = it->symlink_status(kind);
        if (std::filesystem::is_regular_file(status))
            listing.files.push_back(it->path().filename().string());
        else if (std::filesystem::is_directory(status))
            listing.folders.push_back(it->path().filename().string());
    }
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

void Move(const std::string& from, const std::string& to) {
    const std::string source = NativePath(from), target = NativePath(to);
#ifdef __linux__
    const int rc = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
#else
    // Not atomic against a racing creator, but never replaces a file that is already there.
    const int rc = Exists(target) ? (errno = EEXIST, -1) : ::rename(source.c_str(), target.c_str());
#endif
    if (rc == 0)
        return;
    switch (errno) {
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
    if (::unlink(NativePath(path).c_str()) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    Fail(zel::rt::PathFileAccessError, "Remove");
}

void MakeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(NativePath(path), ec);
    if (!IsFolder(NativePath(path)))
        Fail(zel::rt::PathNotFound, "MakeFolders");
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(NativePath(path), ec);
    if (ec)
        Fail(zel::rt::PathFileAccessError, "RemoveTree");
}

void SyncFolder(const std::string& folder) {
    // Without this a rename can be lost in a power cut even though the file it moved was synced.
    Fd dir(::open(FolderOrDot(NativePath(folder)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0 || ::fsync(dir.Get()) != 0)
        Fail(zel::rt::PathFileAccessError, "SyncFolder");
}

void SyncFiles(const std::string& folder) {
#ifdef __linux__
    // One call for the whole file system instead of one per file: thousands of small files stay cheap.
    Fd dir(::open(FolderOrDot(NativePath(folder)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0 || ::syncfs(dir.Get()) != 0)
        Fail(zel::rt::PathFileAccessError, "SyncFiles");
#else
    for (const std::string& name : List(folder).files) {
        Fd file(::open((NativePath(folder) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
        if (file.Get() < 0 || ::fsync(file.Get()) != 0)
            Fail(zel::rt::PathFileAccessError, "SyncFiles");
    }
#endif
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
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

} // namespace files
