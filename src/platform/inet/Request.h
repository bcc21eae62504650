#pragma once

// One request over a connection: what it may carry, the options every request sets, the driver that keeps the
// progress hook called while curl works, and curl's callbacks. Internal to inet.
#include "platform/inet/Connection.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace inet::detail {

// How a call in the platform's shape succeeds: the thread's last error cleared, TRUE (winapi::Failed fails).
BOOL Succeeded();
// Anything that would end the command line early lets a caller smuggle in a second command.
bool SafeText(const char* text);
// Calls `take` with each line of the text, without its line break (LF or CRLF).
void ForEachLine(std::string_view text, const std::function<void(std::string_view line)>& take);
// A remote file name must name a file: curl would list a folder for an empty name or a trailing "/".
bool UsableRemoteFile(const char* remote);
std::string RemoteUrl(const Connection& conn, const char* remote);

// Options that differ between requests are set every time, so that no request inherits another's.
void PrepareRequest(Connection& conn, const std::string& url, bool upload, bool noBody);
// Drives one request through the multi handle so that the hook runs while it blocks. What a callback threw is
// rethrown here, once curl has let go.
CURLcode Perform(Connection& conn);
// Calls the hook when it is due; false when the call must end (cancelled, or the handle closed meanwhile).
bool HookAllows(Connection& conn) noexcept;
// Sends one command over the control connection and returns the reply's code (0 when none came).
int SendCommand(Connection& conn, const std::string& command, CURLcode& result);
// What a hook threw while a call ran, passed on once nothing of curl's is left on the stack.
void RethrowStashed(Connection& conn);

// curl's callbacks for every request of a connection, set when it is made (Session.cpp): the replies, the progress
// (and the hook), the sockets.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept;
int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) noexcept;
int OnSocket(void* user, curl_socket_t socket, curlsocktype purpose) noexcept;

// The local side of a transfer, for the read and write callbacks.
struct LocalFile {
    Connection* conn;
    std::FILE* file;
};
std::size_t Discard(char* data, std::size_t size, std::size_t count, void* user) noexcept;
std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* user) noexcept;
std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* user) noexcept;

} // namespace inet::detail
