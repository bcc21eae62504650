#pragma once

// The caller's progress hook, as a run calls it. Internal to the engine.

#include "platform/error/ProgressHook.h"

#include <cstdint>

namespace zipengine::detail {

// The hook's calls, at least every progress interval (zel::ProgressInterval) of work from the start on, with bytes
// done that only grow.
class Progress {
public:
    explicit Progress(zel::ProgressHook hook);
    void SetTotal(std::uint64_t total) { m_Total = total; }
    // Sets the bytes done, calling the hook when a progress interval has passed since its last call.
    bool Update(std::uint64_t done);
    // Calls the hook if it is time, with the bytes done as they are.
    bool Poll() { return Update(m_Done); }
    // Reports how far the work is, calling the hook whatever the time since the last call: for a caller that
    // paces its own calls. False once the caller asked to cancel.
    bool Report(std::uint64_t done);
    bool Cancelled() const { return m_Cancelled; }

private:
    void Call();

    zel::ProgressHook m_Hook;
    std::uint64_t m_Total = 0;
    std::uint64_t m_Done = 0;
    zel::Throttle m_Due;
    bool m_Cancelled = false;
};

} // namespace zipengine::detail
