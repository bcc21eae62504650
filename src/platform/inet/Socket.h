#pragma once

// What the system tells about an upload's data socket, one file per system, chosen by CMake: SocketPosix.cpp,
// SocketWindows.cpp. Internal to inet.
#include "platform/inet/Connection.h"

#include <cstdint>

namespace inet::detail {

// Bytes of an upload still in the socket's send queue (not yet acknowledged by the server); 0 where the system does
// not tell.
std::uint64_t QueuedBytes(curl_socket_t socket);
// Prepares a new socket. Where the system does not tell what is queued, the send buffer is kept small instead, so that
// progress runs ahead by at most that much and the wait for the final reply stays short.
void PrepareSocket(curl_socket_t socket);

} // namespace inet::detail
