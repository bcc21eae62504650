// The main window: start-up (profiles, product chooser, confirmation), its controls and status log, Exit, help
// and the host dialog's keys.
#include "console/frmFtpTest.h"
#include "dialogs/dlgHost.h"
#include "dialogs/frmHelp.h"
#include "support/Gui.h"
#include "support/ScriptedUi.h"
#include "support/TestFiles.h"
#include "transfer/RecoveryFolder.h"

#include <QtTest>
#include <QtWidgets>

#include <qpa/qwindowsysteminterface.h>

using testsupport::SampleInstall;
using testsupport::WhenModal;
using testsupport::WriteFile;

class tst_mainwindow : public QObject {
    Q_OBJECT

    testsupport::ModalGuard m_Guard;
    std::unique_ptr<SampleInstall> m_Install;
    std::unique_ptr<ui::ScriptedUi> m_Ui;
    std::unique_ptr<frmFtpTest> m_Window;

    // Starts the window on the install, the start-up confirmation answered with `answer`.
    bool load(ui::Answer answer = ui::Answer::Ok) {
        m_Ui->answers = {answer};
        m_Window = std::make_unique<frmFtpTest>();
        return m_Window->Load();
    }
    // A TOVA installation's window, shown, its start-up boxes forgotten.
    bool show() {
        m_Install->writeTova(m_Install->root() + "/tova\\");
        if (!load())
            return false;
        m_Ui->boxes.clear();
        m_Window->show();
        return true;
    }
    template <class T = QWidget> T* child(const char* name) { return m_Window->findChild<T*>(name); }
    QString caption() { return child<QGroupBox>("Frame3")->title(); }

private Q_SLOTS:
    void init() {
        m_Install = std::make_unique<SampleInstall>();
        m_Ui = std::make_unique<ui::ScriptedUi>();
    }
    void cleanup() {
        m_Window.reset();
        m_Ui.reset();
        m_Install.reset();
    }

    void neitherProductEndsWithTheFatalMessage() {
        WriteFile(m_Install->root() + "/WINDOWS/tovacfg.ini", "[Paths]\r\nDataPath=\r\n"); // empty counts as missing
        m_Install->writeLedgra("");
        QVERIFY(!load());
        QVERIFY(m_Ui->ended);
        QCOMPARE(m_Ui->boxes.size(), size_t(1));
        QCOMPARE(m_Ui->boxes[0].text, std::string("ZEL CONNECT cannot find an initialization file for either Ledgra "
                                                  "or TOVA\r\n\r\nProgram will now exit."));
        // Cancel at the confirmation ends as well, before the window gets going.
        m_Ui->ended = false;
        m_Install->writeTova(m_Install->root() + "/tova\\");
        QVERIFY(!load(ui::Answer::Cancel));
        QVERIFY(m_Ui->ended);
        QCOMPARE(m_Window->StatusText(), std::string());
    }

    void tovaAloneNeedsNoChooser() {
        const std::string data = (m_Install->root() + "/tova\\").toStdString();
        // A profile that names a program but no database folder is no Ledgra installation.
        WriteFile(m_Install->root() + "/WINDOWS/ledgra2.ini", "[General Information]\r\nProgramName=palvex.exe\r\n");
        m_Install->writeTova(QString::fromStdString(data));
        QVERIFY(load());
        QVERIFY(!m_Ui->ended);
        QCOMPARE(m_Ui->boxes.size(), size_t(1)); // no chooser, only the confirmation
        QCOMPARE(m_Ui->boxes[0].text, std::string("Before you begin, please make sure all users have exited TOVA, "
                                                  "and that you do not have any other programs running.\r\n\r\n"
                                                  "Click OK to continue, Cancel to abort."));
        QVERIFY(m_Window->State.UseTova && !m_Window->State.UseLedgra);
        QCOMPARE(m_Window->State.LocalSendArchive, data + "ZEL.ZIP");
        QCOMPARE(caption(), QString("TOVA Directory"));
        QCOMPARE(child<QLabel>("lblTovaDirectory")->text().toStdString(), data);
        QCOMPARE(m_Window->StatusText(), std::string("\r\n- Not connected."));
        QCOMPARE(m_Window->State.BackupWarning,
                 "It is HIGHLY recommended that you first make a copy of \r\n" + data +
                     " before proceeding.\r\n\r\nClick OK to continue, Cancel to abort.");
        QVERIFY(!child("cmdGet")->isEnabled() && !child("cmdPut")->isEnabled() && child("cmdTest")->isEnabled());
    }

