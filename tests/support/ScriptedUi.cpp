#include "support/ScriptedUi.h"

#include <QCoreApplication>

namespace ui {

namespace {
Services* tryCurrent() {
    try {
        return &Current();
    } catch (...) {
        return nullptr;
    }
}
} // namespace

ScriptedUi::ScriptedUi() : m_Previous(tryCurrent()) {
    Install(this);
}

ScriptedUi::~ScriptedUi() {
    Install(m_Previous);
}

Answer ScriptedUi::MsgBox(const std::string& text, Buttons buttons, Icon icon, int defaultButton,
                          const std::string& title) {
    boxes.push_back({text, title.empty() ? std::string(AppTitle) : title, buttons, icon, defaultButton, false});
    if (answers.empty()) {
        ++unexpectedBoxes;
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
    Answer a = answers.front();
    answers.pop_front();
    return a;
}

std::string ScriptedUi::InputBox(const std::string& prompt) {
    boxes.push_back({prompt, AppTitle, Buttons::OkCancel, Icon::None, 0, true});
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
    if (pumpRealEvents && QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void ScriptedUi::SetBusy(bool b) {
    if (b != busy)
        ++busyChanges;
    busy = b;
}

void ScriptedUi::End() {
    ended = true;
}

} // namespace ui
