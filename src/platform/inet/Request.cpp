#include "platform/inet/Request.h"

#include "platform/files/Files.h"
#include "platform/inet/Replies.h"
#include "platform/inet/Socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

namespace inet {

namespace {

using namespace detail;
using winapi::ERROR_READ_FAULT;
using winapi::ERROR_WRITE_FAULT;
using winapi::TRUE;

std::mutex g_mutex;
zel::ProgressHook g_hook;

// How long a FinishingScope holds off a cancel.
constexpr auto kFinishingGrace = std::chrono::seconds(10);
// Until when the thread's calls finish what they start although the hook cancels (FinishingScope).
thread_local std::optional<std::chrono::steady_clock::time_point> t_finishUntil;

bool Finishing() {
    return t_finishUntil && std::chrono::steady_clock::now() < *t_finishUntil;
}

zel::ProgressHook CurrentHook() {
    std::lock_guard lock(g_mutex);
    return g_hook;
}

// Stashes what a callback threw, so that it reaches the caller once curl has returned.
void Stash(Connection& conn) noexcept {
    if (!conn.thrown)
        conn.thrown = std::current_exception();
    conn.cancelled = true;
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

} // namespace

namespace detail {

BOOL Succeeded() {
    winapi::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

void ForEachLine(std::string_view text, const std::function<void(std::string_view line)>& take) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        take(line);
    }
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
    PrepareSocket(socket);
    return CURL_SOCKOPT_OK;
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
        curl_multi_poll(conn.multi.get(), nullptr, 0, static_cast<int>(zel::ProgressInterval.count()), nullptr);
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

void RethrowStashed(Connection& conn) {
    if (conn.thrown)
        std::rethrow_exception(std::exchange(conn.thrown, nullptr));
}

} // namespace detail

FinishingScope::FinishingScope() : m_Previous(t_finishUntil) {
    t_finishUntil = std::chrono::steady_clock::now() + kFinishingGrace;
}

FinishingScope::~FinishingScope() {
    t_finishUntil = m_Previous;
}

void SetProgressHook(zel::ProgressHook hook) {
    std::lock_guard lock(g_mutex);
    g_hook = std::move(hook);
}

} // namespace inet
