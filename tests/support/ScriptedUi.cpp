#include "support/ScriptedUi.h"

#include <QCoreApplication>

namespace ui {

ScriptedUi::ScriptedUi() {
    try {
        m_Previous = &Current();
    } catch (...) {
        // none installed yet
    }
    Install(this);
}

ScriptedUi::~ScriptedUi() {
    Install(m_Previous);
}

Answer ScriptedUi::MsgBox(const std::string& text, Buttons buttons, Icon icon, int, const std::string& title) {
    boxes.push_back({text, title.empty() ? std::string(AppTitle) : title, buttons, icon});
    if (answers.empty()) {
        ++unexpectedBoxes;
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

std::string ScriptedUi::InputBox(const std::string& prompt) {
    boxes.push_back({prompt, AppTitle, Buttons::OkCancel, Icon::None});
    if (inputs.empty()) {
        ++unexpectedBoxes;
        return {};
    }
    std::string s = inputs.front();
    inputs.pop_front();
    return s;
}

void ScriptedUi::DoEvents() {
    ++doEventsCalls;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace ui
