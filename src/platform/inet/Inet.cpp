#include "platform/inet/Inet.h"

#include "platform/files/Files.h"
#include "platform/inet/InetShared.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace inet {

namespace {

using namespace detail;
using winapi::ERROR_ACCESS_DENIED;
using winapi::ERROR_DISK_FULL;
using winapi::ERROR_FILE_NOT_FOUND;
using winapi::ERROR_INSUFFICIENT_BUFFER;
using winapi::ERROR_INVALID_HANDLE;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_NOT_ENOUGH_MEMORY;
using winapi::ERROR_PATH_NOT_FOUND;
using winapi::ERROR_WRITE_FAULT;
using winapi::FALSE;
using winapi::TRUE;
constexpr DWORD ERROR_READ_FAULT = 30;

// The platform's default for connecting, waiting for a reply and a transfer that does not move.
constexpr long kDefaultTimeoutSeconds = 60;
// A close must not hang on a server that no longer answers QUIT.
constexpr long kQuitTimeoutSeconds = 1;

struct Session {
    std::string agent;
    std::vector<HINTERNET> children;
};

std::mutex g_mutex;
std::map<HINTERNET, std::shared_ptr<Session>> g_sessions;
std::map<HINTERNET, std::shared_ptr<Connection>> g_connections;
HINTERNET g_nextHandle = 0x100;
zel::ProgressHook g_hook;
NoticeHook g_notice;

// Like the platform, the last reply belongs to the thread.
thread_local Reply t_lastResponse;
// Until when the thread's calls finish what they start although the hook cancels (FinishingScope).
thread_local std::optional<std::chrono::steady_clock::time_point> t_finishUntil;

bool Finishing() {
    return t_finishUntil && std::chrono::steady_clock::now() < *t_finishUntil;
}

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsReplyCode(std::string_view line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2]));
}

