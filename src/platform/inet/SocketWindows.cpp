#include "platform/inet/Socket.h"

#include "platform/error/WindowsMacros.h"
#include <winsock2.h>

namespace inet::detail {

// Windows does not tell what is queued.
std::uint64_t QueuedBytes(curl_socket_t) {
    return 0;
}

void PrepareSocket(curl_socket_t socket) {
    const int buffer = 256 * 1024;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
}

} // namespace inet::detail
