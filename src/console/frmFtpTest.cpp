#include "console/frmFtpTest.h"

#include "console/Workflow.h"
#include "console/frmChoose.h"
#include "console/frmProgress.h"
#include "dialogs/dlgHost.h"
#include "dialogs/frmHelp.h"
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/files/Files.h"
#include "platform/ui/QtUi.h"
#include "profile/WLM_CIni.h"
#include "transfer/Leftover.h"
#include "transfer/ReceiveFiles.h"
#include "transfer/SendFiles.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

namespace {

// A default build never reaches a stranger's server; deployments set ZEL_FTP_HOST.
const char* const BuiltInHost = "ftp.quendal.example";
const char* const CrLf = "\r\n";

std::string DefaultHost() {
    std::string host = files::Environ("ZEL_FTP_HOST");
    return host.empty() ? BuiltInHost : host;
}

// Masks the password with "*" instead of the style's bullet.
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QToolButton* ActionButton(const QString& caption, QStyle::StandardPixmap pixmap, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setText(caption);
    b->setIcon(parent->style()->standardIcon(pixmap));
    b->setIconSize(QSize(20, 20));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

// Mask of the modifier keys as the key handler receives it: Shift 1, Ctrl 2, Alt 4.
int ShiftMask(Qt::KeyboardModifiers m) {
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

constexpr int vbKeyF12 = 123;

// The start-up recovery's run: its status lines wait until the log has begun.
class HeldLines : public TransferRun {
public:
    HeldLines(TransferRun& run, std::vector<std::string>& lines) : m_Run(run), m_Lines(lines) {}
    void PrintStatus(const std::string& text) override { m_Lines.push_back(text); }
    void EnableOtherTransfer(bool enabled) override { m_Run.EnableOtherTransfer(enabled); }
    void BeginStep(const std::string& step, bool files) override { m_Run.BeginStep(step, files); }
    bool Progress(std::uint64_t done, std::uint64_t total) override { return m_Run.Progress(done, total); }
    bool Cancelled() const override { return m_Run.Cancelled(); }
    bool Leaving() const override { return m_Run.Leaving(); }

private:
    TransferRun& m_Run;
    std::vector<std::string>& m_Lines;
};

} // namespace

frmFtpTest::frmFtpTest(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmFtpTest"));
    setWindowTitle(QString::fromLatin1(ui::AppTitle));
    setWindowIcon(ui::AppIcon());
    ui::SizeTwips(this, 3975, 5970);

    QFont labelFont = font();
    labelFont.setPointSizeF(9.75);

    m_Frame1 = new QGroupBox(QStringLiteral("Connect to Quendal Software"), this);
    m_Frame1->setObjectName(QStringLiteral("Frame1"));
    ui::PlaceTwips(m_Frame1, 120, 120, 3735, 2055);

    m_Label1_1 = new QLabel(QStringLiteral("Username:"), m_Frame1);
    m_Label1_1->setObjectName(QStringLiteral("Label1"));
    m_Label1_1->setProperty("index", 1);
    m_Label1_1->setFont(labelFont);
    ui::PlaceTwips(m_Label1_1, 210, 360, 1050, 285);

    m_txtUser = new QLineEdit(m_Frame1);
    m_txtUser->setObjectName(QStringLiteral("txtUser"));
    m_txtUser->setAccessibleName(QStringLiteral("Username:"));
    m_Label1_1->setBuddy(m_txtUser);
    ui::PlaceTwips(m_txtUser, 1290, 360, 1500, 330);
    m_txtUser->installEventFilter(this);

    m_txtPassword = new QLineEdit(m_Frame1);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setAccessibleName(QStringLiteral("Password:"));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    auto* starStyle = new StarPasswordStyle;
    starStyle->setParent(m_txtPassword);
    m_txtPassword->setStyle(starStyle);
    ui::PlaceTwips(m_txtPassword, 1290, 840, 1500, 345);

    m_Label1_2 = new QLabel(QStringLiteral("Password:"), m_Frame1);
    m_Label1_2->setObjectName(QStringLiteral("Label1"));
    m_Label1_2->setProperty("index", 2);
    m_Label1_2->setFont(labelFont);
    m_Label1_2->setBuddy(m_txtPassword);
    ui::PlaceTwips(m_Label1_2, 210, 840, 975, 285);

    m_cmdTest = ActionButton(QStringLiteral("&Test Connection"), QStyle::SP_DriveNetIcon, m_Frame1);
    m_cmdTest->setObjectName(QStringLiteral("cmdTest"));
    ui::PlaceTwips(m_cmdTest, 1080, 1320, 1515, 615);

    m_cmdPut = ActionButton(QStringLiteral("&Send Files"), QStyle::SP_ArrowUp, this);
    m_cmdPut->setObjectName(QStringLiteral("cmdPut"));
    ui::PlaceTwips(m_cmdPut, 600, 2280, 1170, 615);

    m_cmdGet = ActionButton(QStringLiteral("&Receive Files"), QStyle::SP_ArrowDown, this);
    m_cmdGet->setObjectName(QStringLiteral("cmdGet"));
    ui::PlaceTwips(m_cmdGet, 2160, 2280, 1170, 615);

    m_Frame2 = new QGroupBox(QStringLiteral("Status"), this);
    m_Frame2->setObjectName(QStringLiteral("Frame2"));
    ui::PlaceTwips(m_Frame2, 120, 3000, 3735, 1695);

    // Drawn inside the area of Frame2 but a child of the window.
    m_Status = new QPlainTextEdit(this);
    m_Status->setObjectName(QStringLiteral("Status"));
    m_Status->setAccessibleName(QStringLiteral("Status"));
    m_Status->setReadOnly(true);
    m_Status->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui::PlaceTwips(m_Status, 240, 3240, 3495, 1335);

    m_Frame3 = new QGroupBox(this);
    m_Frame3->setObjectName(QStringLiteral("Frame3"));
    ui::PlaceTwips(m_Frame3, 120, 4800, 3735, 615);

    m_lblTovaDirectory = new QLabel(m_Frame3);
    m_lblTovaDirectory->setObjectName(QStringLiteral("lblTovaDirectory"));
    ui::PlaceTwips(m_lblTovaDirectory, 120, 240, 2775, 255);

    m_help = new QLabel(QStringLiteral("Help"), this);
    m_help->setObjectName(QStringLiteral("help"));
    QFont linkFont = font();
    linkFont.setPointSizeF(8.25);
    linkFont.setUnderline(true);
    m_help->setFont(linkFont);
    QPalette linkPalette = m_help->palette();
    linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_help->setPalette(linkPalette);
    m_help->setCursor(Qt::PointingHandCursor);
    ui::PlaceTwips(m_help, 120, 5640, 495, 255);
    m_help->installEventFilter(this);

    auto* exitButton = new QToolButton(this);
    exitButton->setText(QStringLiteral("&Exit"));
    exitButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    exitButton->setFocusPolicy(Qt::StrongFocus);
    m_Command1 = exitButton;
    m_Command1->setObjectName(QStringLiteral("Command1"));
    ui::PlaceTwips(m_Command1, 2880, 5520, 975, 375);

    connect(m_cmdTest, &QAbstractButton::clicked, this, &frmFtpTest::cmdTest_Click);
    connect(m_cmdPut, &QAbstractButton::clicked, this, &frmFtpTest::cmdPut_Click);
    connect(m_cmdGet, &QAbstractButton::clicked, this, &frmFtpTest::cmdGet_Click);
    connect(m_Command1, &QAbstractButton::clicked, this, &frmFtpTest::Command1_Click);

    // Tab order of the controls that take the focus.
    setTabOrder(m_cmdGet, m_cmdPut);
    setTabOrder(m_cmdPut, m_txtUser);
    setTabOrder(m_txtUser, m_txtPassword);
    setTabOrder(m_txtPassword, m_cmdTest);
    setTabOrder(m_cmdTest, m_Command1);
    setTabOrder(m_Command1, m_Status);

    ui::Centre(this);
}

frmFtpTest::~frmFtpTest() = default;

int frmFtpTest::Run() {
    ui::QtUi services;
    ui::Install(&services);
    QApplication::setWindowIcon(ui::AppIcon());
    // The small type of the desktop tools this window is laid out for.
    QFont small = QApplication::font();
    small.setPointSizeF(8.25);
    QApplication::setFont(small);
    frmFtpTest window;
    if (!window.Load())
        return 0;
    window.show();
    window.m_txtUser->setFocus();
    const int rc = QApplication::exec();
    ui::Install(nullptr);
    return rc;
}

bool frmFtpTest::Load() {
    auto& ui = ui::Current();
    State.UseTova = true;
    State.UseLedgra = true;
    State.LedgraOnline = true;

    const std::string windowsFolder = files::Environ("WINDIR");
    std::string ledgraFolder;
    std::string programName;
    {
        WLM_CIni tovaIni;
        tovaIni.SetFileName(windowsFolder + "\\tovacfg.ini");
        if (!tovaIni.ReadValue("Paths", "DataPath", State.DataFolder))
            State.UseTova = false;

        WLM_CIni ledgraIni;
        ledgraIni.SetFileName(windowsFolder + "\\ledgra2.ini");
        if (!ledgraIni.ReadValue("General Information", "dbpath", ledgraFolder)) {
            State.UseLedgra = false;
        } else {
            // Optional: a missing key leaves the name empty, which is simply not the online edition.
            ledgraIni.ReadValue("General Information", "ProgramName", programName);
            if (programName != "PALVEX.EXE" && programName != "palvex.exe" && programName != "Palvex.exe")
                State.LedgraOnline = false;
        }
    }

    // What a receive killed or cut short left is put back in every installed product's data folder before anything
    // can end the program: the chooser and the warnings below can.
    const auto withSeparator = [](std::string folder) {
        if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
            folder += "\\"; // without it every name would be appended to the folder's own name
        return folder;
    };
    const std::string tovaFolder = State.UseTova ? withSeparator(State.DataFolder) : std::string();
    if (State.UseLedgra)
        ledgraFolder += "\\";
    std::vector<std::string> recoveryLines;
    if (State.UseTova || State.UseLedgra) {
        RunWorkflow(nullptr, [&](TransferRun& workflow) {
            HeldLines run(workflow, recoveryLines);
            RecoverAtStartUp({tovaFolder, State.UseLedgra ? ledgraFolder : std::string()}, run);
        });
    }

    if (!State.UseTova && !State.UseLedgra) {
        ui.MsgBox(std::string("ZEL CONNECT cannot find an initialization file for either Ledgra or TOVA") + CrLf +
                      CrLf + "Program will now exit.",
                  ui::Buttons::Ok, ui::Icon::None, 0, ui::AppTitle);
        ui.End();
        return false;
    }

    if (State.UseTova && State.UseLedgra) {
        if (!m_Choose)
            m_Choose = new frmChoose(this);
        ui::ShowModal(m_Choose, this);
        if (m_Choose->Cancelled())
            return false;
        State.UseTova = m_Choose->TovaSelected();
        State.UseLedgra = m_Choose->LedgraSelected();
    }

    const std::string product = State.UseTova ? "TOVA" : "Ledgra";
    m_StartWarning = "Before you begin, please make sure all users have exited " + product + ", " +
                     "and that you do not have any other programs running." + CrLf + CrLf +
                     "Click OK to continue, Cancel to abort.";
    if (ui.MsgBox(m_StartWarning, ui::Buttons::OkCancel, ui::Icon::None, 0, ui::AppTitle) == ui::Answer::Cancel) {
        ui.End();
        return false;
    }

    State.DataFolder = State.UseLedgra ? ledgraFolder : tovaFolder;
    m_Frame3->setTitle(!State.UseLedgra      ? QStringLiteral("TOVA Directory")
                       : !State.LedgraOnline ? QStringLiteral("Ledgra Directory")
                                             : QStringLiteral("Ledgra Online Directory"));

    try {
        Ftp = std::make_unique<cFTP>();
    } catch (const zel::Error& e) {
        ui.MsgBox(e.Description(), ui::Buttons::Ok, ui::Icon::None, 0, ui::AppTitle);
        ui.End();
        return false;
    }

    SetConnectedState(false);
    State.HostName = DefaultHost();
    State.LocalSendArchive = State.DataFolder + "ZEL.ZIP";
    State.LocalFixedArchive = State.DataFolder + "FIXED.ZIP";
    PrintStatus("Not connected.");
    for (const std::string& line : recoveryLines)
        PrintStatus(line);
    m_lblTovaDirectory->setText(QString::fromStdString(State.DataFolder));
    State.BackupWarning = std::string("It is HIGHLY recommended that you first make a copy of ") + CrLf +
                          State.DataFolder + " before proceeding." + CrLf + CrLf +
                          "Click OK to continue, Cancel to abort.";
    return true;
}

void frmFtpTest::PrintStatus(const std::string& text) {
    m_StatusText = m_StatusText + CrLf + "- " + text;
    m_Status->setPlainText(ui::ToDisplay(m_StatusText));
    m_Status->moveCursor(QTextCursor::End);
    m_Status->ensureCursorVisible();
}

void frmFtpTest::SetConnectedState(bool connected) {
    m_txtUser->setEnabled(!connected);
    m_txtPassword->setEnabled(!connected);
    m_cmdTest->setEnabled(!connected);
    m_cmdGet->setEnabled(connected);
    m_cmdPut->setEnabled(connected);
}

std::string frmFtpTest::UserText() const {
    return m_txtUser->text().toStdString();
}
std::string frmFtpTest::PasswordText() const {
    return m_txtPassword->text().toStdString();
}

void frmFtpTest::cmdTest_Click() {
    if (m_Running)
        return;
    auto& ui = ui::Current();
    const std::string user = UserText();
    const std::string password = PasswordText();
    if (user.empty() || password.empty()) {
        ui.MsgBox("Please fill in both username and password values.", ui::Buttons::Ok, ui::Icon::None, 0,
                  ui::AppTitle);
        return;
    }

    RunWorkflow(nullptr, [&](TransferRun& run) {
        // What is tested is what the transfers will use: the boxes cannot change while the login runs.
        m_txtUser->setReadOnly(true);
        m_txtPassword->setReadOnly(true);
        const std::string host = State.HostName;
        try {
            State.RemoteSendArchive = "/home/" + user + "/ZEL.ZIP";
            State.RemoteFixedArchive = "/home/" + user + "/FIXED.ZIP";
            PrintStatus("Attempting to connect to " + user + " at " + host);
            ui.DoEvents();
            const transfer::BusyPointer busy;
            run.BeginStep("Connecting to " + host);
            LogIn(*Ftp, host, user, password);
            State.TestedHost = host;
            State.User = user;
            State.Password = password;
            SetConnectedState(Ftp->Connected());
            Ftp->Disconnect();
        } catch (const std::exception& e) {
            if (Ftp->Connected())
                Ftp->Disconnect();
            if (!run.Leaving())
                ui.MsgBox(run.Cancelled() ? std::string("The connection test was cancelled.")
                                          : std::string(e.what()) + " Check username and password and try again",
                          ui::Buttons::Ok, ui::Icon::None, 0, "ZEL FTP CLIENT ERROR");
            m_txtUser->setReadOnly(false);
            m_txtPassword->setReadOnly(false);
            return;
        }
        PrintStatus("Connection to " + host + " successful! You may now send or receive your data.");
        m_txtUser->setReadOnly(false);
        m_txtPassword->setReadOnly(false);
    });
}

void frmFtpTest::cmdPut_Click() {
    if (m_Running)
        return;
    const TransferSettings settings = State;
    RunWorkflow(m_cmdGet, [&](TransferRun& run) { SendFiles(settings, *Ftp, run).Run(); });
}

void frmFtpTest::cmdGet_Click() {
    if (m_Running)
        return;
    const TransferSettings settings = State;
    RunWorkflow(m_cmdPut, [&](TransferRun& run) { ReceiveFiles(settings, *Ftp, run).Run(); });
}

void frmFtpTest::RunWorkflow(QAbstractButton* other, const std::function<void(TransferRun&)>& work) {
    m_Running = true;
    {
        Workflow run(*this, other);
        m_Workflow = &run;
        work(run);
        m_Workflow = nullptr;
    }
    m_Running = false;
    // Exit pressed, or the window closed, during the run: the run has wound up and rolled back; now the program
    // ends, or the window closes.
    if (m_ExitRequested)
        ui::Current().End();
    else if (m_CloseRequested)
        QTimer::singleShot(0, this, [this] { close(); });
}

void frmFtpTest::Command1_Click() {
    if (m_Running) {
        // The running transfer stops and rolls back first; the program ends when it has wound up.
        m_ExitRequested = true;
        CancelWorkflow();
        return;
    }
    ui::Current().End();
}

void frmFtpTest::help_Click() {
    if (!m_Help)
        m_Help = new frmHelp(this);
    if (m_Running) {
        // A modal window opened from inside a transfer would hold the transfer until it closes.
        m_Help->show();
        m_Help->raise();
        return;
    }
    ui::ShowModal(m_Help, this);
}

void frmFtpTest::txtUser_KeyDown(int keyCode, int shift) {
    // Not while a login runs: a modal dialog opened from inside it would hold it.
    if (keyCode != vbKeyF12 || shift != 3 || m_Running)
        return;
    if (!m_Host)
        m_Host = new dlgHost(this);
    ui::ShowModal(m_Host, this);
    // A cancelled edit keeps the host as it was.
    if (m_Host->Accepted())
        State.HostName = m_Host->HostText().trimmed().toStdString(); // blanks around a name never connect
}

bool frmFtpTest::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_txtUser && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F12)
            txtUser_KeyDown(vbKeyF12, ShiftMask(key->modifiers()));
        return false; // the key still reaches the box
    }
    if (watched == m_help && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_help->rect().contains(mouse->position().toPoint()))
            help_Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmFtpTest::CancelWorkflow() {
    if (m_Workflow)
        m_Workflow->Cancel();
}

frmProgress* frmFtpTest::ProgressWindow() {
    if (!m_Progress) {
        m_Progress = new frmProgress(this);
        connect(m_Progress, &frmProgress::cancelRequested, this, &frmFtpTest::CancelWorkflow);
    }
    return m_Progress;
}

void frmFtpTest::closeEvent(QCloseEvent* event) {
    if (m_Running) {
        // Stop the running transfer first; the window closes when the workflow has wound up.
        m_CloseRequested = true;
        CancelWorkflow();
        event->ignore();
        return;
    }
    Ftp.reset();
    event->accept();
    QApplication::quit();
}
