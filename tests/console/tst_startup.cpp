// Start-up of the main window: profile discovery, product chooser, confirmations and the first look.
#include "console/frmFtpTest.h"
#include "support/Gui.h"
#include "support/ScriptedUi.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

using testsupport::SampleInstall;

class tst_startup : public QObject {
    Q_OBJECT

    testsupport::ModalGuard m_Guard;

    static QString frame3(frmFtpTest& w) { return w.findChild<QGroupBox*>("Frame3")->title(); }
    static std::string label(frmFtpTest& w) { return w.findChild<QLabel*>("lblTovaDirectory")->text().toStdString(); }
    static bool enabled(frmFtpTest& w, const char* name) { return w.findChild<QWidget*>(name)->isEnabled(); }

private Q_SLOTS:
    void neitherProductEndsWithTheFatalMessage() {
        SampleInstall install;
        install.writeFile("WINDOWS/tovacfg.ini", "[Paths]\r\nDataPath=\r\n"); // empty counts as missing
        install.writeLedgra("");
        ui::ScriptedUi ui;
        frmFtpTest w;
        QVERIFY(!w.Load());
        QVERIFY(ui.ended);
        QCOMPARE(ui.boxes.size(), size_t(1));
        QCOMPARE(ui.boxes[0].text, std::string("ZEL CONNECT cannot find an initialization file for either Ledgra or "
                                               "TOVA\r\n\r\nProgram will now exit."));
        QCOMPARE(ui.boxes[0].title, std::string("ZEL FTP CLIENT"));
        QVERIFY(ui.boxes[0].buttons == ui::Buttons::Ok);
        QVERIFY(ui.boxes[0].icon == ui::Icon::None);
    }

    void windirUnsetLooksAtTheRoot() {
        if (QFile::exists("/tovacfg.ini") || QFile::exists("/ledgra2.ini"))
            QSKIP("a profile file lies in the root folder of this machine");
        SampleInstall install;
        install.writeTova(install.root() + "/tova\\");
        qunsetenv("WINDIR");
        ui::ScriptedUi ui;
        frmFtpTest w;
        QVERIFY(!w.Load());
        QVERIFY(ui.ended);
        QCOMPARE(ui.boxes.size(), size_t(1));
    }

