#include "platform/files/Lock.h"

#include <cerrno>
#include <filesystem>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace files {

namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u8string text(utf8.begin(), utf8.end());
    return std::filesystem::path(text).wstring();
}

bool DeletePending(HANDLE handle) {
    FILE_STANDARD_INFO info{};
    return GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info) && info.DeletePending;
}

} // namespace

LockFile::~LockFile() {
    Close();
}

bool LockFile::Held() const {
    return m_Handle != nullptr;
}

void LockFile::Close() {
    if (m_Handle)
        CloseHandle(static_cast<HANDLE>(m_Handle));
    m_Handle = nullptr;
}

int LockFile::TryLock(const std::string& path) {
    Close();
    const std::wstring name = Wide(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Shared open: others must be able to open the file to find the lock taken, and the holder to delete it.
        HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            // A file being deleted by its last holder cannot be opened until it is gone.
            if (GetLastError() == ERROR_ACCESS_DENIED && attempt < 99)
                continue;
            return GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        }
        OVERLAPPED whole{};
        if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK : EIO;
        }
        // Won on a file its holder deleted as it let go: start again on a new one.
        if (DeletePending(handle)) {
            CloseHandle(handle);
            continue;
        }
        m_Handle = handle;
        m_Path = path;
        return 0;
    }
    return EAGAIN;
}

void LockFile::UnlockAndRemove() {
    if (!m_Handle)
        return;
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = TRUE;
    SetFileInformationByHandle(static_cast<HANDLE>(m_Handle), FileDispositionInfo, &dispose, sizeof dispose);
    Close();
}

} // namespace files
