#include "platform/zipengine/Progress.h"

#include <utility>

namespace zipengine::detail {

Progress::Progress(zel::ProgressHook hook) : m_Hook(std::move(hook)), m_Due(zel::ProgressInterval) {
    m_Due.Due(); // the first call is one interval away
}

bool Progress::Update(std::uint64_t done) {
    m_Done = done;
    if (m_Hook && !m_Cancelled && m_Due.Due())
        Call();
    return !m_Cancelled;
}

bool Progress::Report(std::uint64_t done) {
    m_Done = done;
    if (m_Hook && !m_Cancelled) {
        m_Due.Reset();
        m_Due.Due();
        Call();
    }
    return !m_Cancelled;
}

void Progress::Call() {
    if (!m_Hook(m_Done, m_Total))
        m_Cancelled = true;
}

} // namespace zipengine::detail