    void tovaOnly() {
        SampleInstall install;
        const QString data = install.root() + "/tova\\";
        install.writeTova(data);
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Ok};
        frmFtpTest w;
        QVERIFY(w.Load());
        QVERIFY(!ui.ended);
        QCOMPARE(ui.boxes.size(), size_t(1)); // no chooser, only the confirmation
        QCOMPARE(ui.boxes[0].text, std::string("Before you begin, please make sure all users have exited TOVA, and "
                                               "that you do not have any other programs running.\r\n\r\nClick OK "
                                               "to continue, Cancel to abort."));
        QVERIFY(ui.boxes[0].buttons == ui::Buttons::OkCancel);
        QVERIFY(w.UseTova && !w.UseLedgra);
        QVERIFY(w.LedgraOnline); // a TOVA-only workstation keeps it
        QCOMPARE(w.DataFolder, data.toStdString());
        QCOMPARE(w.LocalSendArchive, data.toStdString() + "ZEL.ZIP");
        QCOMPARE(w.LocalFixedArchive, data.toStdString() + "FIXED.ZIP");
        QCOMPARE(frame3(w), QString("TOVA Directory"));
        QCOMPARE(label(w), data.toStdString());
        QCOMPARE(w.StatusText(), std::string("\r\n- Not connected."));
        QCOMPARE(w.BackupWarning, "It is HIGHLY recommended that you first make a copy of \r\n" + data.toStdString() +
                                      " before proceeding.\r\n\r\nClick OK to continue, "
                                      "Cancel to abort.");
        QVERIFY(!w.HostName.empty());
        QVERIFY(w.Ftp);
        QVERIFY(enabled(w, "txtUser") && enabled(w, "txtPassword") && enabled(w, "cmdTest"));
        QVERIFY(!enabled(w, "cmdGet") && !enabled(w, "cmdPut"));
    }

    void ledgraEditionByExactProgramName_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("caption");
        QTest::newRow("lower") << "palvex.exe" << true << "Ledgra Online Directory";
        QTest::newRow("upper") << "PALVEX.EXE" << true << "Ledgra Online Directory";
        QTest::newRow("capital") << "Palvex.exe" << true << "Ledgra Online Directory";
        QTest::newRow("upper name, lower extension") << "PALVEX.exe" << false << "Ledgra Directory";
        QTest::newRow("other program") << "ledgra.exe" << false << "Ledgra Directory";
        QTest::newRow("missing") << QString() << false << "Ledgra Directory";
    }
    void ledgraEditionByExactProgramName() {
        QFETCH(QString, program);
        QFETCH(bool, online);
        QFETCH(QString, caption);
        SampleInstall install;
        const QString folder = install.root() + "/ledgra";
        install.writeLedgra(folder, program);
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Ok};
        frmFtpTest w;
        QVERIFY(w.Load());
        QVERIFY(!w.UseTova && w.UseLedgra);
        QCOMPARE(w.LedgraOnline, online);
        QCOMPARE(frame3(w), caption);
        QCOMPARE(w.DataFolder, folder.toStdString() + "\\");
        QVERIFY(ui.boxes[0].text.find("have exited Ledgra, ") != std::string::npos);
    }

    void ledgraFolderEndingInBackslashGetsASecondOne() {
        SampleInstall install;
        install.writeLedgra(install.root() + "/ledgra\\", "palvex.exe");
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Ok};
        frmFtpTest w;
        QVERIFY(w.Load());
        QCOMPARE(w.DataFolder, (install.root() + "/ledgra\\\\").toStdString());
    }

    void programNameWithoutDbpathIsNotLedgra() {
        SampleInstall install;
        install.writeFile("WINDOWS/ledgra2.ini", "[General Information]\r\nProgramName=palvex.exe\r\n");
        install.writeTova(install.root() + "/tova\\");
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Ok};
        frmFtpTest w;
        QVERIFY(w.Load()); // no chooser: only TOVA counts
        QVERIFY(w.UseTova && !w.UseLedgra);
    }

    void bothProductsChooserDecides_data() {
        QTest::addColumn<bool>("pickTova");
        QTest::newRow("Ok at once selects Ledgra") << false;
        QTest::newRow("TOVA picked") << true;
    }
    void bothProductsChooserDecides() {
        QFETCH(bool, pickTova);
        SampleInstall install;
        const QString tova = install.root() + "/tova\\";
        const QString ledgra = install.root() + "/ledgra";
        install.writeTova(tova);
        install.writeLedgra(ledgra, "Palvex.exe");
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Ok};
        frmFtpTest w;
        QString title;
        bool ledgraFocused = false;
        testsupport::WhenModal([&](QWidget* chooser) {
            title = chooser->windowTitle();
            auto* opLedgra = chooser->findChild<QRadioButton*>("opLedgra");
            ledgraFocused = opLedgra->hasFocus() || chooser->focusWidget() == opLedgra;
            QVERIFY(opLedgra->isChecked());
            if (pickTova)
                QTest::mouseClick(chooser->findChild<QRadioButton*>("opTova"), Qt::LeftButton);
            QTest::mouseClick(chooser->findChild<QAbstractButton*>("Command1"), Qt::LeftButton);
        });
        QVERIFY(w.Load());
        QCOMPARE(title, QString("TOVA AND LEDGRA FOUND"));
        QVERIFY(ledgraFocused);
        QCOMPARE(w.UseTova, pickTova);
        QCOMPARE(w.UseLedgra, !pickTova);
        QCOMPARE(ui.boxes.size(), size_t(1));
        if (pickTova) {
            QVERIFY(ui.boxes[0].text.find("exited TOVA, ") != std::string::npos);
            QCOMPARE(frame3(w), QString("TOVA Directory"));
            QCOMPARE(w.DataFolder, tova.toStdString());
        } else {
            QVERIFY(ui.boxes[0].text.find("exited Ledgra, ") != std::string::npos);
            QCOMPARE(frame3(w), QString("Ledgra Online Directory"));
            QCOMPARE(w.DataFolder, ledgra.toStdString() + "\\");
        }
    }

    void chooserRefusesTheCloseBoxAndEscape() {
        SampleInstall install;
        install.writeTova(install.root() + "/tova\\");
        install.writeLedgra(install.root() + "/ledgra");
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Ok};
        frmFtpTest w;
        bool stillOpen = false;
        testsupport::WhenModal([&](QWidget* chooser) {
            // What the close box and Alt+F4 send: a close request from the window system.
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                chooser->windowHandle());
            QTest::keyClick(chooser, Qt::Key_Escape);
            QTest::keyClick(chooser, Qt::Key_Return);
            stillOpen = chooser->isVisible();
            QTest::mouseClick(chooser->findChild<QAbstractButton*>("Command1"), Qt::LeftButton);
        });
        QVERIFY(w.Load());
        QVERIFY(stillOpen);
    }

    void cancelInChooserEndsBeforeTheWarning() {
        SampleInstall install;
        install.writeTova(install.root() + "/tova\\");
        install.writeLedgra(install.root() + "/ledgra");
        ui::ScriptedUi ui;
        frmFtpTest w;
        testsupport::WhenModal([&](QWidget* chooser) {
            QTest::mouseClick(chooser->findChild<QAbstractButton*>("Command2"), Qt::LeftButton);
        });
        QVERIFY(!w.Load());
        QVERIFY(ui.ended);
        QVERIFY(ui.boxes.empty());
    }

    void cancelAtTheWarningEnds() {
        SampleInstall install;
        install.writeTova(install.root() + "/tova\\");
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Cancel};
        frmFtpTest w;
        QVERIFY(!w.Load());
        QVERIFY(ui.ended);
        QCOMPARE(w.StatusText(), std::string()); // the window never got going
    }
};

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
