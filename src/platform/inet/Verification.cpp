#include "platform/inet/Verification.h"

#include "platform/files/Files.h"
#include "platform/inet/Replies.h"
#include "platform/inet/Request.h"
#include "platform/inet/Tls.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>
#include <vector>

namespace inet::detail {

namespace {

constexpr size_t kHashChunk = 1 << 20;

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool Computable(const std::string& algorithm) {
    return algorithm == "SHA-256" || algorithm == "SHA-1" || algorithm == "MD5" || algorithm == "CRC32";
}

// Reads FEAT once per connection and picks the checksum the server offers: HASH (its current algorithm where we
// can compute it, else one we can), else XMD5, else XCRC.
void LearnFeatures(Connection& conn) {
    if (conn.featuresKnown)
        return;
    CURLcode result = CURLE_OK;
    const int code = SendCommand(conn, "FEAT", result);
    if (result != CURLE_OK && Retriable(conn, result))
        return; // asked again on the next attempt
    conn.featuresKnown = true;
    if (code != 211)
        return;
    std::vector<std::string> features;
    const std::string& text = conn.replies.back().text;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        // Feature lines start with a blank; the first and the last line carry the code.
        if (line.empty() || line[0] != ' ')
            continue;
        line.erase(0, line.find_first_not_of(' '));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        features.push_back(Upper(line));
    }
    ChecksumMethod& method = conn.checksum;
    for (const std::string& feature : features) {
        if (feature.rfind("HASH ", 0) != 0)
            continue;
        std::string list = feature.substr(5) + ";";
        std::string current;
        std::string usable;
        for (size_t start = 0, end; (end = list.find(';', start)) != std::string::npos; start = end + 1) {
            std::string name = list.substr(start, end - start);
            const bool selected = !name.empty() && name.back() == '*';
            if (selected)
                name.pop_back();
            if (!Computable(name))
                continue;
            if (selected)
                current = name;
            if (usable.empty() || name == "SHA-256")
                usable = name;
        }
        if (!current.empty() || !usable.empty()) {
            method = {"HASH", current.empty() ? usable : current, current.empty()};
            return;
        }
    }
    for (const auto& [command, algorithm] : {std::pair{"XMD5", "MD5"}, std::pair{"XCRC", "CRC32"}}) {
        if (std::find(features.begin(), features.end(), command) != features.end()) {
            method = {command, algorithm, false};
            return;
        }
    }
}

bool IsHex(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// The checksum in the server's reply, lower-case; empty when there is none.
std::string ChecksumInReply(const std::string& reply, const ChecksumMethod& method) {
    const size_t digits = method.algorithm == "SHA-256" ? 64
                          : method.algorithm == "SHA-1" ? 40
                          : method.algorithm == "MD5"   ? 32
                                                        : 8;
    std::vector<std::string> words;
    for (size_t start = 4; start < reply.size();) {
        const size_t end = std::min(reply.find_first_of(" \r\n", start), reply.size());
        if (end > start)
            words.push_back(reply.substr(start, end - start));
        start = end + 1;
    }
    // HASH answers "<algorithm> <range> <checksum> <name>"; the X commands answer the checksum, perhaps with words
    // around it. A name is never taken for the checksum.
    if (method.command == "HASH")
        words.resize(std::min<size_t>(words.size(), 3));
    for (std::string word : words) {
        if (word.size() <= digits && IsHex(word) && (word.size() == digits || method.algorithm == "CRC32")) {
            // Some servers leave out a CRC's leading zeros.
            word.insert(0, digits - word.size(), '0');
            std::transform(word.begin(), word.end(), word.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            return word;
        }
    }
    return {};
}

// The checksum of a local file, lower-case hex, calling the hook as it reads; nothing when cancelled or unreadable.
std::optional<std::string> LocalChecksum(Connection& conn, const std::string& path, const std::string& algorithm) {
    FilePtr file(files::OpenFile(path, "rb"));
    if (!file)
        return std::nullopt;
    std::optional<Digest> digest;
    uLong crc = crc32(0L, Z_NULL, 0);
    if (algorithm != "CRC32" && !digest.emplace(algorithm).Ready())
        return std::nullopt;
    std::vector<unsigned char> buffer(kHashChunk);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (got == 0)
            break;
        if (digest)
            digest->Add(buffer.data(), got);
        else
            crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
        if (!HookAllows(conn)) {
            RethrowStashed(conn);
            return std::nullopt;
        }
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    std::vector<unsigned char> value;
    if (digest) {
        value = digest->Finish();
    } else {
        for (int shift = 24; shift >= 0; shift -= 8)
            value.push_back(static_cast<unsigned char>(crc >> shift));
    }
    std::string hex;
    for (const unsigned char byte : value) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

} // namespace

std::optional<std::uint64_t> AskSize(Connection& conn, const char* remote, CURLcode& result) {
    // Without a body curl asks for the size in binary mode (and keeps its own idea of the mode right).
    PrepareRequest(conn, RemoteUrl(conn, remote), false, true);
    result = Perform(conn);
    const bool answered =
        std::any_of(conn.replies.begin(), conn.replies.end(), [](const Reply& reply) { return reply.code == 213; });
    curl_off_t length = -1;
    if (result != CURLE_OK || !answered ||
        curl_easy_getinfo(conn.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(length);
}

bool CanVerify(Connection& conn, const char* remote) {
    CURLcode result = CURLE_OK;
    if (AskSize(conn, remote, result))
        return true;
    LearnFeatures(conn);
    return !conn.checksum.command.empty();
}

Check CompareChecksums(Connection& conn, const char* remote, const std::string& local, CURLcode& result) {
    result = CURLE_OK;
    LearnFeatures(conn);
    const ChecksumMethod method = conn.checksum;
    if (method.command.empty())
        return Check::Unknown;
    if (method.select) {
        const int code = SendCommand(conn, "OPTS HASH " + method.algorithm, result);
        if (result != CURLE_OK)
            return Retriable(conn, result) ? Check::Lost : Check::Unknown;
        if (code < 200 || code >= 300)
            return Check::Unknown;
    }
    const int code = SendCommand(conn, method.command + " " + remote, result);
    if (result != CURLE_OK)
        return Retriable(conn, result) ? Check::Lost : Check::Unknown;
    const std::string theirs = code >= 200 && code < 300 ? ChecksumInReply(conn.replies.back().text, method) : "";
    if (theirs.empty())
        return Check::Unknown; // a server that cannot checksum this file: the size has to do
    conn.done = conn.total;
    const std::optional<std::string> ours = LocalChecksum(conn, local, method.algorithm);
    if (!ours)
        return conn.cancelled || conn.closing ? Check::Cancelled : Check::Unknown;
    return *ours == theirs ? Check::Same : Check::Different;
}

} // namespace inet::detail
