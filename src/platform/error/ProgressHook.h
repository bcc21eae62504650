#pragma once

#include <cstdint>
#include <functional>

namespace zel {

// Called by a long platform call while it blocks: bytes done so far and the total (0 when unknown).
// The stand-ins call it at least every 50 ms, also while nothing moves (connecting, waiting for a
// reply), so the caller can pump window events. Returning false cancels the call.
using ProgressHook = std::function<bool(std::uint64_t done, std::uint64_t total)>;

} // namespace zel
