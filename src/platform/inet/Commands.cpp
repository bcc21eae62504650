// The remote commands: rename, delete, change directory, list names, ask a file's size.
#include "platform/inet/Replies.h"
#include "platform/inet/Request.h"
#include "platform/inet/Session.h"
#include "platform/inet/Verification.h"

#include <algorithm>
#include <string_view>

namespace inet {

namespace {

using namespace detail;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_NOT_ENOUGH_MEMORY;
using winapi::FALSE;

// A listing's text as it arrives.
struct ListingText {
    Connection* conn;
    std::string text;
};

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

// A command that succeeds with a 2xx reply.
BOOL RunCommand(Connection& conn, const std::string& command) {
    CURLcode result = CURLE_OK;
    const int code = SendCommand(conn, command, result);
    KeepLastReply(conn);
    if (result != CURLE_OK)
        return winapi::Failed(MapResult(conn, result));
    if (code < 200 || code >= 300)
        return winapi::Failed(ERROR_INTERNET_EXTENDED_ERROR);
    return Succeeded();
}

} // namespace

BOOL FtpRenameFileA(HINTERNET connection, const char* existing, const char* newName) {
    if (!SafeText(existing) || !SafeText(newName))
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    // Two requests, so that a refused RNFR is the reply kept, not the RNTO that would follow it.
    CURLcode result = CURLE_OK;
    const int code = SendCommand(*conn, std::string("RNFR ") + existing, result);
    KeepLastReply(*conn);
    if (result != CURLE_OK)
        return winapi::Failed(MapResult(*conn, result));
    if (code != 350)
        return winapi::Failed(ERROR_INTERNET_EXTENDED_ERROR);
    return RunCommand(*conn, std::string("RNTO ") + newName);
}

BOOL FtpDeleteFileA(HINTERNET connection, const char* fileName) {
    if (!SafeText(fileName))
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    return RunCommand(*conn, std::string("DELE ") + fileName);
}

BOOL FtpSetCurrentDirectoryA(HINTERNET connection, const char* directory) {
    if (!SafeText(directory))
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    // Empty text asks for the server's default, which is its root.
    return RunCommand(*conn, *directory ? std::string("CWD ") + directory : std::string("CWD"));
}

BOOL FtpListNames(HINTERNET connection, const char* folder, std::vector<std::string>* names) {
    if (!SafeText(folder) || !names)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
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
        return winapi::Failed(MapResult(*conn, result));
    names->clear();
    ForEachLine(listing.text, [&](std::string_view line) {
        // Some servers answer with the folder's path before each name.
        if (const size_t slash = line.rfind('/'); slash != std::string_view::npos)
            line.remove_prefix(slash + 1);
        if (!line.empty())
            names->emplace_back(line);
    });
    return Succeeded();
}

BOOL FtpGetRemoteFileSize(HINTERNET connection, const char* remoteFile, std::uint64_t* size) {
    if (!UsableRemoteFile(remoteFile) || !size)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    CURLcode result = CURLE_OK;
    const auto answer = AskSize(*conn, remoteFile, result);
    KeepLastReply(*conn);
    if (result != CURLE_OK)
        return winapi::Failed(MapResult(*conn, result));
    if (!answer) {
        // The refusal of SIZE, not curl's next command, is the reply that explains.
        auto refusal = std::find_if(conn->replies.rbegin(), conn->replies.rend(),
                                    [](const Reply& reply) { return IsRefusal(reply.code); });
        if (refusal != conn->replies.rend())
            KeepReply(*refusal);
        return winapi::Failed(ERROR_INTERNET_EXTENDED_ERROR);
    }
    *size = *answer;
    return Succeeded();
}

} // namespace inet
