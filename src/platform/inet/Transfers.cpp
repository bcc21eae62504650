// Downloads and uploads: retried with resume where the line failed, verified once complete.
#include "platform/files/Files.h"
#include "platform/inet/Replies.h"
#include "platform/inet/Request.h"
#include "platform/inet/Retries.h"
#include "platform/inet/Session.h"
#include "platform/inet/Verification.h"

#include <cerrno>
#include <optional>
#include <utility>

namespace inet {

namespace {

using namespace detail;
using winapi::ERROR_ACCESS_DENIED;
using winapi::ERROR_FILE_EXISTS;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_PATH_NOT_FOUND;
using winapi::ERROR_READ_FAULT;
using winapi::ERROR_WRITE_FAULT;
using winapi::FALSE;

// How an attempt ended that a failed request interrupted.
Outcome OutcomeOf(const Connection& conn, CURLcode result) {
    return {MapResult(conn, result), Retriable(conn, result), false, conn.done, conn.total};
}

Outcome Mismatched(const Connection& conn) {
    return {ERROR_INTERNET_COPY_MISMATCH, true, true, conn.done, conn.total};
}

Outcome Verified(Connection& conn, Check check, CURLcode result) {
    switch (check) {
    case Check::Different:
        return Mismatched(conn);
    case Check::Lost:
        return OutcomeOf(conn, result);
    case Check::Cancelled:
        return {ERROR_INTERNET_OPERATION_CANCELLED, false, false, 0, 0};
    default:
        return {};
    }
}

// --- Downloads

// The download's own file beside the target (a files::TempFile), renamed over the target once complete and
// verified, removed otherwise: the previous file stays as it was until then.
class Download {
public:
    explicit Download(std::string target) : m_Target(std::move(target)) {}

