#include "platform/files/Io.h"

#include "platform/files/Native.h"
#include "platform/files/Os.h"

#include <cerrno>
#include <string>
#include <vector>

namespace files {

using namespace native;

TempFile::~TempFile() {
    Close();
    if (!m_Path.empty()) {
        std::error_code ec;
        fs::remove(native::Path(m_Path), ec);
    }
}

bool TempFile::Create(const std::string& folder, const std::string& name) {
    fs::path created;
    m_Fd = os::CreateTemporary(native::Path(FolderOrDot(folder)), name, created);
    if (m_Fd < 0)
        return false;
    m_Path = Utf8(created);
    return true;
}

std::FILE* TempFile::Stream() {
    if (!m_Stream && m_Fd >= 0)
        m_Stream = os::StreamOf(m_Fd, "wb");
    return m_Stream;
}

int TempFile::Close() {
    int rc = 0;
    if (m_Stream)
        rc = std::fclose(m_Stream) == 0 ? 0 : errno;
    else if (m_Fd >= 0)
        rc = os::Close(m_Fd) == 0 ? 0 : errno;
    m_Stream = nullptr;
    m_Fd = -1;
    return rc;
}

int TempFile::CommitTo(const std::string& target, bool replace) {
    if (const int err = Close(); err != 0)
        return err;
    if (const int err = os::Rename(native::Path(m_Path), native::Path(target), replace); err != 0)
        return err;
    m_Path.clear();
    return 0;
}

int ReplaceFile(const std::string& target, const std::function<bool(int fd)>& fill, bool noReplace) {
    const fs::path path = native::Path(target);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code ec;
    const fs::file_status old = fs::status(path, ec);
    TempFile temp;
    if (!temp.Create(Utf8(folder), Utf8(path.filename())))
        return errno;
    errno = 0; // a fill that fails without saying why must not pass on an older error
    if (!fill(temp.Fd()))
        return errno ? errno : EIO;
    if (const int err = os::Sync(temp.Fd()); err != 0)
        return err;
    if (const int err = temp.Close(); err != 0)
        return err;
    // What replaces a file keeps its permissions; a new file gets the usual ones.
    fs::permissions(native::Path(temp.Path()),
                    fs::exists(old) ? old.permissions()
                                    : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                          fs::perms::others_read,
                    ec);
    return temp.CommitTo(target, !noReplace);
}

int RenameOver(const std::string& from, const std::string& to) {
    return os::Rename(native::Path(from), native::Path(to), true);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const long n = os::Write(fd, data, size);
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
    const fs::file_status st = fs::status(native::Path(path), ec);
    if (!fs::exists(st))
        return ENOENT;
    if (!fs::is_regular_file(st))
        return EISDIR;
    const int fd = os::OpenForReading(native::Path(path));
    if (fd < 0)
        return errno;
    content.clear();
    std::vector<char> buffer(65536);
    int err = 0;
    for (;;) {
        const long n = os::Read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : 0;
            break;
        }
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    os::Close(fd);
    return err;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return os::OpenFile(native::Path(path), mode);
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0)
        return false;
    const int err = os::Sync(os::FileNo(file));
    errno = err;
    return err == 0;
}

bool Seek(std::FILE* file, std::uint64_t offset) {
    return os::Seek(file, offset);
}

std::int64_t Seek(int fd, std::int64_t offset, int whence) {
    return os::Seek(fd, offset, whence);
}

bool Identify(std::FILE* file, FileId& id) {
    return os::Identify(file, id);
}

} // namespace files
