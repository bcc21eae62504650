#pragma once

#include "platform/error/LastError.h"
#include "platform/error/ProgressHook.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// WinINet-shaped FTP calls over libcurl. Calls return a handle or TRUE on success; 0/FALSE on failure
// with the thread's last-error code set (winapi::GetLastError). The Windows build keeps libcurl rather than
// calling WinINet: WinINet would give none of the progress, cancel, retry with resume, verification or TLS
// checks this stand-in adds.
//
// Beyond the platform:
// - A server written "ftpes://host[:port]" is reached with explicit TLS (AUTH TLS, PBSZ 0, PROT P) on the control
//   and the data connections, never falling back to plain FTP. Certificates are checked against the system's store
//   and, when ZEL_FTP_CAFILE names a PEM file, against the authorities in it as well; on Windows (Schannel) against
//   those in the file only, and a self-signed certificate is reported as one of an authority not trusted.
// - FtpGetFileA and FtpPutFileA retry a transfer that a dropped or reset connection, a timeout or a passing refusal
//   (421, 425, 426, 450, 451) interrupted, resuming where it stopped (REST for downloads; SIZE, then APPE or
//   REST + STOR for uploads), and restart it whole where the server cannot resume or cannot vouch for the resumed
//   copy (a download resumes only where the server tells the size or a checksum). InternetConnectA retries a
//   login that the server refused with 421 or dropped. Every transfer is verified once complete: the server's
//   SIZE, and a checksum where FEAT offers HASH, XMD5 or XCRC. The waits before the retries come from
//   ZEL_FTP_RETRY_WAITS (seconds, comma-separated, one entry per retry; default "1,3,9"; empty for none).
// - ZEL_FTP_TIMEOUT (seconds, default 60) bounds connecting, waiting for a reply and a transfer that stalls.
// - ZEL_INET_VERBOSE prints the protocol dialogue on stderr, the password masked.
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
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037; // expired or not valid yet
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;   // issued for another host
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;            // issuer not trusted
constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;       // any other certificate fault
constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157; // the TLS handshake failed
constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;       // here: self-signed
// Ours, where the platform has no code.
constexpr DWORD ERROR_INTERNET_TLS_NOT_OFFERED = 12901;    // ftpes:// and the server refused AUTH TLS
constexpr DWORD ERROR_INTERNET_CA_FILE_UNREADABLE = 12902; // ZEL_FTP_CAFILE names no readable PEM file
constexpr DWORD ERROR_INTERNET_COPY_MISMATCH = 12903;      // the copy's size or checksum differs, after every retry
constexpr DWORD ERROR_INTERNET_PBSZ_REFUSED = 12904;       // ftpes:// and the server refused PBSZ
constexpr DWORD ERROR_INTERNET_PROT_REFUSED = 12905;       // ftpes:// and the server refused PROT P

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass, DWORD flags);
// Connects and logs in. port 0 = 21; "host:port" and "ftpes://host[:port]" in server are accepted.
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
// Ours: the names in a remote folder (NLST), without the folder's path; "" lists the current folder. FALSE when
// the server does not list it.
BOOL FtpListNames(HINTERNET connection, const char* folder, std::vector<std::string>* names);
// Two-call pattern: with no buffer, *length receives the length of the last reply text.
BOOL InternetGetLastResponseInfoA(DWORD* error, char* buffer, DWORD* length);
// Ours: what a call's failure means to a caller deciding what to do next, from its last-error code and the thread's
// last reply, read from the same table as the retries inside these calls.
enum class Failure {
    NothingSent, // refused before anything was sent: an argument, or a local file that cannot be opened
    LineLost,    // the line dropped, stalled or was reset, or the server closed it (421): the next call connects again
    Refused,     // the server refused the command for good: a 5xx reply, but 552 (no room), which comes midway
    Declined,    // any other reply that refused the command, with the line still up
    Other,       // cancelled, a local file failed midway, TLS, a copy that does not match, ...
};
Failure FailureOf(DWORD error);
BOOL InternetCloseHandle(HINTERNET handle);

// Process-wide hook called while any call blocks (connect, transfers, commands, the waits before retries); false
// cancels the call, which then fails with ERROR_INTERNET_OPERATION_CANCELLED. An empty hook removes it. What the
// hook throws ends the call (curl is left first) and reaches its caller.
void SetProgressHook(zel::ProgressHook hook);

// Process-wide hook told, on the calling thread, when a call is about to be retried: one status line ("Connection
// lost at 63% — resuming (2 of 3)") and the wait that starts now. An empty hook removes it.
using NoticeHook = std::function<void(const std::string& text, std::chrono::milliseconds wait)>;
void SetNoticeHook(NoticeHook hook);

// Ours: while an object of this class lives, the calls of its thread finish what they start although the hook
// cancels: for the commands that tidy up after a cancelled or failed transfer, and for those that must not stop
// half-way. The hook is still called, so that events are served; what it throws reaches the caller once the call
// is done. After ten seconds a cancel ends a call again, so that a server that stopped answering holds up nobody
// long.
class FinishingScope {
public:
    FinishingScope();
    ~FinishingScope();
    FinishingScope(const FinishingScope&) = delete;
    FinishingScope& operator=(const FinishingScope&) = delete;

private:
    std::optional<std::chrono::steady_clock::time_point> m_Previous;
};

} // namespace inet
