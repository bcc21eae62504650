#pragma once

#include "platform/error/LastError.h"
#include "platform/error/ProgressHook.h"

#include <cstdint>

// WinINet-shaped FTP calls over libcurl. Calls return a handle or TRUE on success; 0/FALSE on failure
// with the thread's last-error code set (winapi::GetLastError).
namespace inet {

using winapi::BOOL;
using winapi::DWORD;
using HINTERNET = std::uintptr_t; // 0 = none

constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
constexpr std::uint16_t INTERNET_DEFAULT_FTP_PORT = 21;
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;

constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass, DWORD flags);
// Connects and logs in. port 0 = 21; "host:port" in server is accepted.
HINTERNET InternetConnectA(HINTERNET session, const char* server, std::uint16_t port, const char* user,
                           const char* password, DWORD service, DWORD flags, std::uintptr_t context);
BOOL FtpGetFileA(HINTERNET connection, const char* remoteFile, const char* newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, std::uintptr_t context);
BOOL FtpPutFileA(HINTERNET connection, const char* localFile, const char* newRemoteFile, DWORD flags,
                 std::uintptr_t context);
BOOL FtpRenameFileA(HINTERNET connection, const char* existing, const char* newName);
BOOL FtpDeleteFileA(HINTERNET connection, const char* fileName);
BOOL FtpSetCurrentDirectoryA(HINTERNET connection, const char* directory);
// Ours: the server's SIZE of a remote file. FALSE when the server does not answer it.
BOOL FtpGetRemoteFileSize(HINTERNET connection, const char* remoteFile, std::uint64_t* size);
// Two-call pattern: with no buffer, *length receives the length of the last reply text.
BOOL InternetGetLastResponseInfoA(DWORD* error, char* buffer, DWORD* length);
BOOL InternetCloseHandle(HINTERNET handle);

// Process-wide hook called while any call blocks (connect, transfers, commands); false cancels the
// call, which then fails with ERROR_INTERNET_OPERATION_CANCELLED. An empty hook removes it.
void SetProgressHook(zel::ProgressHook hook);

} // namespace inet
