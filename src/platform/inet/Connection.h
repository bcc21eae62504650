#pragma once

// The record of one FTP connection, which every inet source works on. Internal to inet.
#include "platform/inet/Inet.h"

#include <curl/curl.h>
// curl.h pulls in <windows.h> on Windows.
#include "platform/error/WindowsMacros.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace inet::detail {

using winapi::ERROR_SUCCESS;

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
    // curl's own words for a failure, where the TLS library tells no more (TlsSchannel.cpp).
    std::array<char, CURL_ERROR_SIZE> errorText{};

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
    zel::Throttle hookDue{zel::ProgressInterval};

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
    ~Connection(); // logs out (Session.cpp)
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

} // namespace inet::detail
