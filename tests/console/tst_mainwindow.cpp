// The main window itself: layout, status log, connected state, Exit, help and the host dialog keys.
#include "console/frmFtpTest.h"
#include "dialogs/dlgHost.h"
#include "dialogs/frmHelp.h"
#include "support/Gui.h"
#include "support/ScriptedUi.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStyle>
#include <QTest>

using testsupport::SampleInstall;

class tst_mainwindow : public QObject {
    Q_OBJECT

    testsupport::ModalGuard m_Guard;
    std::unique_ptr<SampleInstall> m_Install;
    std::unique_ptr<ui::ScriptedUi> m_Ui;
    std::unique_ptr<frmFtpTest> m_Window;

    template <class T = QWidget> T* child(const char* name) { return m_Window->findChild<T*>(name); }

private Q_SLOTS:
    void init() {
        m_Install = std::make_unique<SampleInstall>();
        m_Install->writeTova(m_Install->root() + "/tova\\");
        m_Ui = std::make_unique<ui::ScriptedUi>();
        m_Ui->answers = {ui::Answer::Ok};
        m_Window = std::make_unique<frmFtpTest>();
        QVERIFY(m_Window->Load());
        m_Ui->boxes.clear();
        m_Window->show();
    }
    void cleanup() {
        m_Window.reset();
        m_Ui.reset();
        m_Install.reset();
    }

    void layoutFollowsTheTwipsTable() {
        // 96 logical DPI under the offscreen platform: 15 twips to a pixel.
        QCOMPARE(m_Window->size(), QSize(265, 398));
        QCOMPARE(m_Window->windowTitle(), QString("ZEL FTP CLIENT"));
        QCOMPARE(child("cmdTest")->geometry(), QRect(72, 88, 101, 41));
        QCOMPARE(child("cmdPut")->geometry(), QRect(40, 152, 78, 41));
        QCOMPARE(child("Status")->geometry(), QRect(16, 216, 233, 89));
        QCOMPARE(child("txtUser")->parentWidget()->objectName(), QString("Frame1"));
        QCOMPARE(child<QAbstractButton>("cmdTest")->text(), QString("&Test Connection"));
        QCOMPARE(child<QAbstractButton>("cmdPut")->text(), QString("&Send Files"));
        QCOMPARE(child<QAbstractButton>("cmdGet")->text(), QString("&Receive Files"));
        QCOMPARE(child<QAbstractButton>("Command1")->text(), QString("&Exit"));
        QCOMPARE(child<QGroupBox>("Frame1")->title(), QString("Connect to Quendal Software"));
        const QList<QLabel*> labels = child<QGroupBox>("Frame1")->findChildren<QLabel*>("Label1");
        QCOMPARE(labels.size(), 2);
        QCOMPARE(labels[0]->buddy(), child("txtUser"));
        QCOMPARE(labels[1]->buddy(), child("txtPassword"));
        QCOMPARE(child("txtUser")->accessibleName(), QString("Username:"));
        QCOMPARE(child("txtPassword")->accessibleName(), QString("Password:"));
        QCOMPARE(child("Status")->accessibleName(), QString("Status"));
        auto* help = child<QLabel>("help");
        QVERIFY(help->font().underline());
        QCOMPARE(help->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    }

    void passwordIsMaskedWithStars() {
        auto* pw = child<QLineEdit>("txtPassword");
        QCOMPARE(pw->echoMode(), QLineEdit::Password);
        QCOMPARE(pw->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, pw), int('*'));
    }