int ReplyCode(std::string_view line) {
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

void CollectReply(Connection& conn, std::string_view line) {
    if (!conn.partialCode.empty()) {
        conn.partial.append(line);
        if (line.size() >= 4 && line.substr(0, 3) == conn.partialCode && line[3] == ' ') {
            conn.replies.push_back({ReplyCode(conn.partialCode), std::move(conn.partial)});
            conn.partial.clear();
            conn.partialCode.clear();
        }
        return;
    }
    // Lines that are not replies are curl's own header lines for file information.
    if (!IsReplyCode(line))
        return;
    if (line.size() >= 4 && line[3] == '-') {
        conn.partialCode = std::string(line.substr(0, 3));
        conn.partial = std::string(line);
    } else if (line.size() == 3 || line[3] == ' ' || line[3] == '\r' || line[3] == '\n') {
        conn.replies.push_back({ReplyCode(line), std::string(line)});
    }
}

// A listing's text as it arrives.
struct ListingText {
    Connection* conn;
    std::string text;
};

// Stashes what a callback threw, so that it reaches the caller once curl has returned.
void Stash(Connection& conn) noexcept {
    if (!conn.thrown)
        conn.thrown = std::current_exception();
    conn.cancelled = true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) noexcept {
    auto* conn = static_cast<Connection*>(user);
    try {
        CollectReply(*conn, std::string_view(data, size * count));
    } catch (...) {
        Stash(*conn);
        return 0; // ends the request
    }
    return size * count;
}

size_t OnListing(char* data, size_t size, size_t count, void* user) noexcept {
    auto* listing = static_cast<ListingText*>(user);
    try {
        listing->text.append(data, size * count);
    } catch (...) {
        listing->conn->localError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    return size * count;
}

zel::ProgressHook CurrentHook() {
    std::lock_guard lock(g_mutex);
    return g_hook;
}

NoticeHook CurrentNoticeHook() {
    std::lock_guard lock(g_mutex);
    return g_notice;
}

// Bytes of an upload still in the socket's send queue (not yet acknowledged by the server).
std::uint64_t QueuedBytes(curl_socket_t socket) {
#ifdef __linux__
    int queued = 0;
    if (socket != CURL_SOCKET_BAD && ::ioctl(socket, SIOCOUTQ, &queued) == 0 && queued > 0)
        return static_cast<std::uint64_t>(queued);
#else
    // No system here tells what is still queued: the send buffer is kept small instead (OnSocket), so
    // progress runs ahead by at most that much and the wait for the final reply stays short.
    (void)socket;
#endif
    return 0;
}

int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) noexcept {
    auto* conn = static_cast<Connection*>(user);
    auto done = static_cast<std::uint64_t>(std::max(dlnow, ulnow));
    if (conn->uploading && !conn->uploadEnded) {
        // What the server has acknowledged, not what sits in our buffers.
        const std::uint64_t queued = QueuedBytes(conn->lastSocket);
        done = done > queued ? done - queued : 0;
    }
    conn->done = std::max(conn->done, conn->offset + done);
    // Of a resumed transfer curl counts what is left.
    const auto rest = static_cast<std::uint64_t>(std::max(dltotal, ultotal));
    if (rest > 0)
        conn->total = conn->offset + rest;
    // Curl also calls this, once a second, while it blocks waiting for a reply.
    if (HookAllows(*conn))
        return 0;
    // The reply to the abandoned transfer may still come: that connection must not carry another command.
    curl_easy_setopt(conn->easy.get(), CURLOPT_FORBID_REUSE, 1L);
    return 1;
}

int OnSocket(void* user, curl_socket_t socket, curlsocktype) noexcept {
    static_cast<Connection*>(user)->lastSocket = socket;
#ifndef __linux__
    const int buffer = 256 * 1024;
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
#endif
    return CURL_SOCKOPT_OK;
}

// The dialogue for support staff, with the password masked; the file data and TLS records are left out.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void*) noexcept {
    const char* prefix = type == CURLINFO_TEXT         ? "* "
                         : type == CURLINFO_HEADER_IN  ? "< "
                         : type == CURLINFO_HEADER_OUT ? "> "
                                                       : nullptr;
    if (!prefix)
        return 0;
    std::string_view text(data, size);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool password = type == CURLINFO_HEADER_OUT && line.size() >= 4 &&
                              std::toupper(static_cast<unsigned char>(line[0])) == 'P' &&
                              std::toupper(static_cast<unsigned char>(line[1])) == 'A' &&
                              std::toupper(static_cast<unsigned char>(line[2])) == 'S' &&
                              std::toupper(static_cast<unsigned char>(line[3])) == 'S';
        if (password)
            std::fprintf(stderr, "%sPASS ****\n", prefix);
        else
            std::fprintf(stderr, "%s%.*s\n", prefix, static_cast<int>(line.size()), line.data());
    }
    return 0;
}

// Adds the extra authorities to those curl loaded from the system's store.
CURLcode OnSslContext(CURL*, void* context, void* user) noexcept {
    const auto* conn = static_cast<const Connection*>(user);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context));
    if (store && X509_STORE_load_file(store, conn->caFile.c_str()) == 1)
        return CURLE_OK;
    ERR_clear_error();
    return CURLE_SSL_CACERT_BADFILE;
}

