// Test Connection in the real window against a real FTP server.
#include "ftp/cFTP.h"
#include "support/Session.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {
QLineEdit* Box(Session& s, const char* name) {
    return static_cast<QLineEdit*>(s.control(name));
}
} // namespace

class tst_connection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusedBeforeConnecting_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("text");
        const QString unsendable = "contains a line break or a NUL character";
        QTest::newRow("no password") << ""
                                     << "Please fill in both username and password values.";
        QTest::newRow("NUL") << QString("sec") + QChar(0) + "ret" << unsendable;
        QTest::newRow("line break") << "secret\r\nDELE x" << unsendable;
    }
    void refusedBeforeConnecting() {
        QFETCH(QString, password);
        QFETCH(QString, text);
        Session s(Product::Tova);
        QVERIFY(s.start());
        Box(s, "txtUser")->setText("cust01");
        Box(s, "txtPassword")->setText(password);
        QCOMPARE(Box(s, "txtPassword")->text(), password);
        s.click("cmdTest");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QVERIFY2(s.ui.boxes[0].text.find(text.toStdString()) != std::string::npos, s.ui.boxes[0].text.c_str());
        QCOMPARE(s.ui.boxes[0].title, std::string(password.isEmpty() ? "ZEL FTP CLIENT" : "ZEL FTP CLIENT ERROR"));
        QCOMPARE(s.server->commandLog().filter("USER").size(), 0); // no login, of another user either
        QVERIFY(!s.control("cmdGet")->isEnabled());
        if (password.isEmpty())
            QVERIFY(s.log().isEmpty() && s.window->RemoteSendArchive.empty());
    }

    void aRefusedLoginThenTheRightOne() {
        Session s(Product::Tova, "cust 01"); // a blank in the name is used as typed
        QVERIFY(s.start());
        const QString host = s.server->hostPort();
        s.login("wrong");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        const std::string& text = s.ui.boxes[0].text;
        QCOMPARE(s.ui.boxes[0].title, std::string("ZEL FTP CLIENT ERROR"));
        const std::string head =
            "Cannot Connect to " + host.toStdString() + " using User and Password Parameters\r\n\r\n530";
        QCOMPARE(text.substr(0, head.size()), head);
        QVERIFY(text.ends_with(" Check username and password and try again"));
        QCOMPARE(s.log().size(), 1);
        QVERIFY(!s.control("cmdGet")->isEnabled() && s.control("cmdTest")->isEnabled() && !s.ui.busy);

        // The user corrects the password and tries again.
        s.login();
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        const QString attempt = "Attempting to connect to cust 01 at " + host;
        QCOMPARE(s.log(),
                 QStringList({attempt, attempt,
                              "Connection to " + host + " successful! You may now send or receive your data."}));
        QCOMPARE(s.window->RemoteSendArchive, std::string("/home/cust 01/ZEL.ZIP"));
        QCOMPARE(s.window->RemoteFixedArchive, std::string("/home/cust 01/FIXED.ZIP"));
        for (const char* n : {"txtUser", "txtPassword", "cmdTest"})
            QVERIFY(!s.control(n)->isEnabled());
        QVERIFY(s.control("cmdGet")->isEnabled() && s.control("cmdPut")->isEnabled());
        QVERIFY(!s.window->Ftp->Connected() && !s.ui.busy);
        QCOMPARE(s.server->loginCount(), 1);
    }

    void emptyHostFailsWithTheSessionsText() {
        Session s(Product::Tova);
        QVERIFY(s.start());
        // Failed attempts first: the hosts they tried must not be tried again for an empty one.
        const ClosedPort closed;
        s.window->HostName = closed.hostPort().toStdString();
        s.login();
        s.window->HostName = s.server->hostPort().toStdString();
        s.login("wrong");
        s.window->HostName.clear();
        s.login();
        QCOMPARE(s.ui.boxes.size(), size_t(3));
        QCOMPARE(s.ui.boxes[2].text,
                 std::string("No Host Address Specified! Check username and password and try again"));
        QCOMPARE(s.server->loginCount(), 0);
    }

    void slowServerKeepsTheWindowAliveAndCanBeCancelled() {
        // A server that accepts the connection but never greets: the login waits.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        Session s(Product::Tova);
        QVERIFY(s.start());
        s.window->HostName = "127.0.0.1:" + std::to_string(silent.serverPort());

        int ticks = 0, ticksWhenShown = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (++ticks == 5)
                s.click("cmdTest"); // a second click while the first test runs starts nothing
        });
        ticker.start(10);
        QString step;
        QTimer canceller;
        QObject::connect(&canceller, &QTimer::timeout, [&] {
            QWidget* progress = s.window->findChild<QWidget*>("frmProgress");
            if (ticks > 5 && progress && progress->isVisible()) {
                canceller.stop();
                ticksWhenShown = ticks;
                step = progress->findChild<QLabel*>("lblStep")->text();
                // What is being tested cannot be edited meanwhile.
                for (const char* box : {"txtUser", "txtPassword"})
                    QTest::keyClicks(s.control(box), "x");
                QTest::mouseClick(progress->findChild<QAbstractButton*>("cmdCancel"), Qt::LeftButton);
            }
        });
        canceller.start(50);
        s.login();
        ticker.stop();
        // Timers kept firing while the login waited: the window was alive throughout.
        QVERIFY(ticksWhenShown > 5);
        QVERIFY2(step.contains("Connecting to"), qPrintable(step));
        QCOMPARE(Box(s, "txtUser")->text() + Box(s, "txtPassword")->text(), QString("cust01secret"));
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QCOMPARE(s.ui.boxes[0].text, std::string("The connection test was cancelled."));
        QCOMPARE(s.log().size(), 1); // one attempt only
        QVERIFY(s.control("cmdTest")->isEnabled() && !s.window->Running());
    }
};

QTEST_MAIN(tst_connection)
#include "tst_connection.moc"
