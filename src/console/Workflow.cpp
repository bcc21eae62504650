#include "console/Workflow.h"

#include "console/frmFtpTest.h"
#include "console/frmProgress.h"
#include "platform/ui/UiServices.h"

#include <QAbstractButton>

namespace {
constexpr auto ShowAfter = std::chrono::milliseconds(1000);
constexpr auto PumpEvery = std::chrono::milliseconds(15);
constexpr auto RefreshEvery = std::chrono::milliseconds(200);
} // namespace

Workflow::Workflow(frmFtpTest& window, QAbstractButton* other)
    : m_Window(window), m_Other(other), m_Hooks(*this), m_StepStart(Clock::now()), m_Pump(PumpEvery),
      m_Refresh(RefreshEvery) {}

Workflow::~Workflow() {
    if (m_Progress)
        m_Progress->hide();
}

void Workflow::PrintStatus(const std::string& text) {
    m_Window.PrintStatus(text);
}

void Workflow::EnableOtherTransfer(bool enabled) {
    if (m_Other)
        m_Other->setEnabled(enabled);
}

bool Workflow::Leaving() const {
    return m_Window.Leaving();
}

void Workflow::BeginStep(const std::string& step, bool files) {
    m_Step = step;
    m_Files = files;
    m_StepStart = Clock::now();
    m_FirstCall = true;
    if (m_Progress)
        m_Progress->hide();
}

void Workflow::Retrying(const std::string& text, std::chrono::milliseconds wait) {
    PrintStatus(text);
    // Shown at once, with Cancel: the user may rather stop than wait.
    m_Step = text;
    m_StepStart = Clock::now() - ShowAfter;
    m_RetryAt = Clock::now() + wait;
    m_FirstCall = true;
    if (m_Progress)
        m_Progress->hide();
}

bool Workflow::Progress(std::uint64_t done, std::uint64_t total) {
    const auto now = Clock::now();
    if (m_FirstCall) {
        // Bytes may count from an earlier part of the same call; the rate counts from here.
        m_FirstCall = false;
        m_StepBytesAtStart = done;
    }
    if (!m_Cancelled && now - m_StepStart >= ShowAfter && !m_Step.empty()) {
        frmProgress* progress = m_Progress = m_Window.ProgressWindow();
        if (!progress->isVisible()) {
            progress->ShowStep(QString::fromStdString(m_Step));
            progress->show();
            m_Refresh.Reset();
        }
        if (m_Refresh.Due()) {
            if (now < m_RetryAt) {
                progress->ShowWaiting(std::chrono::duration<double>(m_RetryAt - now).count());
            } else {
                const double seconds = std::chrono::duration<double>(now - m_StepStart).count();
                const double rate =
                    seconds > 0.5 && done > m_StepBytesAtStart ? (done - m_StepBytesAtStart) / seconds : 0;
                progress->ShowProgress(done, total, rate, m_Files);
            }
        }
    }
    if (m_Pump.Due())
        ui::Current().DoEvents();
    return !m_Cancelled;
}