// What the certificate check found wrong.
DWORD CertificateError(const Connection& conn) {
    long verify = X509_V_OK;
    curl_easy_getinfo(conn.easy.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
    switch (verify) {
    // Curl checks the host name before it records the chain's result, which then still reads "unspecified".
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return ERROR_INTERNET_SEC_INVALID_CERT;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return ERROR_INTERNET_INVALID_CA;
    default:
        return ERROR_INTERNET_SEC_CERT_ERRORS;
    }
}

// Which step of securing the connection the server refused. Curl sends AUTH TLS (and AUTH SSL), logs in, then sends
// PBSZ 0 and PROT P, and gives up at the refusal of AUTH or of PROT only: a PBSZ refused shows in the reply before.
DWORD TlsRefusal(const Connection& conn) {
    const auto& replies = conn.replies;
    if (std::none_of(replies.begin(), replies.end(), [](const Reply& reply) { return reply.code == 234; }))
        return ERROR_INTERNET_TLS_NOT_OFFERED;
    if (replies.size() >= 2 && replies[replies.size() - 2].code >= 400)
        return ERROR_INTERNET_PBSZ_REFUSED;
    return ERROR_INTERNET_PROT_REFUSED;
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
    } else if (now - conn.pausedSince >= std::chrono::seconds(conn.timeoutSeconds)) {
        return false;
    }
    return true;
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

// "host", "host:port", "[v6]" or "[v6]:port", each optionally after "ftpes://"; false for anything that could
// bend the URL.
bool ParseServer(std::string server, std::uint16_t defaultPort, std::string& host, std::uint16_t& port, bool& tls) {
    constexpr std::string_view scheme = "ftpes://";
    tls = server.size() > scheme.size() && std::equal(scheme.begin(), scheme.end(), server.begin(), [](char a, char b) {
              return a == std::tolower(static_cast<unsigned char>(b));
          });
    if (tls)
        server.erase(0, scheme.size());
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

long TimeoutSeconds() {
    const std::string text = files::Environ("ZEL_FTP_TIMEOUT");
    char* end = nullptr;
    const long value = text.empty() ? 0 : std::strtol(text.c_str(), &end, 10);
    return value > 0 && end && *end == '\0' ? value : kDefaultTimeoutSeconds;
}

// A login that failed because the server was briefly unavailable or the line dropped; not one that was refused,
// nor a server that is not there.
bool LoginRetriable(const Connection& conn, CURLcode result) {
    const int code = LastReplyCode(conn);
    if (code == 421 || code == 450 || code == 451)
        return !conn.cancelled;
    if (code >= 400 || conn.cancelled)
        return false;
    return result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING;
}

} // namespace

namespace detail {

Connection::~Connection() {
    if (!multi || !easy || busy)
        return;
    // The multi handle hands its timeouts to the handle that sends QUIT on cleanup only when an easy handle
    // joins it; bound the wait for the QUIT reply that way.
    curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, kQuitTimeoutSeconds);
    if (curl_multi_add_handle(multi.get(), easy.get()) == CURLM_OK)
        curl_multi_remove_handle(multi.get(), easy.get());
}

BOOL Fail(DWORD code) {
    winapi::SetLastError(code);
    return FALSE;
}

BOOL Succeed() {
    winapi::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

bool SafeText(const char* text) {
    return text != nullptr && std::strpbrk(text, "\r\n") == nullptr;
}

bool UsableRemoteFile(const char* remote) {
    if (!SafeText(remote))
        return false;
    const size_t length = std::strlen(remote);
    return length > 0 && remote[length - 1] != '/';
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

size_t Discard(char*, size_t size, size_t count, void*) noexcept {
    return size * count;
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) noexcept {
    auto* local = static_cast<LocalFile*>(user);
    const size_t written = std::fwrite(data, size, count, local->file);
    if (written != count)
        local->conn->localError = files::SystemCode(errno, ERROR_WRITE_FAULT);
    return written * size;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) noexcept {
    auto* local = static_cast<LocalFile*>(user);
    Connection* conn = local->conn;
    const size_t got = std::fread(buffer, 1, size * count, local->file);
    if (got > 0)
        return got;
    if (std::ferror(local->file)) {
        conn->localError = files::SystemCode(errno, ERROR_READ_FAULT);
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

void PrepareRequest(Connection& conn, const std::string& url, bool upload, bool noBody) {
    CURL* easy = conn.easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_UPLOAD, upload ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_NOBODY, noBody ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(easy, CURLOPT_PREQUOTE, nullptr);
    curl_easy_setopt(easy, CURLOPT_APPEND, 0L);
    curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 0L);
    conn.offset = 0;
    conn.total = 0;
    conn.uploading = false;
}

bool HookAllows(Connection& conn) noexcept {
    const bool finishing = Finishing();
    if (conn.closing || (conn.cancelled && !finishing))
        return false;
    // Once the hook has thrown it is not called again in this call.
    if (!conn.hookDue.Due() || conn.thrown)
        return true;
    try {
        if (zel::ProgressHook hook = CurrentHook(); hook && !hook(conn.done, conn.total))
            conn.cancelled = true;
    } catch (...) {
        Stash(conn);
    }
    return !conn.closing && (!conn.cancelled || finishing);
}

CURLcode Perform(Connection& conn) {
    conn.replies.clear();
    conn.partial.clear();
    conn.partialCode.clear();
    conn.done = conn.offset;
    conn.localError = ERROR_SUCCESS;
    conn.cancelled = false;
    conn.hookDue.Reset();
    conn.lastSocket = CURL_SOCKET_BAD;
    conn.uploadEnded = false;
    conn.paused = false;
    BusyScope busy(conn);
    curl_easy_setopt(conn.easy.get(), CURLOPT_FORBID_REUSE, 0L);
    if (curl_multi_add_handle(conn.multi.get(), conn.easy.get()) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
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
    // Removing an unfinished transfer closes its connection without waiting for the server; the next request
    // logs in again.
    curl_multi_remove_handle(conn.multi.get(), conn.easy.get());
    conn.uploading = false;
    RethrowStashed(conn);
    return result;
}

int SendCommand(Connection& conn, const std::string& command, CURLcode& result) {
    // The "*" keeps curl from closing the connection on an error reply; the caller judges the code.
    SlistPtr list(curl_slist_append(nullptr, ("*" + command).c_str()));
    if (!list) {
        result = CURLE_OUT_OF_MEMORY;
        return 0;
    }
    PrepareRequest(conn, conn.baseUrl + "/", false, true);
    curl_easy_setopt(conn.easy.get(), CURLOPT_QUOTE, list.get());
    try {
        result = Perform(conn);
    } catch (...) {
        curl_easy_setopt(conn.easy.get(), CURLOPT_QUOTE, nullptr);
        throw;
    }
    curl_easy_setopt(conn.easy.get(), CURLOPT_QUOTE, nullptr);
    return LastReplyCode(conn);
}

DWORD MapResult(const Connection& conn, CURLcode result) {
    if (conn.localError != ERROR_SUCCESS)
        return conn.localError;
    switch (result) {
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_USE_SSL_FAILED:
        return TlsRefusal(conn);
    case CURLE_PEER_FAILED_VERIFICATION:
        return CertificateError(conn);
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_CA_FILE_UNREADABLE;
    case CURLE_SSL_CONNECT_ERROR:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default:
        break;
    }
    // The server's refusal says more than curl's reading of it (curl reports a 421 as a timeout).
    if (LastReplyCode(conn) >= 400)
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
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return ERROR_INTERNET_CONNECTION_RESET;
    default:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

void KeepLastReply(const Connection& conn) {
    if (!conn.replies.empty())
        t_lastResponse = conn.replies.back();
}

void KeepReply(const Reply& reply) {
    t_lastResponse = reply;
}

void RethrowStashed(Connection& conn) {
    if (conn.thrown)
        std::rethrow_exception(std::exchange(conn.thrown, nullptr));
}

int LastReplyCode(const Connection& conn) {
    return conn.replies.empty() ? 0 : conn.replies.back().code;
}

bool Retriable(const Connection& conn, CURLcode result) {
    if (result == CURLE_OK || result == CURLE_ABORTED_BY_CALLBACK || conn.cancelled || conn.closing ||
        conn.localError != ERROR_SUCCESS)
        return false;
    const int code = LastReplyCode(conn);
    if (code == 421 || code == 425 || code == 426 || code == 450 || code == 451)
        return true;
    // Any other refusal (login refused, no permission, no such file, no room) stays what it is.
    if (code >= 400)
        return false;
    switch (result) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
        return true;
    default:
        return false;
    }
}

std::vector<std::chrono::milliseconds> RetryWaits() {
    using std::chrono::milliseconds;
    const std::vector<milliseconds> standard{milliseconds(1000), milliseconds(3000), milliseconds(9000)};
    const char* text = std::getenv("ZEL_FTP_RETRY_WAITS");
    if (!text)
        return standard;
    std::vector<milliseconds> waits;
    std::string_view rest(text);
    while (rest.find_first_not_of(" \t") != std::string_view::npos) {
        const size_t comma = rest.find(',');
        const std::string entry(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        char* end = nullptr;
        const double seconds = std::strtod(entry.c_str(), &end);
        // A setting that cannot be read is not taken for "no retries".
        if (end == entry.c_str() || entry.find_first_not_of(" \t", end - entry.c_str()) != std::string::npos ||
            !(seconds >= 0 && seconds <= 3600))
            return standard;
        waits.push_back(milliseconds(static_cast<long long>(seconds * 1000)));
    }
    return waits;
}

bool AnnounceAndWait(Connection& conn, const std::string& text, std::chrono::milliseconds wait) {
    if (NoticeHook notice = CurrentNoticeHook())
        notice(text, wait);
    BusyScope busy(conn);
    conn.cancelled = false;
    conn.hookDue.Reset();
    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (!HookAllows(conn)) {
            RethrowStashed(conn);
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, kHookInterval));
    }
}

} // namespace detail

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
    bool tls = false;
    if (!ParseServer(server, port, host, hostPort, tls)) {
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
    // As the platform does, no user name at all is the anonymous login; an empty one is sent as it is.
    // On the wire as the platform's own FTP client sent them: in the ANSI code page on Windows.
    conn->user = user ? files::ToAnsi(user) : "anonymous";
    conn->password = password ? files::ToAnsi(password) : "";
    conn->timeoutSeconds = TimeoutSeconds();
    conn->tls = tls;

    CURL* easy = conn->easy.get();
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERNAME, conn->user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, conn->password.c_str());
    curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, conn->timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, conn->timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, conn->timeoutSeconds);
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
    if (std::getenv("ZEL_INET_VERBOSE")) {
        curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &OnDebug);
        curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    }
    if ((flags & INTERNET_FLAG_PASSIVE) == 0)
        curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
    if (tls) {
        // TLS on both connections or no connection at all.
        curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(easy, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        // With TLS 1.3 the data connections' session reuse, which servers may require, fails now and then.
        curl_easy_setopt(easy, CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_TLSv1_2) | CURL_SSLVERSION_MAX_TLSv1_2);
#ifdef _WIN32
        curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
#endif
        conn->caFile = files::Environ("ZEL_FTP_CAFILE");
        if (!conn->caFile.empty()) {
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, conn.get());
        }
    }

    // Logging in without a transfer: no body for the root URL.
    const auto waits = RetryWaits();
    for (size_t retry = 0;; ++retry) {
        PrepareRequest(*conn, conn->baseUrl + "/", false, true);
        const CURLcode result = Perform(*conn);
        if (result == CURLE_OK)
            break;
        if (retry == waits.size() || !LoginRetriable(*conn, result)) {
            KeepLastReply(*conn);
            Fail(MapResult(*conn, result));
            return 0;
        }
        const std::string count = " (" + std::to_string(retry + 1) + " of " + std::to_string(waits.size()) + ")";
        if (!AnnounceAndWait(*conn, "Connection lost \u2014 trying again" + count, waits[retry])) {
            Fail(ERROR_INTERNET_OPERATION_CANCELLED);
            return 0;
        }
    }
    KeepLastReply(*conn);
    winapi::SetLastError(ERROR_SUCCESS);

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