    // A new, empty file in place of the one before: 0 or an errno.
    int Open() {
        m_File.reset();
        m_File.emplace();
        const size_t name = m_Target.rfind('/') + 1; // 0 without a folder
        errno = 0;
        if (m_File->Create(m_Target.substr(0, name), m_Target.substr(name)) && m_File->Stream())
            return 0;
        const int err = errno ? errno : EIO;
        m_File.reset();
        return err;
    }
    // Empty again, for a transfer that starts from the beginning: 0 or an errno.
    int Empty() {
        const auto size = Size();
        return size && *size == 0 ? 0 : Open();
    }
    std::FILE* File() { return m_File->Stream(); }
    const std::string& Path() const { return m_File->Path(); }
    // What earlier attempts wrote; nothing when the file cannot tell.
    std::optional<std::uint64_t> Size() {
        if (std::fflush(File()) != 0)
            return std::nullopt;
        std::uint64_t size = 0;
        return files::SizeOf(Path(), size) ? std::optional<std::uint64_t>(size) : std::nullopt;
    }
    // Flushed to disk beside the caller's event loop (a large file takes a while), then renamed over the target.
    DWORD Commit(Connection& conn) {
        std::FILE* file = File();
        // A cancel now would throw away a complete file: the hook only serves the events.
        const int flushError = zel::RunBeside([file] { return files::FlushToDisk(file) ? 0 : (errno ? errno : EIO); },
                                              [&conn] { HookAllows(conn); });
        RethrowStashed(conn);
        DWORD error = flushError == 0 ? ERROR_SUCCESS : files::SystemCode(flushError, ERROR_WRITE_FAULT);
        if (const int err = m_File->Close(); err != 0 && error == ERROR_SUCCESS)
            error = files::SystemCode(err, ERROR_WRITE_FAULT);
        if (error != ERROR_SUCCESS)
            return error;
        if (const int err = m_File->CommitTo(m_Target); err != 0)
            return files::SystemCode(err, ERROR_ACCESS_DENIED);
        return ERROR_SUCCESS;
    }

private:
    std::string m_Target;
    std::optional<files::TempFile> m_File;
};

CURLcode Receive(Connection& conn, const char* remote, Download& download, std::uint64_t offset, bool ascii) {
    LocalFile local{&conn, download.File()};
    PrepareRequest(conn, RemoteUrl(conn, remote), false, false);
    curl_easy_setopt(conn.easy.get(), CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(conn.easy.get(), CURLOPT_WRITEDATA, &local);
    curl_easy_setopt(conn.easy.get(), CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
    curl_easy_setopt(conn.easy.get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
    conn.offset = offset;
    CURLcode result = CURLE_OK;
    try {
        result = Perform(conn);
    } catch (...) {
        // The write callback must not outlive `local`, not even in a request that throws.
        curl_easy_setopt(conn.easy.get(), CURLOPT_WRITEFUNCTION, &Discard);
        throw;
    }
    curl_easy_setopt(conn.easy.get(), CURLOPT_WRITEFUNCTION, &Discard);
    return result;
}

Outcome DownloadAttempt(Connection& conn, const char* remote, Download& download, bool resume, bool ascii) {
    std::uint64_t offset = 0;
    // A server may take REST and send from the start all the same: what it resumes must be checked as a whole.
    if (resume && CanVerify(conn, remote))
        offset = download.Size().value_or(0);
    for (;;) {
        if (offset == 0) {
            if (const int err = download.Empty(); err != 0)
                return {files::SystemCode(err, ERROR_WRITE_FAULT)};
        }
        const CURLcode result = Receive(conn, remote, download, offset, ascii);
        if (offset > 0 && (result == CURLE_FTP_COULDNT_USE_REST || result == CURLE_BAD_DOWNLOAD_RESUME)) {
            // The server does not resume (or its file is shorter now): the whole file again, at once.
            offset = 0;
            continue;
        }
        KeepLastReply(conn);
        if (result != CURLE_OK)
            return OutcomeOf(conn, result);

        // The size the server announced, where it did.
        curl_off_t rest = -1;
        const auto size = download.Size();
        if (!size)
            return {files::SystemCode(errno, ERROR_WRITE_FAULT)};
        const bool sized =
            curl_easy_getinfo(conn.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &rest) == CURLE_OK && rest >= 0;
        if (sized && offset + static_cast<std::uint64_t>(rest) != *size)
            return Mismatched(conn);
        conn.total = conn.done = *size;
        CURLcode checkResult = CURLE_OK;
        const Check check = CompareChecksums(conn, remote, download.Path(), checkResult);
        if (offset > 0 && !sized && check == Check::Unknown) {
            // Nothing vouched for the resumed copy after all (the server would not checksum this file).
            offset = 0;
            continue;
        }
        return Verified(conn, check, checkResult);
    }
}

// --- Uploads

enum class Method { Store, Append, RestartStore };

CURLcode Send(Connection& conn, const char* remote, std::FILE* file, std::uint64_t size, std::uint64_t offset,
              Method method, bool ascii) {
    if (!files::Seek(file, offset)) {
        conn.localError = files::SystemCode(errno, ERROR_READ_FAULT);
        return CURLE_READ_ERROR;
    }
    SlistPtr restart;
    if (method == Method::RestartStore) {
        restart.reset(curl_slist_append(nullptr, ("REST " + std::to_string(offset)).c_str()));
        if (!restart)
            return CURLE_OUT_OF_MEMORY;
    }
    LocalFile local{&conn, file};
    PrepareRequest(conn, RemoteUrl(conn, remote), true, false);
    CURL* easy = conn.easy.get();
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &OnRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, &local);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size - offset));
    curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_APPEND, method == Method::Append ? 1L : 0L);
    // Sent right before STOR, after the data connection is set up.
    curl_easy_setopt(easy, CURLOPT_PREQUOTE, restart.get());
    conn.offset = offset;
    conn.total = size;
    conn.uploading = true;
    // Neither the read callback nor the list may outlive this frame, not even in a request that throws.
    const auto release = [easy] {
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);
        curl_easy_setopt(easy, CURLOPT_PREQUOTE, nullptr);
    };
    CURLcode result = CURLE_OK;
    try {
        result = Perform(conn);
    } catch (...) {
        release();
        throw;
    }
    release();
    return result;
}

struct UploadState {
    bool appendRefused = false;
    bool restartRefused = false;
};

