#pragma once

#include "platform/error/ProgressHook.h"
#include "transfer/TransferRun.h"

#include <chrono>
#include <cstdint>
#include <string>

class frmFtpTest;
class frmProgress;
class QAbstractButton;

// One run of a workflow of the main window. While it lives the action buttons start nothing new, long platform
// calls pump window events, and a step that lasts more than a second shows the progress window with Cancel.
class Workflow : public TransferRun {
public:
    // `other` is the transfer button the run disables (none for the connection test).
    Workflow(frmFtpTest& window, QAbstractButton* other);
    ~Workflow() override;
    Workflow(const Workflow&) = delete;
    Workflow& operator=(const Workflow&) = delete;

    void PrintStatus(const std::string& text) override;
    void EnableOtherTransfer(bool enabled) override;
    void BeginStep(const std::string& step, bool files = false) override;
    bool Progress(std::uint64_t done, std::uint64_t total) override;
    bool Cancelled() const override { return m_Cancelled; }
    bool Leaving() const override;
    void Retrying(const std::string& text, std::chrono::milliseconds wait) override;

    // Asks the running step to stop (Cancel, the window being closed, Exit).
    void Cancel() { m_Cancelled = true; }

private:
    using Clock = std::chrono::steady_clock;

    frmFtpTest& m_Window;
    QAbstractButton* m_Other;
    frmProgress* m_Progress = nullptr; // once shown
    PlatformHooks m_Hooks;
    std::string m_Step;
    bool m_Files = false;
    Clock::time_point m_StepStart;
    zel::Throttle m_Pump;
    zel::Throttle m_Refresh;
    std::uint64_t m_StepBytesAtStart = 0;
    bool m_Cancelled = false;
    bool m_FirstCall = true;
    Clock::time_point m_RetryAt; // a retry waits until then
};
