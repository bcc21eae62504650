#include "platform/inet/Inet.h"

#include "platform/files/Files.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace inet {

namespace {

using winapi::ERROR_ACCESS_DENIED;
using winapi::ERROR_DISK_FULL;
using winapi::ERROR_FILE_EXISTS;
using winapi::ERROR_FILE_NOT_FOUND;
using winapi::ERROR_INSUFFICIENT_BUFFER;
using winapi::ERROR_INVALID_HANDLE;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_NOT_ENOUGH_MEMORY;
using winapi::ERROR_PATH_NOT_FOUND;
using winapi::ERROR_SUCCESS;
using winapi::ERROR_WRITE_FAULT;
using winapi::FALSE;
using winapi::TRUE;
constexpr DWORD ERROR_READ_FAULT = 30;

// The platform's defaults: connect and log in, wait for a reply, a transfer that does not move.
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kResponseTimeoutSeconds = 60;
constexpr long kStalledTransferSeconds = 60;
// Short enough that the hook runs well within its 50 ms promise.
constexpr int kPollMilliseconds = 20;
constexpr auto kHookInterval = std::chrono::milliseconds(20);
// A close must not hang on a server that no longer answers QUIT.
constexpr long kQuitTimeoutSeconds = 1;

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

struct Session {
    std::string agent;
    std::vector<HINTERNET> children;
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

    std::vector<Reply> replies; // complete replies received during the current call
    std::string partial;        // a multi-line reply still being received
    std::string partialCode;

    std::uint64_t done = 0;
    std::uint64_t total = 0;
    DWORD localError = ERROR_SUCCESS; // a local file failed inside a curl callback
    bool busy = false;
    bool closing = false;   // closed by the hook while a call runs
    bool cancelled = false; // the hook said no
    std::chrono::steady_clock::time_point lastHook;

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
    ~Connection() {
        if (!multi || !easy || busy)
            return;
        // The multi handle hands its timeouts to the handle that sends QUIT on cleanup only when an easy handle
        // joins it; bound the wait for the QUIT reply that way.
        curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, kQuitTimeoutSeconds);
        if (curl_multi_add_handle(multi.get(), easy.get()) == CURLM_OK)
            curl_multi_remove_handle(multi.get(), easy.get());
    }
};

std::mutex g_mutex;
std::map<HINTERNET, std::shared_ptr<Session>> g_sessions;
std::map<HINTERNET, std::shared_ptr<Connection>> g_connections;
HINTERNET g_nextHandle = 0x100;
zel::ProgressHook g_hook;

// Like the platform, the last reply belongs to the thread.
thread_local Reply t_lastResponse;

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

BOOL Fail(DWORD code) {
    winapi::SetLastError(code);
    return FALSE;
}

BOOL Succeed() {
    winapi::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Anything that would end the command line early lets a caller smuggle in a second command.
bool SafeText(const char* text) {
    return text != nullptr && std::strpbrk(text, "\r\n") == nullptr;
}

bool IsReplyCode(std::string_view line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2]));
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* conn = static_cast<Connection*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    if (!conn->partialCode.empty()) {
        conn->partial.append(line);
        if (line.size() >= 4 && line.substr(0, 3) == conn->partialCode && line[3] == ' ') {
            conn->replies.push_back({std::stoi(conn->partialCode), std::move(conn->partial)});
            conn->partial.clear();
            conn->partialCode.clear();
        }
        return length;
    }
    // Lines that are not replies are curl's own header lines for file information.
    if (!IsReplyCode(line))
        return length;
    if (line.size() >= 4 && line[3] == '-') {
        conn->partialCode = std::string(line.substr(0, 3));
        conn->partial = std::string(line);
    } else if (line.size() == 3 || line[3] == ' ' || line[3] == '\r' || line[3] == '\n') {
        conn->replies.push_back({std::stoi(std::string(line.substr(0, 3))), std::string(line)});
    }
    return length;
}

zel::ProgressHook CurrentHook() {
    std::lock_guard lock(g_mutex);
    return g_hook;
}

// Bytes of an upload still in the socket's send queue (not yet acknowledged by the server).
std::uint64_t QueuedBytes(curl_socket_t socket) {
#ifdef __linux__
    int queued = 0;
    if (socket != CURL_SOCKET_BAD && ::ioctl(socket, SIOCOUTQ, &queued) == 0 && queued > 0)
        return static_cast<std::uint64_t>(queued);
#else
    (void)socket;
#endif
    return 0;
}

