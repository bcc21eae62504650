#include "platform/files/Codes.h"

#include <cerrno>

namespace files {

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

} // namespace files
