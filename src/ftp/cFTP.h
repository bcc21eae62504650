#pragma once

#include "platform/inet/Inet.h"

#include <cstdint>
#include <optional>
#include <string>

// One FTP session: an internet session for the object's life and at most one connection.
// Every failure is raised as zel::Error; operations return true when they complete.
class cFTP {
public:
    // The class's own errors are raised as zel::vbObjectError + one of these codes, each for one failure (the system
    // gives a failed RenameFile the code of a failed PutFile).
    static constexpr std::int32_t CannotConnect = 2001;         // Connect made no connection
    static constexpr std::int32_t CannotChangeDirectory = 2002; // setting Directory failed
    static constexpr std::int32_t CannotSend = 2003;            // PutFile failed
    static constexpr std::int32_t CannotRename = 2003;          // RenameFile failed
    static constexpr std::int32_t CannotDelete = 2004;          // DeleteFile failed
    static constexpr std::int32_t NotConnected = 2005;          // a call that needs a connection, without one
    static constexpr std::int32_t CannotGet = 2006;             // GetFile failed
    // Refused as things stand: a property or Connect while connected, Connect without a host.
    static constexpr std::int32_t NotAllowed = 2007;
    static constexpr std::int32_t NoSession = 2008; // the internet session cannot be opened

    cFTP(); // raises NoSession
    ~cFTP();
    cFTP(const cFTP&) = delete;
    cFTP& operator=(const cFTP&) = delete;

    void SetHost(const std::string& sHostName);
    std::string Host() const;
    void SetUser(const std::string& sUserName);
    std::string User() const;
    void SetPassword(const std::string& sPassword);
    std::string Password() const;
    std::string Directory() const;
    void SetDirectory(const std::string& sDirectory);
    bool Connected() const;

    // An empty argument counts as omitted.
    bool Connect(const std::string& Host = {}, const std::string& User = {}, const std::string& Password = {});
    bool Disconnect();
    bool GetFile(const std::string& ServerFileAndPath, const std::string& DestinationFileAndPath,
                 std::int32_t TransferType = inet::FTP_TRANSFER_TYPE_BINARY);
    // The upload goes to a temporary name beside the target and is renamed over it once verified, so that nobody
    // on the server sees a part of it under the target's name; a failed or cancelled upload leaves nothing there,
    // and the temporaries that earlier ones could not remove go first.
    bool PutFile(const std::string& LocalFileAndPath, const std::string& ServerFileAndPath,
                 std::int32_t TransferType = inet::FTP_TRANSFER_TYPE_BINARY);
    bool RenameFile(const std::string& ExistingName, const std::string& NewName);
    bool DeleteFile(const std::string& ExistingName);

    // The server's size of a remote file through SIZE. False when the server does not answer it
    // (the caller then cannot compare); raises NotConnected when not connected.
    bool RemoteFileSize(const std::string& ServerFileAndPath, std::uint64_t& size);

private:
    void RemoteChDir(std::string sDirectory);
    std::string ExtendedErrorText(winapi::DWORD lErrorCode);
    // PutFile's work: the failure's description, or nothing once the file is in place.
    std::optional<std::string> Publish(const std::string& LocalFileAndPath, const std::string& ServerFileAndPath,
                                       winapi::DWORD Flags);
    // Deletes what a failed or cancelled upload left on the server, also after a cancel, connecting again once
    // when the line is gone.
    void Remove(const std::string& ServerFileAndPath);
    void RemoveAfterThrow(const std::string& ServerFileAndPath) noexcept;
    // Deletes the temporaries earlier uploads to the target left beside it (and only those).
    void RemoveLeftovers(const std::string& ServerFileAndPath);
    // PutFile's failure text; SentAs is the name the file was sent under.
    std::string SendFailure(const std::string& LocalFileAndPath, const std::string& SentAs,
                            const std::string& ServerFileAndPath, winapi::DWORD lErrorCode);

    inet::HINTERNET m_SessionHandle = 0;
    inet::HINTERNET m_ConnectionHandle = 0;
    std::string m_Host;
    std::string m_User;
    std::string m_Password;
    std::string m_Directory;
};
