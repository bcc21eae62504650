#pragma once

#include "platform/ui/UiServices.h"

#include <QString>

class QDialog;
class QIcon;
class QWidget;

namespace ui {

// The services on Qt Widgets.
class QtUi : public Services {
public:
    ~QtUi() override;

    Answer MsgBox(const std::string& text, Buttons buttons, Icon icon, int defaultButton,
                  const std::string& title) override;
    std::string InputBox(const std::string& prompt) override;
    void DoEvents() override;
    void SetBusy(bool busy) override;
    void End() override;

private:
    bool m_Busy = false;
};

// Modal display owned by a window: returns when the window is hidden; the window and its controls survive.
void ShowModal(QDialog* window, QWidget* owner);
// Hides a window, ending its modal display.
void Hide(QWidget* window);

// Twips (1/1440 inch) to pixels at the screen's logical DPI.
int Twips(const QWidget* widget, int twips);
// Places a control by its twips rectangle inside its container.
void PlaceTwips(QWidget* control, int left, int top, int width, int height);
// Fixes a window's client area in twips.
void SizeTwips(QWidget* window, int width, int height);
// Centres a window on the screen, or on its owner when given.
void Centre(QWidget* window, const QWidget* owner = nullptr);

// The one window icon of the program, drawn in code.
QIcon AppIcon();

// Text of the system (bytes, CRLF line breaks) for a control; NUL characters are dropped.
QString ToDisplay(const std::string& text);

} // namespace ui
