#pragma once

#include <string>

namespace files {

// An exclusive lock on a lock file, held by this process only, taken with the operating system's own file locking
// (LockFileEx on Windows, which holds across SMB shares; an open-file-description lock on Linux, which holds across
// NFS). The system drops it when the process ends, however it ends, so a crash never leaves a stale lock.
class LockFile {
public:
    LockFile() = default;
    ~LockFile(); // releases the lock; the file stays
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Takes the lock on the file at a native path (created if missing) without waiting: 0, EWOULDBLOCK when another
    // process holds it, or the errno of what failed.
    int TryLock(const std::string& path);
    bool Held() const;
    // Deletes the lock file while the lock is still held, then releases it: a process that opened the old file
    // meanwhile sees it was deleted and starts again on a new one.
    void UnlockAndRemove();

private:
    void Close();
#ifdef _WIN32
    void* m_Handle = nullptr;
#else
    int m_Fd = -1;
#endif
    std::string m_Path;
};

} // namespace files
