#pragma once

#include <string>

// Window-system services that every layer may use without knowing about widgets.
namespace ui {

inline const char* const AppTitle = "ZEL FTP CLIENT";

enum class Buttons { Ok, OkCancel, YesNoCancel };
enum class Icon { None, Exclamation };
enum class Answer { Ok, Cancel, Yes, No };

class Services {
public:
    virtual ~Services() = default;

    // Modal message box. defaultButton is 0-based among the buttons shown; an empty title shows AppTitle.
    virtual Answer MsgBox(const std::string& text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
                          int defaultButton = 0, const std::string& title = {}) = 0;
    // Modal text-input box with OK and Cancel under the application title; Cancel gives empty text.
    virtual std::string InputBox(const std::string& prompt) = 0;
    // Processes every pending window event once, painting included.
    virtual void DoEvents() = 0;
    // Application-wide busy pointer on or off.
    virtual void SetBusy(bool busy) = 0;
    // Ends the program at once: no further handler runs. Callers return right after calling it.
    virtual void End() = 0;
};

// The services in force; a Qt implementation by default in the program, a scripted one in tests.
Services& Current();
// Installs the services (not owned); nullptr restores the default, which must have been set first.
void Install(Services* services);

} // namespace ui