BOOL FtpListNames(HINTERNET connection, const char* folder, std::vector<std::string>* names) {
    if (!SafeText(folder) || !names)
        return Fail(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    // A path that ends in "/" is listed: without CWD, curl sends it with NLST as it is.
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path += '/';
    const std::string url = path.empty() ? conn->baseUrl + "/" : RemoteUrl(*conn, path.c_str());
    ListingText listing{conn.get(), {}};
    CURL* easy = conn->easy.get();
    PrepareRequest(*conn, url, false, false);
    curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnListing);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &listing);
    // The write callback must not outlive `listing`, not even in a request that throws.
    const auto release = [easy] {
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    };
    CURLcode result = CURLE_OK;
    try {
        result = Perform(*conn);
    } catch (...) {
        release();
        throw;
    }
    release();
    KeepLastReply(*conn);
    if (result != CURLE_OK)
        return Fail(MapResult(*conn, result));
    names->clear();
    std::string_view text(listing.text);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // Some servers answer with the folder's path before each name.
        if (const size_t slash = line.rfind('/'); slash != std::string_view::npos)
            line.remove_prefix(slash + 1);
        if (!line.empty())
            names->emplace_back(line);
    }
    return Succeed();
}

FinishingScope::FinishingScope(std::chrono::milliseconds grace) : m_Previous(t_finishUntil) {
    t_finishUntil = std::chrono::steady_clock::now() + grace;
}

FinishingScope::~FinishingScope() {
    t_finishUntil = m_Previous;
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

void SetNoticeHook(NoticeHook hook) {
    std::lock_guard lock(g_mutex);
    g_notice = std::move(hook);
}

} // namespace inet
