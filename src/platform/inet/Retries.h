#pragma once

// Trying a call again: the waits before the retries, and the notice that announces each. Internal to inet.
#include "platform/inet/Connection.h"

#include <chrono>
#include <string>
#include <vector>

namespace inet::detail {

// The waits before the retries, one per retry.
std::vector<std::chrono::milliseconds> RetryWaits();
// Tells the notice hook and waits, calling the progress hook all along; false when the call must end.
bool AnnounceAndWait(Connection& conn, const std::string& text, std::chrono::milliseconds wait);

} // namespace inet::detail