Outcome UploadAttempt(Connection& conn, const char* remote, const std::string& source, std::FILE* file,
                      std::uint64_t size, bool resume, bool ascii, UploadState& state) {
    std::uint64_t offset = 0;
    CURLcode result = CURLE_OK;
    if (resume) {
        // What reached the server is what its SIZE says; a partial bigger than the file is not ours to extend.
        const auto there = AskSize(conn, remote, result);
        if (result != CURLE_OK && Retriable(conn, result))
            return OutcomeOf(conn, result);
        if (there && *there <= size)
            offset = *there;
    }
    if (!resume || offset < size) {
        for (;;) {
            Method method = Method::Store;
            if (offset > 0 && !state.appendRefused)
                method = Method::Append;
            else if (offset > 0 && !state.restartRefused)
                method = Method::RestartStore;
            result = Send(conn, remote, file, size, method == Method::Store ? 0 : offset, method, ascii);
            // A server that refuses to resume gets the other way, then the whole file.
            if (method != Method::Store && ResumeRefused(conn, result)) {
                (method == Method::Append ? state.appendRefused : state.restartRefused) = true;
                continue;
            }
            break;
        }
        KeepLastReply(conn);
        if (result != CURLE_OK)
            return OutcomeOf(conn, result);
    }

    // What the server holds must be what was sent.
    const auto there = AskSize(conn, remote, result);
    if (result != CURLE_OK && Retriable(conn, result))
        return OutcomeOf(conn, result);
    if (there && *there != size)
        return Mismatched(conn);
    conn.total = conn.done = size;
    const Check check = CompareChecksums(conn, remote, source, result);
    return Verified(conn, check, result);
}

} // namespace

BOOL FtpGetFileA(HINTERNET connection, const char* remoteFile, const char* newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, std::uintptr_t context) {
    (void)flagsAndAttributes; // every download is flushed to disk before it replaces the target
    (void)context;
    if (!UsableRemoteFile(remoteFile) || !newFile || *newFile == '\0')
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    const std::string target = files::NativePath(newFile);
    if (failIfExists && files::ExistsPath(target))
        return winapi::Failed(ERROR_FILE_EXISTS);

    Download download(target);
    if (const int err = download.Open(); err != 0)
        // Creating a file fails with ENOENT only where its folder is missing, which the platform calls a path not
        // found, not a file not found.
        return winapi::Failed(err == ENOENT ? ERROR_PATH_NOT_FOUND : files::SystemCode(err, ERROR_ACCESS_DENIED));
    BusyScope busy(*conn);
    const bool ascii = (flags & 3) == FTP_TRANSFER_TYPE_ASCII;
    const BOOL done =
        WithRetries(*conn, [&](bool resume) { return DownloadAttempt(*conn, remoteFile, download, resume, ascii); });
    if (!done)
        return FALSE;
    const DWORD error = download.Commit(*conn);
    return error == ERROR_SUCCESS ? Succeeded() : winapi::Failed(error);
}

BOOL FtpPutFileA(HINTERNET connection, const char* localFile, const char* newRemoteFile, DWORD flags,
                 std::uintptr_t context) {
    (void)context;
    if (!UsableRemoteFile(newRemoteFile) || !localFile || *localFile == '\0')
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto conn = UseConnection(connection);
    if (!conn)
        return FALSE;
    const std::string source = files::NativePath(localFile);
    if (files::IsFolderPath(source))
        return winapi::Failed(ERROR_ACCESS_DENIED);
    errno = 0;
    FilePtr file(files::OpenFile(source, "rb"));
    if (!file)
        return winapi::Failed(files::SystemCode(errno, ERROR_ACCESS_DENIED));
    std::uint64_t size = 0;
    if (!files::SizeOf(source, size))
        return winapi::Failed(ERROR_ACCESS_DENIED);

    BusyScope busy(*conn);
    const bool ascii = (flags & 3) == FTP_TRANSFER_TYPE_ASCII;
    UploadState state;
    return WithRetries(*conn, [&](bool resume) {
        return UploadAttempt(*conn, newRemoteFile, source, file.get(), size, resume, ascii, state);
    });
}

} // namespace inet
