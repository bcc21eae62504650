#pragma once

#include "platform/ui/UiServices.h"

#include <deque>
#include <string>
#include <vector>

namespace ui {

// Test double: answers boxes from queues and records everything shown. Installs itself while alive.
class ScriptedUi : public Services {
public:
    struct Box {
        std::string text;
        std::string title; // as shown: AppTitle when the caller gave none
        Buttons buttons;
        Icon icon;
        int defaultButton;
        bool input; // an input box rather than a message box
    };

    ScriptedUi();
    ~ScriptedUi() override;
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    Answer MsgBox(const std::string& text, Buttons buttons, Icon icon, int defaultButton,
                  const std::string& title) override;
    std::string InputBox(const std::string& prompt) override;
    void DoEvents() override;
    void SetBusy(bool busy) override;
    void End() override;

    // Answers given in order; a box with no queued answer records an unexpected box and answers
    // Cancel (or empty text for an input box).
    std::deque<Answer> answers;
    std::deque<std::string> inputs;

    std::vector<Box> boxes;
    int unexpectedBoxes = 0;
    int doEventsCalls = 0;
    bool busy = false;
    int busyChanges = 0;
    bool ended = false;
    // When set, DoEvents also runs the real event pump (for GUI tests).
    bool pumpRealEvents = false;

private:
    Services* m_Previous;
};

} // namespace ui
