#pragma once

#include "platform/inet/Inet.h"

#include <cstdint>
#include <optional>
#include <string>

// One FTP session: an internet session for the object's life and at most one connection.
// Every failure is raised as zel::Error; operations return true when they complete.
class cFTP {
public:
    cFTP(); // raises 2008 when the internet session cannot be opened
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
    // (the caller then cannot compare); raises 2005 when not connected.
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
