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

// --- The one table of what the server's replies and curl's results mean. Every decision after a failure reads it:
// the retries (Retriable, LoginRetriable), a resume another way (ResumeRefused), the platform's code (MapResult) and
// the callers' reading of a failed call (FailureOf).

// What a failed request means.
enum class Meaning {
    Done,      // the request succeeded
    Cancelled, // the hook said no, or the handle was closed
    LocalFile, // a local file failed
    // The server's reply, where it refused:
    Closing,      // 421: not available now, and the control connection closes
    DataLine,     // 425, 426, or curl could not set up the data connection
    Busy,         // 450, 451: not now
    Declined,     // any other 4xx
    LoginRefused, // 530
    NoRoom,       // 552: the space ran out, which comes midway through a transfer
    Refused,      // any other 5xx
    // curl's own, where no refusal explains the failure:
    Dropped,     // sending or receiving failed, or nothing came: the connection broke
    CutShort,    // a transfer ended early, or a reply did not come in time
    Unreachable, // no connection could be made
    Other,       // TLS, a name that does not resolve, memory, ...
};

// The replies told apart; any other refusal means what its class means: 4xx declined for now, 5xx refused.
struct ReplyRow {
    int code;
    Meaning meaning;
};
constexpr ReplyRow kReplies[] = {
    {421, Meaning::Closing},      // service not available: the server closes the control connection
    {425, Meaning::DataLine},     // cannot open the data connection
    {426, Meaning::DataLine},     // the data connection closed, the transfer aborted
    {450, Meaning::Busy},         // file not available now (busy)
    {451, Meaning::Busy},         // local error in processing
    {530, Meaning::LoginRefused}, // not logged in
    {552, Meaning::NoRoom},       // exceeded storage allocation
};

Meaning MeaningOfReply(int code) {
    for (const ReplyRow& row : kReplies) {
        if (row.code == code)
            return row.meaning;
    }
    return code >= 500 ? Meaning::Refused : Meaning::Declined;
}

// curl's results where no refusal explains the failure: the platform's code, and what they mean.
struct ResultRow {
    CURLcode result;
    DWORD code;
    Meaning meaning;
};
constexpr ResultRow kResults[] = {
    {CURLE_SEND_ERROR, ERROR_INTERNET_CONNECTION_RESET, Meaning::Dropped},
    {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_RESET, Meaning::Dropped},
    {CURLE_GOT_NOTHING, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::Dropped},
    {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::CutShort},
    {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT, Meaning::CutShort},
    {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT, Meaning::Unreachable},
    {CURLE_FTP_ACCEPT_FAILED, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::DataLine},
    {CURLE_FTP_ACCEPT_TIMEOUT, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::DataLine},
    {CURLE_FTP_CANT_GET_HOST, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::DataLine},
    {CURLE_FTP_WEIRD_PASV_REPLY, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::DataLine},
    {CURLE_FTP_WEIRD_227_FORMAT, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::DataLine},
    {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED, Meaning::Other},
    {CURLE_URL_MALFORMAT, ERROR_INTERNET_INVALID_URL, Meaning::Other},
    {CURLE_OUT_OF_MEMORY, ERROR_NOT_ENOUGH_MEMORY, Meaning::Other},
};

ResultRow ResultRowOf(CURLcode result) {
    for (const ResultRow& row : kResults) {
        if (row.result == result)
            return row;
    }
    return {result, ERROR_INTERNET_CONNECTION_ABORTED, Meaning::Other};
}

Meaning MeaningOf(const Connection& conn, CURLcode result) {
    if (result == CURLE_OK)
        return Meaning::Done;
    if (result == CURLE_ABORTED_BY_CALLBACK || conn.cancelled || conn.closing)
        return Meaning::Cancelled;
    if (conn.localError != ERROR_SUCCESS)
        return Meaning::LocalFile;
    // The server's refusal says more than curl's reading of it (curl reports a 421 as a timeout).
    if (const int code = LastReplyCode(conn); IsRefusal(code))
        return MeaningOfReply(code);
    return ResultRowOf(result).meaning;
}

// Which step of securing the connection the server refused. Curl sends AUTH TLS (and AUTH SSL), logs in, then sends
// PBSZ 0 and PROT P, and gives up at the refusal of AUTH or of PROT only: a PBSZ refused shows in the reply before.
DWORD TlsRefusal(const Connection& conn) {
    const auto& replies = conn.replies;
    if (std::none_of(replies.begin(), replies.end(), [](const Reply& reply) { return reply.code == 234; }))
        return ERROR_INTERNET_TLS_NOT_OFFERED;
    if (replies.size() >= 2 && IsRefusal(replies[replies.size() - 2].code))
        return ERROR_INTERNET_PBSZ_REFUSED;
    return ERROR_INTERNET_PROT_REFUSED;
}

} // namespace

namespace detail {

bool IsRefusal(int code) {
    return code >= 400;
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

bool Retriable(const Connection& conn, CURLcode result) {
    switch (MeaningOf(conn, result)) {
    case Meaning::Closing:
    case Meaning::DataLine:
    case Meaning::Busy:
    case Meaning::Dropped:
    case Meaning::CutShort:
    case Meaning::Unreachable:
        return true;
    default:
        return false;
    }
}

bool LoginRetriable(const Connection& conn, CURLcode result) {
    // A login opens no data connection.
    switch (MeaningOf(conn, result)) {
    case Meaning::Closing:
    case Meaning::Busy:
    case Meaning::Dropped:
        return true;
    default:
        return false;
    }
}

bool ResumeRefused(const Connection& conn, CURLcode result) {
    const Meaning meaning = MeaningOf(conn, result);
    return meaning == Meaning::Refused || meaning == Meaning::NoRoom;
}

DWORD MapResult(const Connection& conn, CURLcode result) {
    if (conn.localError != ERROR_SUCCESS)
        return conn.localError;
    // These say more than any reply.
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
    if (IsRefusal(LastReplyCode(conn)))
        return ERROR_INTERNET_EXTENDED_ERROR;
    return ResultRowOf(result).code;
}

} // namespace detail

Failure FailureOf(DWORD error) {
    switch (error) {
    case winapi::ERROR_FILE_NOT_FOUND:
    case winapi::ERROR_PATH_NOT_FOUND:
    case winapi::ERROR_ACCESS_DENIED:
    case ERROR_INVALID_PARAMETER:
        return Failure::NothingSent;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_TIMEOUT:
        return Failure::LineLost;
    case ERROR_INTERNET_EXTENDED_ERROR:
        break;
    default:
        return Failure::Other;
    }
    switch (MeaningOfReply(t_lastResponse.code)) {
    case Meaning::Closing:
        return Failure::LineLost;
    case Meaning::LoginRefused:
    case Meaning::Refused:
        return Failure::Refused;
    default:
        return Failure::Declined;
    }
}

BOOL InternetGetLastResponseInfoA(DWORD* error, char* buffer, DWORD* length) {
    if (!length)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    if (error)
        *error = static_cast<DWORD>(t_lastResponse.code);
    const std::string& text = t_lastResponse.text;
    // A buffer of exactly the reported length is enough: the caller's own NULs end the text.
    if (!buffer || *length < text.size()) {
        *length = static_cast<DWORD>(text.size());
        return text.empty() ? Succeeded() : winapi::Failed(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.data(), text.size());
    if (*length > text.size())
        buffer[text.size()] = '\0';
    *length = static_cast<DWORD>(text.size());
    return Succeeded();
}

} // namespace inet