// Calls the hook when it is due; false when the call must end (cancelled, or the handle closed meanwhile).
bool HookAllows(Connection& conn) {
    if (conn.closing || conn.cancelled)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - conn.lastHook < kHookInterval)
        return true;
    conn.lastHook = now;
    if (zel::ProgressHook hook = CurrentHook(); hook && !hook(conn.done, conn.total))
        conn.cancelled = true;
    return !conn.closing && !conn.cancelled;
}

int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    auto* conn = static_cast<Connection*>(user);
    auto done = static_cast<std::uint64_t>(std::max(dlnow, ulnow));
    if (conn->uploading && !conn->uploadEnded) {
        // What the server has acknowledged, not what sits in our buffers.
        const std::uint64_t queued = QueuedBytes(conn->lastSocket);
        done = done > queued ? done - queued : 0;
    }
    conn->done = std::max(conn->done, done);
    const auto total = static_cast<std::uint64_t>(std::max(dltotal, ultotal));
    if (total > 0)
        conn->total = total;
    // Curl also calls this, once a second, while it blocks waiting for a reply.
    if (HookAllows(*conn))
        return 0;
    // The reply to the abandoned transfer may still come: that connection must not carry another command.
    curl_easy_setopt(conn->easy.get(), CURLOPT_FORBID_REUSE, 1L);
    return 1;
}

int OnSocket(void* user, curl_socket_t socket, curlsocktype) {
    static_cast<Connection*>(user)->lastSocket = socket;
    return CURL_SOCKOPT_OK;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

DWORD FileErrorFromErrno(int error, DWORD fallback) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return ERROR_DISK_FULL;
    default:
        return fallback;
    }
}

struct LocalFile {
    Connection* conn;
    std::FILE* file;
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* local = static_cast<LocalFile*>(user);
    const size_t written = std::fwrite(data, size, count, local->file);
    if (written != count)
        local->conn->localError = FileErrorFromErrno(errno, ERROR_WRITE_FAULT);
    return written * size;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* local = static_cast<LocalFile*>(user);
    Connection* conn = local->conn;
    const size_t got = std::fread(buffer, 1, size * count, local->file);
    if (got > 0)
        return got;
    if (std::ferror(local->file)) {
        conn->localError = FileErrorFromErrno(errno, ERROR_READ_FAULT);
        return CURL_READFUNC_ABORT;
    }
    if (const std::uint64_t queued = QueuedBytes(conn->lastSocket); queued > 0) {
        conn->paused = true;
        conn->pausedQueue = queued;
        conn->pausedSince = std::chrono::steady_clock::now();
        return CURL_READFUNC_PAUSE;
    }
    // Curl closes the data socket now; its number may soon belong to another socket.
    conn->uploadEnded = true;
    return 0;
}

// The whole remote path as one escaped URL segment: with the no-CWD method curl sends it verbatim.
std::string RemoteUrl(const Connection& conn, const char* remote) {
    std::string url = conn.baseUrl + "/";
    if (char* escaped = curl_easy_escape(conn.easy.get(), remote, 0)) {
        url += escaped;
        curl_free(escaped);
    }
    return url;
}

// A remote file name must name a file: curl would list a folder for an empty name or a trailing "/".
bool UsableRemoteFile(const char* remote) {
    if (!SafeText(remote))
        return false;
    const size_t length = std::strlen(remote);
    return length > 0 && remote[length - 1] != '/';
}

// While an upload waits for its queue to drain: true to go on, false once the server has stopped taking data
// for as long as a stalled transfer may last.
bool ResumeWhenDrained(Connection& conn) {
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t queued = QueuedBytes(conn.lastSocket);
    if (queued == 0) {
        conn.paused = false;
        curl_easy_pause(conn.easy.get(), CURLPAUSE_CONT);
    } else if (queued < conn.pausedQueue) {
        conn.pausedQueue = queued;
        conn.pausedSince = now;
    } else if (now - conn.pausedSince >= std::chrono::seconds(kStalledTransferSeconds)) {
        return false;
    }
    return true;
}

