#include "platform/error/LastError.h"

namespace winapi {

namespace {
thread_local DWORD t_LastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return t_LastError;
}
void SetLastError(DWORD code) {
    t_LastError = code;
}

DWORD Failed(DWORD code) {
    SetLastError(code);
    return 0;
}

} // namespace winapi
