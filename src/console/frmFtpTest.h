#pragma once

#include <QWidget>

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
struct TransferSettings;

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

    // The window's working state, read and written by start-up and the workflows.
    std::string HostName;
    std::string DataFolder;
    std::string RemoteFixedArchive;
    std::string RemoteSendArchive;
    std::string LocalSendArchive;
    std::string LocalFixedArchive;
    std::string BackupWarning;
    std::string StartWarning;
    bool UseTova = true;
    bool UseLedgra = true;
    bool LedgraOnline = true;
    std::unique_ptr<cFTP> Ftp;

    // A workflow is running: the action buttons start nothing new.
    bool Running() const { return m_Running; }

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
    frmProgress* ProgressWindow();
    // What a transfer works on: the window's state with the credentials of the successful test.
    TransferSettings Settings() const;

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

    std::string m_StatusText;
    bool m_Running = false;
    Workflow* m_Workflow = nullptr;
    frmProgress* m_Progress = nullptr;
    bool m_CloseRequested = false;
    bool m_ExitRequested = false;
    // The host and credentials of the successful connection test: the transfers log in with exactly these.
    std::string m_TestedHost;
    std::string m_TestedUser;
    std::string m_TestedPassword;
    frmChoose* m_Choose = nullptr;
    frmHelp* m_Help = nullptr;
    dlgHost* m_Host = nullptr;

    friend class Workflow;
};
