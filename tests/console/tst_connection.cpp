// Test Connection in the real window against a real FTP server.
#include "ftp/cFTP.h"
#include "support/Session.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace testsupport;

class tst_connection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyFieldsAreRefusedWithoutLogging() {
        Session s(Product::Tova);
        QVERIFY(s.start());
        static_cast<QLineEdit*>(s.control("txtUser"))->setText("cust01");
        s.click("cmdTest");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QCOMPARE(s.ui.boxes[0].text, std::string("Please fill in both username and password values."));
        QCOMPARE(s.ui.boxes[0].title, std::string("ZEL FTP CLIENT"));
        QVERIFY(s.log().isEmpty());
        QVERIFY(s.window->RemoteSendArchive.empty());
        QCOMPARE(s.server->loginCount(), 0);
    }

    void successfulTestUnlocksTheTransfers() {
        Session s(Product::Tova);
        QVERIFY(s.start());
        s.login();
        QVERIFY2(s.ui.boxes.empty(), s.ui.boxes.empty() ? "" : s.ui.boxes[0].text.c_str());
        const QString host = s.server->hostPort();
        QCOMPARE(s.log(),
                 QStringList({"Attempting to connect to cust01 at " + host,
                              "Connection to " + host + " successful! You may now send or receive your data."}));
        QCOMPARE(s.window->RemoteSendArchive, std::string("/home/cust01/ZEL.ZIP"));
        QCOMPARE(s.window->RemoteFixedArchive, std::string("/home/cust01/FIXED.ZIP"));
        for (const char* n : {"txtUser", "txtPassword", "cmdTest"})
            QVERIFY(!s.control(n)->isEnabled());
        for (const char* n : {"cmdGet", "cmdPut"})
            QVERIFY(s.control(n)->isEnabled());
        QVERIFY(!s.window->Ftp->Connected());
        QCOMPARE(s.server->loginCount(), 1);
        QVERIFY(!s.ui.busy);
    }

    void refusedLoginShowsTheServersReply() {
        Session s(Product::Tova);
        QVERIFY(s.start());
        s.login("wrong");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        const std::string& text = s.ui.boxes[0].text;
        QCOMPARE(s.ui.boxes[0].title, std::string("ZEL FTP CLIENT ERROR"));
        const std::string head = "Cannot Connect to " + s.server->hostPort().toStdString() +
                                 " using User and Password Parameters\r\n\r\n530";
        QCOMPARE(text.substr(0, head.size()), head);
        const std::string tail = " Check username and password and try again";
        QCOMPARE(text.substr(text.size() - tail.size()), tail);
        QCOMPARE(s.log().size(), 1);
        QVERIFY(!s.control("cmdGet")->isEnabled() && s.control("cmdTest")->isEnabled());
        QCOMPARE(s.window->RemoteFixedArchive, std::string("/home/cust01/FIXED.ZIP"));
        QVERIFY(!s.ui.busy);

        // The user corrects the password and tries again.
        s.login("secret");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QVERIFY(s.control("cmdGet")->isEnabled());
    }

    void credentialsThatCannotBeSentAreRefused_data() {
        QTest::addColumn<QString>("password");
        QTest::newRow("NUL") << QString("sec") + QChar(0) + "ret";
        QTest::newRow("line break") << QString("secret\r\nDELE x");
    }
    void credentialsThatCannotBeSentAreRefused() {
        QFETCH(QString, password);
        Session s(Product::Tova);
        QVERIFY(s.start());
        static_cast<QLineEdit*>(s.control("txtUser"))->setText("cust01");
        static_cast<QLineEdit*>(s.control("txtPassword"))->setText(password);
        if (static_cast<QLineEdit*>(s.control("txtPassword"))->text() != password)
            QSKIP("the password box does not take this character");
        s.click("cmdTest");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QVERIFY2(s.ui.boxes[0].text.find("contains a line break or a NUL character") != std::string::npos,
                 s.ui.boxes[0].text.c_str());
        QCOMPARE(s.server->commandLog().filter("USER").size(), 0); // refused before connecting: no other login
        QVERIFY(!s.control("cmdGet")->isEnabled());
    }

    void userNameWithABlankIsUsedAsTyped() {
        Session s(Product::Tova, "cust 01");
        QVERIFY(s.start());
        s.login();
        QVERIFY(s.ui.boxes.empty());
        QCOMPARE(s.window->RemoteSendArchive, std::string("/home/cust 01/ZEL.ZIP"));
        QVERIFY(s.log().first().startsWith("Attempting to connect to cust 01 at "));
    }

    void emptyHostFailsWithTheSessionsText() {
        Session s(Product::Tova);
        QVERIFY(s.start());
        // A failed attempt first: the host it tried must not be tried again for an empty one.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        s.window->HostName = "127.0.0.1:" + std::to_string(closed.serverPort());
        closed.close();
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

        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (++ticks == 5)
                s.click("cmdTest"); // a second click while the first test runs starts nothing
        });
        ticker.start(10);
        bool progressShown = false;
        QString step;
        QTimer canceller;
        QObject::connect(&canceller, &QTimer::timeout, [&] {
            QWidget* progress = s.window->findChild<QWidget*>("frmProgress");
            if (progress && progress->isVisible()) {
                progressShown = true;
                step = progress->findChild<QLabel*>("lblStep")->text();
                // What is being tested cannot be edited meanwhile.
                for (const char* box : {"txtUser", "txtPassword"})
                    QTest::keyClicks(s.control(box), "x");
                QTest::mouseClick(progress->findChild<QAbstractButton*>("cmdCancel"), Qt::LeftButton);
                canceller.stop();
            }
        });
        canceller.start(50);
        s.login();
        ticker.stop();
        QVERIFY(progressShown);
        QVERIFY2(step.contains("Connecting to"), qPrintable(step));
        QCOMPARE(static_cast<QLineEdit*>(s.control("txtUser"))->text(), QString("cust01"));
        QCOMPARE(static_cast<QLineEdit*>(s.control("txtPassword"))->text(), QString("secret"));
        // Timers kept firing while the login blocked: the window was alive throughout.
        QVERIFY2(ticks >= 20, qPrintable(QString("only %1 ticks").arg(ticks)));
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QCOMPARE(s.ui.boxes[0].text, std::string("The connection test was cancelled."));
        QCOMPARE(s.log().size(), 1); // one attempt only
        QVERIFY(s.control("cmdTest")->isEnabled());
        QVERIFY(!s.window->Running());
    }
};

QTEST_MAIN(tst_connection)
#include "tst_connection.moc"
