#include "platform/inet/Socket.h"

#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#else
#include <sys/socket.h>
#endif

namespace inet::detail {

#ifdef __linux__

std::uint64_t QueuedBytes(curl_socket_t socket) {
    int queued = 0;
    if (socket != CURL_SOCKET_BAD && ::ioctl(socket, SIOCOUTQ, &queued) == 0 && queued > 0)
        return static_cast<std::uint64_t>(queued);
    return 0;
}

void PrepareSocket(curl_socket_t) {}

#else

// Other POSIX systems do not tell what is queued.
std::uint64_t QueuedBytes(curl_socket_t) {
    return 0;
}

void PrepareSocket(curl_socket_t socket) {
    const int buffer = 256 * 1024;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
}

#endif

} // namespace inet::detail