// Drives one request through the multi handle so that the hook runs while it blocks.
CURLcode Perform(Connection& conn) {
    conn.replies.clear();
    conn.partial.clear();
    conn.partialCode.clear();
    conn.done = 0;
    conn.localError = ERROR_SUCCESS;
    conn.cancelled = false;
    conn.lastHook = std::chrono::steady_clock::now() - kHookInterval;
    conn.lastSocket = CURL_SOCKET_BAD;
    conn.uploadEnded = false;
    conn.paused = false;
    conn.busy = true;
    curl_easy_setopt(conn.easy.get(), CURLOPT_FORBID_REUSE, 0L);
    if (curl_multi_add_handle(conn.multi.get(), conn.easy.get()) != CURLM_OK) {
        conn.busy = false;
        return CURLE_OUT_OF_MEMORY;
    }
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(conn.multi.get(), &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        bool finished = false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(conn.multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == conn.easy.get()) {
                result = message->data.result;
                finished = true;
            }
        }
        if (finished)
            break;
        if (!HookAllows(conn)) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (conn.paused && !ResumeWhenDrained(conn)) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        curl_multi_poll(conn.multi.get(), nullptr, 0, kPollMilliseconds, nullptr);
    }
    // Removing an unfinished transfer closes its connection without waiting for the server; the next call
    // logs in again.
    curl_multi_remove_handle(conn.multi.get(), conn.easy.get());
    conn.busy = false;
    conn.uploading = false;
    return result;
}

DWORD MapResult(const Connection& conn, CURLcode result) {
    if (conn.localError != ERROR_SUCCESS)
        return conn.localError;
    if (result == CURLE_ABORTED_BY_CALLBACK)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    // The server's refusal says more than curl's reading of it (curl reports a 421 as a timeout).
    if (!conn.replies.empty() && conn.replies.back().code >= 400)
        return ERROR_INTERNET_EXTENDED_ERROR;
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        break;
    }
    if (result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR)
        return ERROR_INTERNET_CONNECTION_RESET;
    return ERROR_INTERNET_CONNECTION_ABORTED;
}

void KeepLastReply(const Connection& conn) {
    if (!conn.replies.empty())
        t_lastResponse = conn.replies.back();
}

// Ends a call: the last reply is kept and the result becomes the thread's last-error code.
BOOL Finish(const Connection& conn, CURLcode result) {
    KeepLastReply(conn);
    return result == CURLE_OK ? Succeed() : Fail(MapResult(conn, result));
}

// Options that differ between calls are set every time, so no call inherits another's.
void PrepareRequest(Connection& conn, const std::string& url, bool upload, bool noBody) {
    CURL* easy = conn.easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_UPLOAD, upload ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_NOBODY, noBody ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
    conn.total = 0;
}

// Sends one command over the control connection and returns the reply's code (0 when none came). The "*"
// keeps curl from closing the connection on an error reply; the caller judges the code.
int SendCommand(Connection& conn, const std::string& command, CURLcode& result) {
    SlistPtr list(curl_slist_append(nullptr, ("*" + command).c_str()));
    if (!list) {
        result = CURLE_OUT_OF_MEMORY;
        return 0;
    }
    PrepareRequest(conn, conn.baseUrl + "/", false, true);
    curl_easy_setopt(conn.easy.get(), CURLOPT_QUOTE, list.get());
    result = Perform(conn);
    curl_easy_setopt(conn.easy.get(), CURLOPT_QUOTE, nullptr);
    return conn.replies.empty() ? 0 : conn.replies.back().code;
}

// A command that succeeds with a 2xx reply.
BOOL RunCommand(Connection& conn, const std::string& command) {
    CURLcode result = CURLE_OK;
    const int code = SendCommand(conn, command, result);
    KeepLastReply(conn);
    if (result != CURLE_OK)
        return Fail(MapResult(conn, result));
    if (code < 200 || code >= 300)
        return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    return Succeed();
}

std::shared_ptr<Connection> FindConnection(HINTERNET handle) {
    std::lock_guard lock(g_mutex);
    auto found = g_connections.find(handle);
    return found == g_connections.end() ? nullptr : found->second;
}

