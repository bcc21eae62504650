#pragma once

#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

// The help window: a fixed text on how to use the program.
class frmHelp : public QDialog {
    Q_OBJECT
public:
    explicit frmHelp(QWidget* owner = nullptr);

    // The help text as the program holds it (CRLF line breaks).
    static std::string HelpText();
    std::string Text() const { return m_Text; }

private:
    void Command1_Click();

    QPlainTextEdit* m_Text1;
    QPushButton* m_Command1;
    std::string m_Text;
};
