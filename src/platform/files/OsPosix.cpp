#include "platform/files/Os.h"

#include "platform/files/Names.h"
#include "platform/files/Native.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files::os {

namespace {

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

} // namespace

int Rename(const fs::path& from, const fs::path& to, bool replace) {
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
}

int CreateTemporary(const fs::path& folder, const std::string& name, fs::path& created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        created = folder / native::Path(TemporaryName(name));
        const int fd =
            ::open(created.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666); // as any new file: the umask applies
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

std::FILE* StreamOf(int fd, const char* mode) {
    return ::fdopen(fd, mode);
}

int OpenForReading(const fs::path& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

long Read(int fd, char* buffer, std::size_t size) {
    return static_cast<long>(::read(fd, buffer, size));
}

long Write(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}

int Close(int fd) {
    return ::close(fd);
}

int Sync(int fd) {
    return ::fsync(fd) == 0 ? 0 : errno;
}

std::FILE* OpenFile(const fs::path& path, const char* mode) {
    if (std::string(mode).find('x') != std::string::npos) {
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        return fd < 0 ? nullptr : ::fdopen(fd, "wb");
    }
    return std::fopen(path.c_str(), mode);
}

int FileNo(std::FILE* file) {
    return ::fileno(file);
}

bool Seek(std::FILE* file, std::uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t Seek(int fd, std::int64_t offset, int whence) {
    return ::lseek(fd, static_cast<off_t>(offset), whence);
}

bool Identify(const fs::path& path, FileId& id, bool followLinks) {
    struct stat st {};
    return (followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 && FromStat(st, id);
}

bool Identify(std::FILE* file, FileId& id) {
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && FromStat(st, id);
}

bool HiddenOrSystem(const fs::path& path) {
    const std::string name = native::Utf8(path.filename());
    return !name.empty() && name[0] == '.';
}

bool SameVolume(const fs::path& a, const fs::path& b) {
    // A bind mount of the same file system has the same device, yet a rename across it fails: mounts count too.
    const auto where = [](const fs::path& folder, std::uint64_t& device, std::uint64_t& mount) {
#if defined(__linux__) && defined(STATX_MNT_ID)
        struct statx sx {};
        if (::statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &sx) != 0)
            return false;
        device = (std::uint64_t(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
        mount = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
        return true;
#else
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0)
            return false;
        device = static_cast<std::uint64_t>(st.st_dev);
        mount = 0;
        return true;
#endif
    };
    std::uint64_t deviceA = 0, mountA = 0, deviceB = 0, mountB = 0;
    return where(a, deviceA, mountA) && where(b, deviceB, mountB) && deviceA == deviceB && mountA == mountB;
}

int SyncFolder(const fs::path& folder) {
    // Without this a rename can be lost in a power cut even though the file it moved was synced.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

int SyncFiles(const fs::path& folder) {
#ifdef __linux__
    // One call for the whole file system instead of one per file: thousands of small files stay cheap.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
#else
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        const int fd = OpenForReading(it->path());
        if (fd < 0)
            return errno;
        const int err = Sync(fd);
        ::close(fd);
        if (err != 0)
            return err;
    }
    return ec ? native::ErrnoOf(ec) : 0;
#endif
}

std::string ToAnsi(const std::string& utf8) {
    return utf8;
}

std::string FromAnsi(const std::string& ansi) {
    return ansi;
}

} // namespace files::os
