#pragma once

#include "platform/ui/UiServices.h"

#include <QtGlobal>

#include <deque>
#include <string>
#include <vector>

namespace ui {

// Test double, installed while alive: answers boxes from queues, records what was shown, and pumps the real
// events on DoEvents.
class ScriptedUi : public Services {
public:
    struct Box {
        std::string text;
        std::string title; // as shown: AppTitle when the caller gave none
        Buttons buttons;
        Icon icon;
    };

    ScriptedUi();
    ~ScriptedUi() override;
    Q_DISABLE_COPY(ScriptedUi)

    // A box with no queued answer counts as unexpected and is answered Cancel (OK where that is all it has); an
    // input box with no queued text gets empty text.
    Answer MsgBox(const std::string& text, Buttons buttons, Icon icon, int defaultButton,
                  const std::string& title) override;
    std::string InputBox(const std::string& prompt) override;
    void DoEvents() override;
    void SetBusy(bool on) override { busy = on; }
    void End() override { ended = true; }

    std::deque<Answer> answers;
    std::deque<std::string> inputs;
    std::vector<Box> boxes; // input boxes too
    int unexpectedBoxes = 0;
    int doEventsCalls = 0;
    bool busy = false;
    bool ended = false;

private:
    Services* m_Previous = nullptr;
};

} // namespace ui
