#include "ftp/cFTP.h"

#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <cctype>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <vector>

namespace {

// The number of one of the class's own errors.
constexpr std::int32_t Number(std::int32_t code) {
    return zel::vbObjectError + code;
}

const char* const kNotConnected = "Not Connected to FTP Site";
const char* const kConnectedRefusal = "You cannot change this property while connected to an FTP server";

std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
    std::string result;
    size_t start = 0;
    for (size_t found = text.find(what); found != std::string::npos; found = text.find(what, start)) {
        result.append(text, start, found - start);
        result += with;
        start = found + what.size();
    }
    result.append(text, start);
    return result;
}

// A text with an embedded NUL would reach the platform cut short and name another file; the platform
// refuses a missing argument instead.
const char* Arg(const std::string& text) {
    return text.find('\0') == std::string::npos ? text.c_str() : nullptr;
}

// Why a call failed, where no server reply tells: empty for the failures that carry none.
std::string Reason(winapi::DWORD code) {
    switch (code) {
    case inet::ERROR_INTERNET_TLS_NOT_OFFERED:
        return "the server does not offer TLS (it refused AUTH TLS), and the connection is not made without it.";
    case inet::ERROR_INTERNET_PBSZ_REFUSED:
        return "the server refused to prepare the protection of the data connection (it refused PBSZ), and no file is "
               "transferred without it.";
    case inet::ERROR_INTERNET_PROT_REFUSED:
        return "the server refused to protect the data connection (it refused PROT P), and no file is transferred "
               "without it.";
    case inet::ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return "the server's certificate has expired or is not valid yet.";
    case inet::ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return "the server's certificate was issued for another host name.";
    case inet::ERROR_INTERNET_SEC_INVALID_CERT:
        return "the server's certificate is self-signed, so nobody vouches for it.";
    case inet::ERROR_INTERNET_INVALID_CA:
        return "the server's certificate was issued by an authority this computer does not trust.";
    case inet::ERROR_INTERNET_SEC_CERT_ERRORS:
        return "the server's certificate could not be verified.";
    case inet::ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return "the TLS handshake with the server failed.";
    case inet::ERROR_INTERNET_CA_FILE_UNREADABLE:
        return "the CA file named by ZEL_FTP_CAFILE cannot be read.";
    case inet::ERROR_INTERNET_COPY_MISMATCH:
        return "the copy differs from the original in size or checksum, also after it was transferred again.";
    default:
        return {};
    }
}

// The reason as a line of its own after an operation's failure text.
std::string ReasonLine(winapi::DWORD code) {
    std::string reason = Reason(code);
    if (reason.empty())
        return reason;
    reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    return "\r\n" + reason;
}

// A command that failed because the line was lost is sent once more, over a new connection.
bool OnceMore(const std::function<winapi::BOOL()>& command) {
    return command() || (inet::FailureOf(winapi::GetLastError()) == inet::Failure::LineLost && command());
}

// The error trap: whatever fails inside an operation, other than its own raises, reaches the caller as an
// error with the operation's source (and, for some operations, the operation's own number).
[[noreturn]] void Reraise(const std::string& source, std::optional<std::int32_t> number = std::nullopt) {
    try {
        throw;
    } catch (const zel::Error& error) {
        throw zel::Error(number.value_or(error.Number()), source, error.Description());
    } catch (const std::bad_alloc&) {
        throw zel::Error(number.value_or(zel::rt::OutOfMemory), source, zel::rt::Description(zel::rt::OutOfMemory));
    } catch (const std::exception& error) {
        throw zel::Error(number.value_or(zel::rt::InvalidProcedureCall), source, error.what());
    }
}

} // namespace