    void tabOrderFollowsTheTable() {
        QStringList order;
        QWidget* w = child("cmdGet");
        for (int i = 0; i < 40 && order.size() < 7; ++i, w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                order << w->objectName();
        QCOMPARE(order, QStringList({"cmdGet", "cmdPut", "txtUser", "txtPassword", "cmdTest", "Command1", "Status"}));
    }

    void statusLogAppendsLines() {
        m_Window->PrintStatus("first");
        m_Window->PrintStatus("second\r\nspans two lines");
        QCOMPARE(m_Window->StatusText(), std::string("\r\n- Not connected.\r\n- first\r\n- second\r\nspans two lines"));
        auto* status = child<QPlainTextEdit>("Status");
        QCOMPARE(status->toPlainText(), QString("\n- Not connected.\n- first\n- second\nspans two lines"));
        QCOMPARE(status->textCursor().position(), status->toPlainText().size());
    }

    void connectedStateSwitchesFiveControls() {
        const char* credentials[] = {"txtUser", "txtPassword", "cmdTest"};
        const char* transfers[] = {"cmdGet", "cmdPut"};
        for (bool connected : {true, false, true}) {
            m_Window->SetConnectedState(connected);
            for (const char* n : credentials)
                QCOMPARE(child(n)->isEnabled(), !connected);
            for (const char* n : transfers)
                QCOMPARE(child(n)->isEnabled(), connected);
        }
    }

    void exitEndsTheProgramWithoutAMessage() {
        m_Window->SetConnectedState(true);
        QTest::mouseClick(child("Command1"), Qt::LeftButton);
        QVERIFY(m_Ui->ended);
        QVERIFY(m_Ui->boxes.empty());
    }

    void helpShowsTheSameTextTwice() {
        QString first, second;
        for (QString* seen : {&first, &second}) {
            testsupport::WhenModal([&, seen](QWidget* w) {
                auto* help = qobject_cast<frmHelp*>(w);
                QVERIFY(help);
                QCOMPARE(help->windowTitle(), QString("ZEL FTP CLIENT HELP"));
                *seen = help->findChild<QPlainTextEdit*>("Text1")->toPlainText();
                QTest::mouseClick(help->findChild<QAbstractButton*>("Command1"), Qt::LeftButton);
            });
            QTest::mouseClick(child("help"), Qt::LeftButton);
        }
        QCOMPARE(second, first);
        QCOMPARE(first, QString::fromStdString(frmHelp::HelpText()).replace("\r\n", "\n"));

        // Three paragraphs: the title line, the purpose (ending in a blank), then the instructions.
        const QStringList lines = QString::fromStdString(frmHelp::HelpText()).split("\r\n");
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QString("ZEL FTP CLIENT v0.1 HELP FILE"));
        QVERIFY(lines[1].endsWith("if the program has encountered errors. "));
        QVERIFY(lines[2].isEmpty());
        QVERIFY(
            lines[3].contains("click \"Test Connection\".  If you are sending your files, click \"Send Files\", and "
                              "to recieve fixed files, click \"Recieve Files\".  The \"Status\" box"));
        QVERIFY(
            lines[3].contains(QRegularExpression("calling \\S.* and speaking.* Support at \\S.* or \\S+@\\S+ \\.$")));
    }

    void ctrlShiftF12OpensTheHostDialog() {
        auto* user = child<QLineEdit>("txtUser");
        user->setFocus();
        // Only the exact combination opens the dialog; other F12 chords do nothing.
        QTest::keyClick(user, Qt::Key_F12, Qt::ShiftModifier);
        QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier);
        QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
        QTest::keyClick(child("txtPassword"), Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!m_Window->findChild<dlgHost*>());

        const std::string before = m_Window->HostName;
        QString firstText = "unset";
        testsupport::WhenModal([&](QWidget* w) {
            auto* box = w->findChild<QLineEdit*>("txtHostname");
            firstText = box->text();
            QVERIFY(box->hasFocus() || w->focusWidget() == box);
            QTest::keyClicks(box, " ftp.other.example:2121 ");
            QTest::keyClick(box, Qt::Key_Return); // no default button: Enter does not close
            QVERIFY(w->isVisible());
            QTest::mouseClick(w->findChild<QAbstractButton*>("OKButton"), Qt::LeftButton);
        });
        QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(firstText, QString());
        QCOMPARE(m_Window->HostName, std::string(" ftp.other.example:2121 ")); // exactly as typed
        QVERIFY(m_Window->HostName != before);

        // The box keeps what was typed; Esc cancels and keeps the host.
        QString secondText;
        testsupport::WhenModal([&](QWidget* w) {
            auto* box = w->findChild<QLineEdit*>("txtHostname");
            secondText = box->text();
            box->setText("discarded");
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QTest::keyClick(user, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(secondText, QString(" ftp.other.example:2121 "));
        QCOMPARE(m_Window->HostName, std::string(" ftp.other.example:2121 "));
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
