#pragma once

// The handles of the sessions and their connections. Internal to inet.
#include "platform/inet/Connection.h"

#include <memory>

namespace inet::detail {

// The connection for a call, or nullptr with the last-error code set.
std::shared_ptr<Connection> UseConnection(HINTERNET handle);

} // namespace inet::detail
