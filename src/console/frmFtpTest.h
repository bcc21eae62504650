#pragma once

#include "transfer/TransferRun.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class cFTP;
class dlgHost;
class frmChoose;
class frmHelp;
class frmProgress;
class Workflow;

// The program's main window: credentials, the three actions, the status log and the data folder.
class frmFtpTest : public QWidget {
    Q_OBJECT
public:
    explicit frmFtpTest(QWidget* parent = nullptr);
    ~frmFtpTest() override;

    // The whole program: services, start-up, window, event loop.
    static int Run();

    // Start-up before the window is first shown; false when the program was ended.
    bool Load();

    void PrintStatus(const std::string& text);
    void SetConnectedState(bool connected);
    // The log as the program holds it (CRLF line breaks).
    const std::string& StatusText() const { return m_StatusText; }

    // The window's working state: set by start-up and the connection test, read by the transfers.
    TransferSettings State;
    std::unique_ptr<cFTP> Ftp;

    // A workflow is running: the action buttons start nothing new.
    bool Running() const { return m_Running; }
    // The user asked to leave (Exit, or the window closed) while a workflow ran.
    bool Leaving() const { return m_CloseRequested || m_ExitRequested; }
    // The progress window of the running workflow, made on first use.
    frmProgress* ProgressWindow();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void cmdTest_Click();
    void cmdPut_Click();
    void cmdGet_Click();
    void Command1_Click();
    void help_Click();
    void txtUser_KeyDown(int keyCode, int shift);
    void CancelWorkflow();
    // Runs one workflow with the window set for it; a run that the user left ends the program or closes the
    // window once it has wound up.
    void RunWorkflow(QAbstractButton* other, const std::function<void(TransferRun&)>& work);

    std::string UserText() const;
    std::string PasswordText() const;

    QGroupBox* m_Frame1;
    QLabel* m_Label1_1;
    QLineEdit* m_txtUser;
    QLineEdit* m_txtPassword;
    QLabel* m_Label1_2;
    QAbstractButton* m_cmdTest;
    QAbstractButton* m_cmdPut;
    QAbstractButton* m_cmdGet;
    QGroupBox* m_Frame2;
    QPlainTextEdit* m_Status;
    QGroupBox* m_Frame3;
    QLabel* m_lblTovaDirectory;
    QLabel* m_help;
    QAbstractButton* m_Command1;

    std::string m_StartWarning;
    std::string m_StatusText;
    bool m_Running = false;
    Workflow* m_Workflow = nullptr;
    frmProgress* m_Progress = nullptr;
    bool m_CloseRequested = false;
    bool m_ExitRequested = false;
    frmChoose* m_Choose = nullptr;
    frmHelp* m_Help = nullptr;
    dlgHost* m_Host = nullptr;
};