cFTP::cFTP() {
    m_SessionHandle = inet::InternetOpenA("KTFtp Instance", inet::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (m_SessionHandle == 0) {
        m_ConnectionHandle = 0;
        throw zel::Error(Number(cFTP::NoSession), "KTFTP::Class_Initialise", "Cannot get Connection to WinInet.dll !");
    }
    m_ConnectionHandle = 0;
}

cFTP::~cFTP() {
    if (m_ConnectionHandle != 0)
        inet::InternetCloseHandle(m_ConnectionHandle);
    if (m_SessionHandle != 0)
        inet::InternetCloseHandle(m_SessionHandle);
    m_ConnectionHandle = 0;
    m_SessionHandle = 0;
}

void cFTP::SetHost(const std::string& sHostName) {
    if (m_ConnectionHandle != 0)
        throw zel::Error(Number(cFTP::NotAllowed), "KTFTP::Host_Let", kConnectedRefusal);
    m_Host = sHostName;
}

std::string cFTP::Host() const {
    return m_Host;
}

void cFTP::SetUser(const std::string& sUserName) {
    if (m_ConnectionHandle != 0)
        throw zel::Error(Number(cFTP::NotAllowed), "KTFTP::User_Let", kConnectedRefusal);
    m_User = sUserName;
}

std::string cFTP::User() const {
    return m_User;
}

void cFTP::SetPassword(const std::string& sPassword) {
    if (m_ConnectionHandle != 0)
        throw zel::Error(Number(cFTP::NotAllowed), "KTFTP::Password_Let", kConnectedRefusal);
    m_Password = sPassword;
}

std::string cFTP::Password() const {
    return m_Password;
}

std::string cFTP::Directory() const {
    return m_Directory;
}

void cFTP::SetDirectory(const std::string& sDirectory) {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::Directory_Let", kNotConnected);
    try {
        RemoteChDir(sDirectory);
        m_Directory = sDirectory;
    } catch (...) {
        Reraise("KTFTP::Directory[Let]", Number(cFTP::CannotChangeDirectory));
    }
}

bool cFTP::Connected() const {
    return m_ConnectionHandle != 0;
}

bool cFTP::Connect(const std::string& Host, const std::string& User, const std::string& Password) {
    if (m_ConnectionHandle != 0)
        throw zel::Error(Number(cFTP::NotAllowed), "KTFTP::Connect",
                         "You are already connected to FTP Server " + m_Host);
    std::string description;
    try {
        if (!Host.empty())
            m_Host = Host;
        if (!User.empty())
            m_User = User;
        if (!Password.empty())
            m_Password = Password;
        if (m_Host.empty())
            throw zel::Error(Number(cFTP::NotAllowed), "KTFTP::Connect", "No Host Address Specified!");
        // Such a text cannot be sent as it stands, and cut short it would be another login.
        if ((m_User + m_Password).find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            description = "The user name or the password contains a line break or a NUL character, which cannot be "
                          "sent to the server.";
        else
            m_ConnectionHandle =
                inet::InternetConnectA(m_SessionHandle, Arg(m_Host), 0, m_User.c_str(), m_Password.c_str(),
                                       inet::INTERNET_SERVICE_FTP, inet::INTERNET_FLAG_PASSIVE, 0);
        if (m_ConnectionHandle == 0 && description.empty()) {
            const winapi::DWORD error = winapi::GetLastError();
            const std::string reason = Reason(error);
            description = reason.empty()
                              ? ReplaceAll("Cannot Connect to %s using User and Password Parameters", "%s", m_Host) +
                                    "\r\n" + ExtendedErrorText(error)
                              : "Cannot Connect to " + m_Host + " securely: " + reason;
        }
    } catch (...) {
        Reraise("cFTP::Connect");
    }
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::CannotConnect), "KTFTP::Connect", description);
    return true;
}

bool cFTP::Disconnect() {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::Disconnect", kNotConnected);
    inet::InternetCloseHandle(m_ConnectionHandle); // nothing to do about a failed close
    m_ConnectionHandle = 0;
    m_Host.clear();
    m_User.clear();
    m_Password.clear();
    m_Directory.clear();
    return true;
}

bool cFTP::GetFile(const std::string& ServerFileAndPath, const std::string& DestinationFileAndPath,
                   std::int32_t TransferType) {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::GetFile", kNotConnected);
    bool done = false;
    try {
        done = inet::FtpGetFileA(m_ConnectionHandle, Arg(ServerFileAndPath), Arg(DestinationFileAndPath), winapi::FALSE,
                                 inet::FILE_FLAG_WRITE_THROUGH, static_cast<winapi::DWORD>(TransferType),
                                 0) != winapi::FALSE;
    } catch (...) {
        Reraise("cFTP::GetFile", Number(cFTP::CannotGet));
    }
    if (!done)
        throw zel::Error(Number(cFTP::CannotGet), "KTFTP::GetFile",
                         ReplaceAll("Couldn't Get File %s from Server", "%s", ServerFileAndPath) +
                             ReasonLine(winapi::GetLastError()));
    return true;
}

