#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class frmFtpTest;

// One run of a workflow of the main window. While it lives the action buttons start nothing new, long
// platform calls pump window events, and a step that lasts more than a second shows the progress
// window with Cancel.
class Workflow {
public:
    explicit Workflow(frmFtpTest& window);
    ~Workflow();
    Workflow(const Workflow&) = delete;
    Workflow& operator=(const Workflow&) = delete;

    // Names the long step that follows, for the progress window.
    void BeginStep(const std::string& step);
    // Asks the running step to stop (Cancel, or the window being closed).
    void Cancel();
    bool Cancelled() const { return m_Cancelled; }

    // Called by the platform's long calls; false stops them.
    bool OnProgress(std::uint64_t done, std::uint64_t total);

private:
    using Clock = std::chrono::steady_clock;

    frmFtpTest& m_Window;
    std::string m_Step;
    Clock::time_point m_StepStart;
    Clock::time_point m_LastPump;
    Clock::time_point m_LastShown;
    std::uint64_t m_StepBytesAtStart = 0;
    bool m_Cancelled = false;
    bool m_FirstCall = true;
};
