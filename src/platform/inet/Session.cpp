// Sessions and logins: the handles, the options of a connection, logging in (with its retries) and out.
#include "platform/inet/Session.h"

#include "platform/files/Files.h"
#include "platform/inet/Replies.h"
#include "platform/inet/Request.h"
#include "platform/inet/Retries.h"
#include "platform/inet/Tls.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

namespace inet {

namespace {

using namespace detail;
using winapi::ERROR_INVALID_HANDLE;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_NOT_ENOUGH_MEMORY;

// The platform's default for connecting, waiting for a reply and a transfer that does not move.
constexpr long kDefaultTimeoutSeconds = 60;
// A close must not hang on a server that no longer answers QUIT.
constexpr long kQuitTimeoutSeconds = 1;

struct Session {
    std::vector<HINTERNET> children;
};

std::mutex g_mutex;
std::map<HINTERNET, std::shared_ptr<Session>> g_sessions;
std::map<HINTERNET, std::shared_ptr<Connection>> g_connections;
HINTERNET g_nextHandle = 0x100;

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The dialogue for support staff, with the password masked; the file data and TLS records are left out.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void*) noexcept {
    const char* prefix = type == CURLINFO_TEXT         ? "* "
                         : type == CURLINFO_HEADER_IN  ? "< "
                         : type == CURLINFO_HEADER_OUT ? "> "
                                                       : nullptr;
    if (!prefix)
        return 0;
    ForEachLine(std::string_view(data, size), [&](std::string_view line) {
        const bool password = type == CURLINFO_HEADER_OUT && line.size() >= 4 &&
                              std::toupper(static_cast<unsigned char>(line[0])) == 'P' &&
                              std::toupper(static_cast<unsigned char>(line[1])) == 'A' &&
                              std::toupper(static_cast<unsigned char>(line[2])) == 'S' &&
                              std::toupper(static_cast<unsigned char>(line[3])) == 'S';
        if (password)
            std::fprintf(stderr, "%sPASS ****\n", prefix);
        else
            std::fprintf(stderr, "%s%.*s\n", prefix, static_cast<int>(line.size()), line.data());
    });
    return 0;
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

std::shared_ptr<Connection> UseConnection(HINTERNET handle) {
    auto conn = FindConnection(handle);
    if (!conn) {
        bool isSession = false;
        {
            std::lock_guard lock(g_mutex);
            isSession = g_sessions.count(handle) != 0;
        }
        winapi::Failed(isSession ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (conn->busy) {
        // A hook that pumps events must not start a second request on the same connection.
        winapi::Failed(ERROR_FTP_TRANSFER_IN_PROGRESS);
        return nullptr;
    }
    return conn;
}

} // namespace detail

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass, DWORD flags) {
    // Direct, synchronous sessions only: that is all this system asks for. FTP tells a server no agent.
    (void)agent;
    (void)proxy;
    (void)proxyBypass;
    if (accessType != INTERNET_OPEN_TYPE_DIRECT || flags != 0)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    EnsureCurl();
    auto session = std::make_shared<Session>();
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
        if (g_sessions.count(session) == 0)
            return winapi::Failed(g_connections.count(session) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE
                                                               : ERROR_INVALID_HANDLE);
    }
    if (service != INTERNET_SERVICE_FTP || !server || (user && !SafeText(user)) || (password && !SafeText(password)))
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    std::string host;
    std::uint16_t hostPort = 0;
    bool tls = false;
    if (!ParseServer(server, port, host, hostPort, tls))
        return winapi::Failed(*server == '\0' ? ERROR_INVALID_PARAMETER : ERROR_INTERNET_NAME_NOT_RESOLVED);

    auto conn = std::make_shared<Connection>();
    conn->session = session;
    conn->multi.reset(curl_multi_init());
    conn->easy.reset(curl_easy_init());
    if (!conn->multi || !conn->easy)
        return winapi::Failed(ERROR_NOT_ENOUGH_MEMORY);
    conn->baseUrl = "ftp://" + host + ":" + std::to_string(hostPort);
    // As the platform does, no user name at all is the anonymous login; an empty one is sent as it is.
    // On the wire as the platform's own FTP client sent them: in the ANSI code page on Windows.
    conn->user = user ? files::ToAnsi(user) : "anonymous";
    conn->password = password ? files::ToAnsi(password) : "";
    conn->timeoutSeconds = TimeoutSeconds();

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
        conn->caFile = files::Environ("ZEL_FTP_CAFILE");
        TrustAuthorities(*conn);
    }

    // Logging in without a transfer: no body for the root URL.
    const BOOL loggedIn = WithRetries(*conn, [&conn](bool) {
        PrepareRequest(*conn, conn->baseUrl + "/", false, true);
        const CURLcode result = Perform(*conn);
        KeepLastReply(*conn);
        return result == CURLE_OK ? Outcome() : Outcome{MapResult(*conn, result), LoginRetriable(*conn, result)};
    });
    if (!loggedIn)
        return 0;

    std::lock_guard lock(g_mutex);
    auto parent = g_sessions.find(session);
    // The session was closed by the hook meanwhile.
    if (parent == g_sessions.end())
        return winapi::Failed(ERROR_INTERNET_OPERATION_CANCELLED);
    const HINTERNET handle = g_nextHandle++;
    parent->second->children.push_back(handle);
    g_connections.emplace(handle, std::move(conn));
    return handle;
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
            return winapi::Failed(ERROR_INVALID_HANDLE);
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
    return Succeeded();
}

} // namespace inet