bool cFTP::PutFile(const std::string& LocalFileAndPath, const std::string& ServerFileAndPath,
                   std::int32_t TransferType) {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::PutFile", kNotConnected);
    std::optional<std::string> description;
    try {
        description = Publish(LocalFileAndPath, ServerFileAndPath, static_cast<winapi::DWORD>(TransferType));
    } catch (...) {
        Reraise("cFTP::PutFile");
    }
    if (description)
        throw zel::Error(Number(cFTP::CannotSend), "KTFTP::PutFile", *description);
    return true;
}

std::optional<std::string> cFTP::Publish(const std::string& LocalFileAndPath, const std::string& ServerFileAndPath,
                                         winapi::DWORD Flags) {
    RemoveLeftovers(ServerFileAndPath);
    const std::string temporary = files::TemporaryName(ServerFileAndPath);
    bool sent = false;
    try {
        // Verified there by the upload itself (size, and checksum where the server offers one).
        sent = inet::FtpPutFileA(m_ConnectionHandle, Arg(LocalFileAndPath), Arg(temporary), Flags, 0) != winapi::FALSE;
    } catch (...) {
        RemoveAfterThrow(temporary);
        throw;
    }
    if (sent) {
        // The whole file is there: a cancel now is too late to stop what follows half-way.
        inet::FinishingScope finishing;
        const auto rename = [&] {
            return inet::FtpRenameFileA(m_ConnectionHandle, Arg(temporary), Arg(ServerFileAndPath));
        };
        if (OnceMore(rename))
            return std::nullopt;
        // Servers such as IIS refuse to rename onto an existing file: it goes first. For the one command between,
        // there is no file of the target's name; there never is a part of one.
        if (OnceMore([&] { return inet::FtpDeleteFileA(m_ConnectionHandle, Arg(ServerFileAndPath)); })) {
            if (OnceMore(rename))
                return std::nullopt;
            const winapi::DWORD error = winapi::GetLastError();
            // Not refused, but the line is gone: the temporary is the only whole copy there, and stays for the next
            // send to replace.
            if (const inet::Failure failure = inet::FailureOf(error);
                failure != inet::Failure::Refused && failure != inet::Failure::Declined)
                return SendFailure(LocalFileAndPath, temporary, ServerFileAndPath, error);
        }
        // A server that refuses every rename: the upload under the target's name after all.
        Remove(temporary);
    } else {
        const winapi::DWORD error = winapi::GetLastError();
        // A server may refuse names it does not expect: then the target's name is tried.
        if (const inet::Failure failure = inet::FailureOf(error); failure != inet::Failure::Refused) {
            std::string text = SendFailure(LocalFileAndPath, temporary, ServerFileAndPath, error);
            if (failure != inet::Failure::NothingSent)
                Remove(temporary);
            return text;
        }
    }
    bool stored = false;
    try {
        stored = inet::FtpPutFileA(m_ConnectionHandle, Arg(LocalFileAndPath), Arg(ServerFileAndPath), Flags, 0) !=
                 winapi::FALSE;
    } catch (...) {
        RemoveAfterThrow(ServerFileAndPath);
        throw;
    }
    if (stored)
        return std::nullopt;
    const winapi::DWORD error = winapi::GetLastError();
    const inet::Failure failure = inet::FailureOf(error);
    std::string text = SendFailure(LocalFileAndPath, ServerFileAndPath, ServerFileAndPath, error);
    // What part of it arrived is not left under the target's name.
    if (failure != inet::Failure::Refused && failure != inet::Failure::NothingSent)
        Remove(ServerFileAndPath);
    return text;
}

void cFTP::Remove(const std::string& ServerFileAndPath) {
    // Also after a cancel; the line may have gone with the transfer.
    inet::FinishingScope finishing;
    OnceMore([&] { return inet::FtpDeleteFileA(m_ConnectionHandle, Arg(ServerFileAndPath)); });
}

void cFTP::RemoveAfterThrow(const std::string& ServerFileAndPath) noexcept {
    try {
        Remove(ServerFileAndPath);
    } catch (...) {
        // What ended the upload is what the caller hears of, not what the hook throws again while this tidies up.
    }
}

void cFTP::RemoveLeftovers(const std::string& ServerFileAndPath) {
    const size_t slash = ServerFileAndPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : ServerFileAndPath.substr(0, slash + 1);
    const std::string name = ServerFileAndPath.substr(folder.size());
    std::vector<std::string> names;
    // A server that does not list the folder keeps them: they are clutter, not a reason to fail the send.
    if (!inet::FtpListNames(m_ConnectionHandle, Arg(folder), &names))
        return;
    for (const std::string& found : names) {
        if (files::IsTemporaryOf(found, name))
            inet::FtpDeleteFileA(m_ConnectionHandle, Arg(folder + found));
    }
}