// The connection for a call, or nullptr with the last-error code set.
std::shared_ptr<Connection> UseConnection(HINTERNET handle) {
    auto conn = FindConnection(handle);
    if (!conn) {
        bool isSession = false;
        {
            std::lock_guard lock(g_mutex);
            isSession = g_sessions.count(handle) != 0;
        }
        Fail(isSession ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (conn->busy) {
        // A hook that pumps events must not start a second request on the same connection.
        Fail(ERROR_FTP_TRANSFER_IN_PROGRESS);
        return nullptr;
    }
    return conn;
}

// "host", "host:port", "[v6]" or "[v6]:port"; false for anything that could bend the URL.
bool ParseServer(const std::string& server, std::uint16_t defaultPort, std::string& host, std::uint16_t& port) {
    port = defaultPort == 0 ? INTERNET_DEFAULT_FTP_PORT : defaultPort;
    std::string portText;
    if (!server.empty() && server.front() == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos)
            return false;
        host = server.substr(0, close + 1);
        if (host.find_first_not_of("[]0123456789abcdefABCDEF:.") != std::string::npos)
            return false;
        if (close + 1 < server.size()) {
            if (server[close + 1] != ':')
                return false;
            portText = server.substr(close + 2);
        }
    } else if (std::count(server.begin(), server.end(), ':') > 1) {
        host = "[" + server + "]";
        if (server.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return false;
    } else {
        const size_t colon = server.find(':');
        host = server.substr(0, colon);
        if (colon != std::string::npos)
            portText = server.substr(colon + 1);
        for (unsigned char c : host) {
            if (!(std::isalnum(c) || c == '-' || c == '.' || c == '_' || c >= 0x80))
                return false;
        }
    }
    if (host.empty() || host == "[]")
        return false;
    if (!portText.empty() || server.back() == ':') {
        if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const int value = std::stoi(portText);
        if (value < 1 || value > 65535)
            return false;
        port = static_cast<std::uint16_t>(value);
    }
    return true;
}

// A free name next to the target for the file being downloaded.
FilePtr CreateTemporaryNextTo(const std::string& target, std::string& name) {
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".zel~%012llx", static_cast<unsigned long long>(random() >> 16));
        name = target + suffix;
        errno = 0;
        if (std::FILE* file = std::fopen(name.c_str(), "wbx"))
            return FilePtr(file);
        if (errno != EEXIST)
            break;
    }
    name.clear();
    return nullptr;
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return ::fsync(fileno(file)) == 0;
#endif
}

} // namespace

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass, DWORD flags) {
    // Direct, synchronous sessions only: that is all this system asks for.
    (void)proxy;
    (void)proxyBypass;
    if (accessType != INTERNET_OPEN_TYPE_DIRECT || flags != 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    EnsureCurl();
    auto session = std::make_shared<Session>();
    session->agent = agent ? agent : "";
    std::lock_guard lock(g_mutex);
    const HINTERNET handle = g_nextHandle++;
    g_sessions.emplace(handle, std::move(session));
    winapi::SetLastError(ERROR_SUCCESS);
    return handle;
}

HINTERNET InternetConnectA(HINTERNET session, const char* server, std::uint16_t port, const char* user,
                           const char* password, DWORD service, DWORD flags, std::uintptr_t context) {
    (void)context;
    {
        std::lock_guard lock(g_mutex);
        if (g_sessions.count(session) == 0) {
            Fail(g_connections.count(session) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
            return 0;
        }
    }
    if (service != INTERNET_SERVICE_FTP || !server || (user && !SafeText(user)) || (password && !SafeText(password))) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string host;
    std::uint16_t hostPort = 0;
    if (!ParseServer(server, port, host, hostPort)) {
        Fail(*server == '\0' ? ERROR_INVALID_PARAMETER : ERROR_INTERNET_NAME_NOT_RESOLVED);
        return 0;
    }

    auto conn = std::make_shared<Connection>();
    conn->session = session;
    conn->multi.reset(curl_multi_init());
    conn->easy.reset(curl_easy_init());
    if (!conn->multi || !conn->easy) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    conn->baseUrl = "ftp://" + host + ":" + std::to_string(hostPort);
    conn->user = user ? user : "anonymous";
    conn->password = password ? password : "";

    CURL* easy = conn->easy.get();
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERNAME, conn->user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, conn->password.c_str());
    curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStalledTransferSeconds);
    // Otherwise an idle control connection is quietly replaced (and logged in again) after two minutes.
    curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, 365L * 24 * 3600);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 128L * 1024);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, conn.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, conn.get());
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &OnSocket);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, conn.get());
    // The protocol dialogue on stderr, for support staff chasing a server's behaviour.
    static const bool verbose = std::getenv("ZEL_INET_VERBOSE") != nullptr;
    if (verbose)
        curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    if ((flags & INTERNET_FLAG_PASSIVE) == 0)
        curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");

    // Logging in without a transfer: no body for the root URL.
    PrepareRequest(*conn, conn->baseUrl + "/", false, true);
    if (!Finish(*conn, Perform(*conn)))
        return 0;

    std::lock_guard lock(g_mutex);
    auto parent = g_sessions.find(session);
    if (parent == g_sessions.end()) {
        // The session was closed by the hook meanwhile.
        Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        return 0;
    }
    const HINTERNET handle = g_nextHandle++;
    parent->second->children.push_back(handle);
    g_connections.emplace(handle, std::move(conn));
    return handle;
}

