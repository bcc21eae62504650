#include "platform/inet/Replies.h"

#include "platform/inet/Request.h"
#include "platform/inet/Tls.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace inet {

namespace {

using namespace detail;
using winapi::ERROR_INSUFFICIENT_BUFFER;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_NOT_ENOUGH_MEMORY;

// Like the platform, the last reply belongs to the thread.
thread_local Reply t_lastResponse;

bool IsReplyCode(std::string_view line) {
    return line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2]));
}

int ReplyCode(std::string_view line) {
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
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

} // namespace

namespace detail {

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

int LastReplyCode(const Connection& conn) {
    return conn.replies.empty() ? 0 : conn.replies.back().code;
}

void KeepLastReply(const Connection& conn) {
    if (!conn.replies.empty())
        t_lastResponse = conn.replies.back();
}

void KeepReply(const Reply& reply) {
    t_lastResponse = reply;
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
    case CURLE_SSL_CONNECT_ERROR:
        return TlsFailure(conn, result);
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_CA_FILE_UNREADABLE;
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

bool LoginRetriable(const Connection& conn, CURLcode result) {
    const int code = LastReplyCode(conn);
    if (code == 421 || code == 450 || code == 451)
        return !conn.cancelled;
    if (code >= 400 || conn.cancelled)
        return false;
    return result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING;
}

} // namespace detail

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

} // namespace inet
