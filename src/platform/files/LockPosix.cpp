#include "platform/files/Lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// The whole file, exclusively, owned by the open file description rather than the process: two opens in one
// process exclude each other too, and closing another descriptor of the file does not drop it.
int TryExclusive(int fd) {
#ifdef F_OFD_SETLK
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return 0;
    return errno == EACCES || errno == EAGAIN ? EWOULDBLOCK : errno;
#else
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return 0;
    return errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
#endif
}

} // namespace

LockFile::~LockFile() {
    Close();
}

bool LockFile::Held() const {
    return m_Fd >= 0;
}

void LockFile::Close() {
    if (m_Fd >= 0)
        ::close(m_Fd);
    m_Fd = -1;
}

int LockFile::TryLock(const std::string& path) {
    Close();
    // A holder deletes the file as it lets go: a lock won on a file that is no longer there is worth nothing, so
    // the path is checked again and the lock taken afresh.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno;
        if (const int err = TryExclusive(fd); err != 0) {
            ::close(fd);
            return err;
        }
        struct stat opened {
        }, named{};
        if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino) {
            m_Fd = fd;
            m_Path = path;
            return 0;
        }
        ::close(fd);
    }
    return EAGAIN;
}

void LockFile::UnlockAndRemove() {
    if (m_Fd < 0)
        return;
    ::unlink(m_Path.c_str());
    Close();
}

} // namespace files
