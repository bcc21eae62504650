// No include guard on purpose: include this again after any header that may pull in <windows.h> (curl.h does).
// <windows.h> defines as macros names that the platform's shape gives our own declarations (TRUE, FALSE, the
// error codes, DeleteFile); left defined they would rewrite those declarations and every use of them. Our
// constants carry the same values, so nothing is lost.
#ifdef _WIN32
#undef TRUE
#undef FALSE
#undef DeleteFile
#undef ReplaceFile
#undef ERROR_SUCCESS
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_ACCESS_DENIED
#undef ERROR_INVALID_HANDLE
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_WRITE_FAULT
#undef ERROR_READ_FAULT
#undef ERROR_SHARING_VIOLATION
#undef ERROR_HANDLE_DISK_FULL
#undef ERROR_FILE_EXISTS
#undef ERROR_INVALID_PARAMETER
#undef ERROR_DISK_FULL
#undef ERROR_INSUFFICIENT_BUFFER
#undef ERROR_INVALID_NAME
#undef ERROR_ALREADY_EXISTS
#undef ERROR_MORE_DATA
#undef ERROR_MR_MID_NOT_FOUND
#endif
