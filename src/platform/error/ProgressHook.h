#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>

namespace zel {

// Called by a long platform call while it blocks: bytes done so far and the total (0 when unknown).
// The stand-ins call it at least every 50 ms, also while nothing moves (connecting, waiting for a
// reply), so the caller can pump window events. Returning false cancels the call.
using ProgressHook = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// The one throttle for progress reports and event pumps: Due() is true at the first call and then once per
// interval, so a caller in a tight loop reports often enough without reporting on every byte.
class Throttle {
public:
    using Clock = std::chrono::steady_clock;
    explicit Throttle(Clock::duration interval) : m_Interval(interval) {}
    bool Due() {
        const auto now = Clock::now();
        if (m_Started && now - m_Last < m_Interval)
            return false;
        m_Started = true;
        m_Last = now;
        return true;
    }
    // The next Due() is true again.
    void Reset() { m_Started = false; }

private:
    Clock::duration m_Interval;
    Clock::time_point m_Last{};
    bool m_Started = false;
};

// How often the stand-ins report progress, and so how often the window's events are pumped, while a long call
// runs: well within the 100 ms a window may stay unanswered.
inline constexpr auto ProgressInterval = std::chrono::milliseconds(20);

// Runs blocking work (a large rename, a sync, a deletion) on a thread of its own while the calling thread keeps
// calling `keepAlive` every ProgressInterval, so that the window stays alive; returns what the work returns and
// throws what it throws. keepAlive's answer is not looked at: work that has begun is not stopped half-way.
template <typename Work> auto RunBeside(Work work, const std::function<void()>& keepAlive) {
    auto done = std::async(std::launch::async, std::move(work));
    while (done.wait_for(ProgressInterval) != std::future_status::ready)
        if (keepAlive)
            keepAlive();
    return done.get();
}

} // namespace zel
