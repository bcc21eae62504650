#pragma once

// Shared by the inet sources: the connection record, the request driver and the error mapping. Internal to inet.
#include "platform/inet/Inet.h"

#include <curl/curl.h>
// curl.h pulls in <windows.h> on Windows.
#include "platform/error/WindowsMacros.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace inet::detail {

using winapi::ERROR_SUCCESS;

// Short enough that the hook runs well within its 50 ms promise.
inline constexpr int kPollMilliseconds = 20;
inline constexpr auto kHookInterval = std::chrono::milliseconds(20);

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using EasyPtr = std::unique_ptr<CURL, EasyCleanup>;
using MultiPtr = std::unique_ptr<CURLM, MultiCleanup>;
using SlistPtr = std::unique_ptr<curl_slist, SlistCleanup>;
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

struct Reply {
    int code = 0;
    std::string text; // every line of the reply with its line breaks
};

// How the server checks a file's contents, as FEAT tells (asked once per connection).
struct ChecksumMethod {
    std::string command;   // "HASH", "XMD5", "XCRC"; empty when the server offers none
    std::string algorithm; // "SHA-256", "SHA-1", "MD5", "CRC32"
    bool select = false;   // "OPTS HASH <algorithm>" first: not the server's current choice
};

struct Connection {
    HINTERNET session = 0;
    // The multi handle keeps the control connection in its cache between calls; declared first so that it
    // is cleaned up last.
    MultiPtr multi;
    EasyPtr easy;
    std::string baseUrl; // "ftp://host:port"
    std::string user;
    std::string password;
    std::string caFile; // extra authorities for ftpes
    long timeoutSeconds = 60;
    bool tls = false;

    std::vector<Reply> replies; // complete replies received during the current request
    std::string partial;        // a multi-line reply still being received
    std::string partialCode;

    std::uint64_t offset = 0; // bytes of the file that earlier attempts moved (resumed transfers)
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    DWORD localError = ERROR_SUCCESS; // a local file failed inside a curl callback
    std::exception_ptr thrown;        // thrown inside a curl callback; rethrown once curl has returned
    bool busy = false;
    bool closing = false;   // closed by the hook while a call runs
    bool cancelled = false; // the hook said no
    zel::Throttle hookDue{kHookInterval};

    bool featuresKnown = false;
    ChecksumMethod checksum;

    // Uploads hold back the end of the file while the data socket still has bytes queued, because curl waits
    // for the final reply without running the loop.
    curl_socket_t lastSocket = CURL_SOCKET_BAD;
    bool uploading = false;
    bool uploadEnded = false;
    bool paused = false;
    std::uint64_t pausedQueue = 0;
    std::chrono::steady_clock::time_point pausedSince;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();
};

// Marks a connection busy for a whole call that makes several requests, so that the hook cannot start another.
class BusyScope {
public:
    explicit BusyScope(Connection& conn) : m_Conn(conn), m_Was(conn.busy) { conn.busy = true; }
    ~BusyScope() { m_Conn.busy = m_Was; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    Connection& m_Conn;
    bool m_Was;
};

// The local side of a transfer, for the read and write callbacks.
struct LocalFile {
    Connection* conn;
    std::FILE* file;
};
size_t Discard(char* data, size_t size, size_t count, void* user) noexcept;
size_t OnWrite(char* data, size_t size, size_t count, void* user) noexcept;
size_t OnRead(char* buffer, size_t size, size_t count, void* user) noexcept;

BOOL Fail(DWORD code);
BOOL Succeed();
// Anything that would end the command line early lets a caller smuggle in a second command.
bool SafeText(const char* text);
// A remote file name must name a file: curl would list a folder for an empty name or a trailing "/".
bool UsableRemoteFile(const char* remote);
std::string RemoteUrl(const Connection& conn, const char* remote);
// The connection for a call, or nullptr with the last-error code set.
std::shared_ptr<Connection> UseConnection(HINTERNET handle);

// Options that differ between requests are set every time, so that no request inherits another's.
void PrepareRequest(Connection& conn, const std::string& url, bool upload, bool noBody);
// Drives one request through the multi handle so that the hook runs while it blocks. What a callback threw is
// rethrown here, once curl has let go.
CURLcode Perform(Connection& conn);
// Calls the hook when it is due; false when the call must end (cancelled, or the handle closed meanwhile).
bool HookAllows(Connection& conn) noexcept;
// Sends one command over the control connection and returns the reply's code (0 when none came).
int SendCommand(Connection& conn, const std::string& command, CURLcode& result);
DWORD MapResult(const Connection& conn, CURLcode result);
void KeepLastReply(const Connection& conn);
void KeepReply(const Reply& reply);
// What a hook threw while a call ran, passed on once nothing of curl's is left on the stack.
void RethrowStashed(Connection& conn);
int LastReplyCode(const Connection& conn);
// Whether trying the request again may mend its failure: a lost, reset or stalled connection, or a passing refusal.
bool Retriable(const Connection& conn, CURLcode result);
// The waits before the retries, one per retry.
std::vector<std::chrono::milliseconds> RetryWaits();
// Tells the notice hook and waits, calling the progress hook all along; false when the call must end.
bool AnnounceAndWait(Connection& conn, const std::string& text, std::chrono::milliseconds wait);

} // namespace inet::detail