std::string cFTP::SendFailure(const std::string& LocalFileAndPath, const std::string& SentAs,
                              const std::string& ServerFileAndPath, winapi::DWORD lErrorCode) {
    std::string text =
        ReplaceAll("Couldn't Send File %s to Server", "%s", ServerFileAndPath) + "\r\n" + ExtendedErrorText(lErrorCode);
    if (lErrorCode != inet::ERROR_INTERNET_COPY_MISMATCH)
        return text + ReasonLine(lErrorCode);
    // The sizes say most, where the server tells its own.
    std::uint64_t there = 0;
    const std::uint64_t sent = files::FileLen(LocalFileAndPath);
    if (inet::FtpGetRemoteFileSize(m_ConnectionHandle, Arg(SentAs), &there) && there != sent)
        return text + "\r\nThe server holds " + std::to_string(there) + " bytes of " + ServerFileAndPath + ", but " +
               std::to_string(sent) + " bytes were sent. Please send again.";
    return text + "\r\nThe copy of " + ServerFileAndPath +
           " on the server differs from the file sent, also after sending it again. Please send again.";
}

bool cFTP::RenameFile(const std::string& ExistingName, const std::string& NewName) {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::RenameFile", kNotConnected);
    std::optional<std::string> description;
    try {
        if (!inet::FtpRenameFileA(m_ConnectionHandle, Arg(ExistingName), Arg(NewName))) {
            const winapi::DWORD error = winapi::GetLastError();
            description = ReplaceAll("Couldn't Rename File %s", "%s", ExistingName) + "\r\n" + ExtendedErrorText(error);
        }
    } catch (...) {
        Reraise("cFTP::RenameFile");
    }
    if (description)
        throw zel::Error(Number(cFTP::CannotRename), "KTFTP::RenameFile", *description);
    return true;
}

bool cFTP::DeleteFile(const std::string& ExistingName) {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::DeleteFile", kNotConnected);
    bool done = false;
    try {
        done = inet::FtpDeleteFileA(m_ConnectionHandle, Arg(ExistingName)) != winapi::FALSE;
    } catch (...) {
        Reraise("cFTP::DeleteFile");
    }
    if (!done)
        throw zel::Error(Number(cFTP::CannotDelete), "KTFTP::DeleteFile",
                         ReplaceAll("Couldn't Delete File %s from Server", "%s", ExistingName));
    return true;
}

bool cFTP::RemoteFileSize(const std::string& ServerFileAndPath, std::uint64_t& size) {
    if (m_ConnectionHandle == 0)
        throw zel::Error(Number(cFTP::NotConnected), "KTFTP::RemoteFileSize", kNotConnected);
    try {
        std::uint64_t answer = 0;
        if (!inet::FtpGetRemoteFileSize(m_ConnectionHandle, Arg(ServerFileAndPath), &answer))
            return false;
        size = answer;
        return true;
    } catch (...) {
        Reraise("cFTP::RemoteFileSize");
    }
}

void cFTP::RemoteChDir(std::string sDirectory) {
    bool done = false;
    try {
        for (char& c : sDirectory) {
            if (c == '\\')
                c = '/';
        }
        done = inet::FtpSetCurrentDirectoryA(m_ConnectionHandle, Arg(sDirectory)) != winapi::FALSE;
    } catch (...) {
        Reraise("cFTP::RemoteChDir");
    }
    if (!done)
        throw zel::Error(
            Number(cFTP::CannotChangeDirectory), "KTFTP::ChangeDirectory",
            ReplaceAll("Cannot Change Directory to %s. It either doesn't exist, or is protected", "%s", sDirectory));
}

std::string cFTP::ExtendedErrorText(winapi::DWORD lErrorCode) {
    if (lErrorCode != inet::ERROR_INTERNET_EXTENDED_ERROR)
        return {};
    winapi::DWORD responseError = 0;
    winapi::DWORD length = 0;
    inet::InternetGetLastResponseInfoA(&responseError, nullptr, &length); // only the length is wanted here
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    inet::InternetGetLastResponseInfoA(&responseError, buffer.data(), &length);
    return "\r\n" + buffer;
}
