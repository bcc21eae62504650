#pragma once

#include "platform/ui/UiServices.h"

class QWidget;

namespace ui {

// The services on Qt Widgets.
class QtUi : public Services {
public:
    Answer MsgBox(const std::string& text, Buttons buttons, Icon icon, int defaultButton,
                  const std::string& title) override;
    std::string InputBox(const std::string& prompt) override;
    void DoEvents() override;
    void SetBusy(bool busy) override;
    void End() override;
};

// Modal display owned by a window: returns when the window is hidden; the window survives.
void ShowModal(QWidget* window, QWidget* owner);
// Hides a window, ending its modal display.
void Hide(QWidget* window);

// Twips (1/1440 inch) to pixels on the widget's screen.
int Twips(const QWidget* widget, int twips);


} // namespace ui
