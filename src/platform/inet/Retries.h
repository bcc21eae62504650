#pragma once

// Trying a call again: the one loop of attempts, with the waits between them and the one status line that announces
// each retry. Internal to inet.
#include "platform/inet/Connection.h"

#include <cstdint>
#include <functional>

namespace inet::detail {

// How one attempt of a call ended.
struct Outcome {
    DWORD error = ERROR_SUCCESS;
    bool retriable = false;
    bool mismatch = false;   // complete, but not the same bytes: start again from the beginning
    std::uint64_t done = 0;  // how far it came, for the status line
    std::uint64_t total = 0; // 0 when unknown
};

// Runs attempts until one succeeds, one fails for good, or the retries are used up (ZEL_FTP_RETRY_WAITS), telling the
// notice hook before each wait and calling the progress hook all along; the result becomes the thread's last-error
// code. An attempt is asked to resume after one that was interrupted, not after one whose copy did not match.
BOOL WithRetries(Connection& conn, const std::function<Outcome(bool resume)>& attempt);

} // namespace inet::detail