    void ledgraEditionByExactProgramName_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("after"); // what the profile's folder ends in
        QTest::newRow("lower") << "palvex.exe" << true << "";
        QTest::newRow("upper") << "PALVEX.EXE" << true << "";
        QTest::newRow("capital") << "Palvex.exe" << true << "";
        QTest::newRow("upper name, lower extension") << "PALVEX.exe" << false << "";
        QTest::newRow("other program") << "ledgra.exe" << false << "";
        QTest::newRow("missing") << QString() << false << "";
        QTest::newRow("folder ending in a backslash gets a second one") << "palvex.exe" << true << "\\";
    }
    void ledgraEditionByExactProgramName() {
        QFETCH(QString, program);
        QFETCH(bool, online);
        QFETCH(QString, after);
        const QString folder = m_Install->root() + "/ledgra" + after;
        m_Install->writeLedgra(folder, program);
        QVERIFY(load());
        QVERIFY(!m_Window->State.UseTova && m_Window->State.UseLedgra);
        QCOMPARE(m_Window->State.LedgraOnline, online);
        QCOMPARE(caption(), QString(online ? "Ledgra Online Directory" : "Ledgra Directory"));
        QCOMPARE(m_Window->State.DataFolder, folder.toStdString() + "\\");
        QVERIFY(m_Ui->boxes[0].text.find("have exited Ledgra, ") != std::string::npos);
    }

    void bothProductsTheChooserDecides_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("Ok at once selects Ledgra") << "ok";
        QTest::newRow("TOVA picked") << "tova";
        QTest::newRow("close box, Esc and Enter do not close it") << "refuse";
        QTest::newRow("Cancel ends before the confirmation") << "cancel";
    }
    void bothProductsTheChooserDecides() {
        QFETCH(QString, action);
        const QString tova = m_Install->root() + "/tova\\", ledgra = m_Install->root() + "/ledgra";
        m_Install->writeTova(tova);
        m_Install->writeLedgra(ledgra, "Palvex.exe");
        // Receives killed in both data folders: whatever the user then picks, or cancels, both are put back first.
        for (const QString& folder : {tova, ledgra + "\\"}) {
            WriteFile(QString(folder).replace('\\', '/') + "/norvane.mdb", "old");
            RecoveryFolder r(folder.toStdString());
            r.Begin();
            r.Save({"norvane.mdb"});
        }
        QString title;
        bool ledgraChosen = false, stillOpen = false;
        WhenModal([&](QWidget* chooser) {
            title = chooser->windowTitle();
            auto* opLedgra = chooser->findChild<QRadioButton*>("opLedgra");
            ledgraChosen = opLedgra->isChecked() && (opLedgra->hasFocus() || chooser->focusWidget() == opLedgra);
            if (action == "tova")
                QTest::mouseClick(chooser->findChild<QRadioButton*>("opTova"), Qt::LeftButton);
            if (action == "refuse") {
                // What the close box and Alt+F4 send: a close request from the window system.
                QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                    chooser->windowHandle());
                QTest::keyClick(chooser, Qt::Key_Escape);
                QTest::keyClick(chooser, Qt::Key_Return);
                stillOpen = chooser->isVisible();
            }
            QTest::mouseClick(chooser->findChild<QAbstractButton*>(action == "cancel" ? "Command2" : "Command1"),
                              Qt::LeftButton);
        });
        const bool loaded = load();
        QCOMPARE(title, QString("TOVA AND LEDGRA FOUND"));
        QVERIFY(ledgraChosen);
        QCOMPARE(stillOpen, action == "refuse");
        for (const QString& folder : {tova.chopped(1), ledgra}) {
            QCOMPARE(testsupport::ReadFile(folder + "/norvane.mdb"), QByteArray("old"));
            QVERIFY(!QDir(folder + "/ZEL-RECOVERY").exists());
        }
        if (action == "cancel") {
            QVERIFY(!loaded && m_Ui->ended && m_Ui->boxes.empty());
            return;
        }
        QVERIFY(loaded);
        const bool picked = action == "tova";
        QVERIFY(m_Window->State.UseTova == picked && m_Window->State.UseLedgra == !picked);
        QCOMPARE(m_Ui->boxes.size(), size_t(1));
        QVERIFY(m_Ui->boxes[0].text.find(picked ? "exited TOVA, " : "exited Ledgra, ") != std::string::npos);
        QCOMPARE(caption(), QString(picked ? "TOVA Directory" : "Ledgra Online Directory"));
        QCOMPARE(m_Window->State.DataFolder, picked ? tova.toStdString() : ledgra.toStdString() + "\\");
    }

    void controlsInTheirOrder() {
        QVERIFY(show());
        auto* password = child<QLineEdit>("txtPassword");
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QCOMPARE(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password), int('*'));
        QStringList order;
        QWidget* w = child("cmdGet");
        for (int i = 0; i < 40 && order.size() < 7; ++i, w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                order << w->objectName();
        QCOMPARE(order, QStringList({"cmdGet", "cmdPut", "txtUser", "txtPassword", "cmdTest", "Command1", "Status"}));
    }

    void statusLogAndExit() {
        QVERIFY(show());
        m_Window->PrintStatus("first");
        m_Window->PrintStatus("second\r\nspans two lines");
        QCOMPARE(m_Window->StatusText(), std::string("\r\n- Not connected.\r\n- first\r\n- second\r\nspans two lines"));
        auto* status = child<QPlainTextEdit>("Status");
        QCOMPARE(status->toPlainText(), QString("\n- Not connected.\n- first\n- second\nspans two lines"));
        QCOMPARE(status->textCursor().position(), status->toPlainText().size());
        // Exit ends the program without a message, also while connected.
        m_Window->SetConnectedState(true);
        QTest::mouseClick(child("Command1"), Qt::LeftButton);
        QVERIFY(m_Ui->ended && m_Ui->boxes.empty());
    }

    void helpShowsTheSameTextTwice() {
        QVERIFY(show());
        QStringList seen;
        for (int i = 0; i < 2; ++i) {
            WhenModal([&](QWidget* help) {
                seen << help->windowTitle() + "|" + help->findChild<QPlainTextEdit*>("Text1")->toPlainText();
                QTest::mouseClick(help->findChild<QAbstractButton*>("Command1"), Qt::LeftButton);
            });
            QTest::mouseClick(child("help"), Qt::LeftButton);
        }
        QVERIFY(seen.size() == 2 && seen[1] == seen[0]);
        QVERIFY2(seen[0].startsWith("ZEL FTP CLIENT HELP|ZEL FTP CLIENT v0.1 HELP FILE\n"), qPrintable(seen[0]));
    }

    void ctrlShiftF12OpensTheHostDialog() {
        QVERIFY(show());
        auto* user = child<QLineEdit>("txtUser");
        user->setFocus();
        // Only the exact combination opens the dialog; other F12 chords do nothing.
        QTest::keyClick(user, Qt::Key_F12, Qt::ShiftModifier);
        QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier);
        QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
        QTest::keyClick(child("txtPassword"), Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!m_Window->findChild<dlgHost*>());

        // Typed into an empty box that has the focus; Enter does not close it (no default button); OK takes the
        // text exactly as typed. The next time the box keeps it; Esc cancels and keeps the host.
        QStringList shown;
        bool openAfterEnter = false;
        for (const char* how : {"ok", "esc"}) {
            WhenModal([&, how](QWidget* w) {
                auto* box = w->findChild<QLineEdit*>("txtHostname");
                shown << box->text() + (box->hasFocus() || w->focusWidget() == box ? "|focus" : "");
                if (QString(how) == "esc") {
                    box->setText("discarded");
                    return QTest::keyClick(box, Qt::Key_Escape);
                }
                QTest::keyClicks(box, " ftp.other.example:2121 ");
                QTest::keyClick(box, Qt::Key_Return);
                openAfterEnter = w->isVisible();
                QTest::mouseClick(w->findChild<QAbstractButton*>("OKButton"), Qt::LeftButton);
            });
            QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        }
        QCOMPARE(shown, QStringList({"|focus", " ftp.other.example:2121 |focus"}));
        QVERIFY(openAfterEnter);
        QCOMPARE(m_Window->State.HostName, std::string("ftp.other.example:2121")); // as the user means it
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