BOOL FtpGetFileA(HINTERNET connection, const char* remoteFile, const char* newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, std::uintptr_t context) {
    (void)flagsAndAttributes; // every download is flushed to disk before it replaces the target
    (void)context;
    if (!UsableRemoteFile(remoteFile) || !newFile || *newFile == '\0')
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    const std::string target = files::NativePath(newFile);
    std::error_code ec;
    if (failIfExists && std::filesystem::exists(target, ec))
        return Fail(ERROR_FILE_EXISTS);

    // The previous file stays as it was until the new one is complete.
    std::string temporary;
    FilePtr file = CreateTemporaryNextTo(target, temporary);
    if (!file)
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : FileErrorFromErrno(errno, ERROR_ACCESS_DENIED));

    LocalFile local{conn.get(), file.get()};
    PrepareRequest(*conn, RemoteUrl(*conn, remoteFile), false, false);
    curl_easy_setopt(conn->easy.get(), CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(conn->easy.get(), CURLOPT_WRITEDATA, &local);
    curl_easy_setopt(conn->easy.get(), CURLOPT_TRANSFERTEXT, (flags & 3) == FTP_TRANSFER_TYPE_ASCII ? 1L : 0L);
    const CURLcode result = Perform(*conn);
    curl_easy_setopt(conn->easy.get(), CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(conn->easy.get(), CURLOPT_WRITEDATA, nullptr);

    DWORD error = ERROR_SUCCESS;
    if (result != CURLE_OK) {
        KeepLastReply(*conn);
        error = MapResult(*conn, result);
    } else {
        KeepLastReply(*conn);
        if (!FlushToDisk(file.get()))
            error = FileErrorFromErrno(errno, ERROR_WRITE_FAULT);
    }
    if (std::fclose(file.release()) != 0 && error == ERROR_SUCCESS)
        error = FileErrorFromErrno(errno, ERROR_WRITE_FAULT);
    if (error == ERROR_SUCCESS) {
        std::filesystem::rename(temporary, target, ec);
        if (ec)
            error = FileErrorFromErrno(ec.value(), ERROR_ACCESS_DENIED);
    }
    if (error != ERROR_SUCCESS) {
        std::filesystem::remove(temporary, ec);
        return Fail(error);
    }
    return Succeed();
}

BOOL FtpPutFileA(HINTERNET connection, const char* localFile, const char* newRemoteFile, DWORD flags,
                 std::uintptr_t context) {
    (void)context;
    if (!UsableRemoteFile(newRemoteFile) || !localFile || *localFile == '\0')
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    const std::string source = files::NativePath(localFile);
    std::error_code ec;
    if (std::filesystem::is_directory(source, ec))
        return Fail(ERROR_ACCESS_DENIED);
    errno = 0;
    FilePtr file(std::fopen(source.c_str(), "rb"));
    if (!file)
        return Fail(FileErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    const auto size = std::filesystem::file_size(source, ec);
    if (ec)
        return Fail(ERROR_ACCESS_DENIED);

    LocalFile local{conn.get(), file.get()};
    PrepareRequest(*conn, RemoteUrl(*conn, newRemoteFile), true, false);
    curl_easy_setopt(conn->easy.get(), CURLOPT_READFUNCTION, &OnRead);
    curl_easy_setopt(conn->easy.get(), CURLOPT_READDATA, &local);
    curl_easy_setopt(conn->easy.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(conn->easy.get(), CURLOPT_TRANSFERTEXT, (flags & 3) == FTP_TRANSFER_TYPE_ASCII ? 1L : 0L);
    conn->total = size;
    conn->uploading = true;
    const CURLcode result = Perform(*conn);
    curl_easy_setopt(conn->easy.get(), CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(conn->easy.get(), CURLOPT_READDATA, nullptr);
    return Finish(*conn, result);
}

BOOL FtpRenameFileA(HINTERNET connection, const char* existing, const char* newName) {
    if (!SafeText(existing) || !SafeText(newName))
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    // Two requests, so that a refused RNFR is the reply kept, not the RNTO that would follow it.
    CURLcode result = CURLE_OK;
    const int code = SendCommand(*conn, std::string("RNFR ") + existing, result);
    KeepLastReply(*conn);
    if (result != CURLE_OK)
        return Fail(MapResult(*conn, result));
    if (code != 350)
        return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    return RunCommand(*conn, std::string("RNTO ") + newName);
}

BOOL FtpDeleteFileA(HINTERNET connection, const char* fileName) {
    if (!SafeText(fileName))
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    return RunCommand(*conn, std::string("DELE ") + fileName);
}

BOOL FtpSetCurrentDirectoryA(HINTERNET connection, const char* directory) {
    if (!SafeText(directory))
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    // Empty text asks for the server's default, which is its root.
    return RunCommand(*conn, *directory ? std::string("CWD ") + directory : std::string("CWD"));
}

BOOL FtpGetRemoteFileSize(HINTERNET connection, const char* remoteFile, std::uint64_t* size) {
    if (!UsableRemoteFile(remoteFile) || !size)
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    // Without a body curl asks for the size in binary mode (and keeps its own idea of the mode right).
    PrepareRequest(*conn, RemoteUrl(*conn, remoteFile), false, true);
    const CURLcode result = Perform(*conn);
    KeepLastReply(*conn);
    if (result != CURLE_OK)
        return Fail(MapResult(*conn, result));
    curl_off_t length = -1;
    const bool answered =
        std::any_of(conn->replies.begin(), conn->replies.end(), [](const Reply& reply) { return reply.code == 213; });
    if (!answered || curl_easy_getinfo(conn->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        auto refusal = std::find_if(conn->replies.rbegin(), conn->replies.rend(),
                                    [](const Reply& reply) { return reply.code >= 400; });
        if (refusal != conn->replies.rend())
            t_lastResponse = *refusal;
        return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    }
    *size = static_cast<std::uint64_t>(length);
    return Succeed();
}

BOOL InternetGetLastResponseInfoA(DWORD* error, char* buffer, DWORD* length) {
    if (!length)
        return Fail(ERROR_INVALID_PARAMETER);
    if (error)
        *error = static_cast<DWORD>(t_lastResponse.code);
    const std::string& text = t_lastResponse.text;
    // A buffer of exactly the reported length is enough: the caller's own NULs end the text.
    if (!buffer || *length < text.size()) {
        *length = static_cast<DWORD>(text.size());
        return text.empty() ? Succeed() : Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.data(), text.size());
    if (*length > text.size())
        buffer[text.size()] = '\0';
    *length = static_cast<DWORD>(text.size());
    return Succeed();
}

BOOL InternetCloseHandle(HINTERNET handle) {
    std::vector<std::shared_ptr<Connection>> closed;
    {
        std::lock_guard lock(g_mutex);
        std::vector<HINTERNET> handles;
        if (auto session = g_sessions.find(handle); session != g_sessions.end()) {
            // Closing a session closes its connections, as the platform does.
            handles = session->second->children;
            g_sessions.erase(session);
        } else if (g_connections.count(handle)) {
            handles.push_back(handle);
        } else {
            return Fail(ERROR_INVALID_HANDLE);
        }
        for (HINTERNET child : handles) {
            auto found = g_connections.find(child);
            if (found == g_connections.end())
                continue;
            auto parent = g_sessions.find(found->second->session);
            if (parent != g_sessions.end())
                std::erase(parent->second->children, child);
            // A call running on it (the hook closed it) ends as cancelled and releases it.
            found->second->closing = true;
            closed.push_back(std::move(found->second));
            g_connections.erase(found);
        }
    }
    // Released outside the lock: logging out may wait for the server.
    closed.clear();
    return Succeed();
}

void SetProgressHook(zel::ProgressHook hook) {
    std::lock_guard lock(g_mutex);
    g_hook = std::move(hook);
}

} // namespace inet
