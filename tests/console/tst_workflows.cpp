// The window's workflows end to end (Test Connection, Send Files, Receive Files): the real window, a real FTP
// server, real archives.
#include "ftp/cFTP.h"
#include "support/ArchiveTools.h"
#include "support/Session.h"
#include "support/TestFiles.h"
#include "transfer/DataFolderLock.h"
#include "transfer/RecoveryFolder.h"

#include <QtTest>
#include <QtWidgets>

#include <QTcpServer>

using namespace testsupport;
using Tree = QMap<QString, QByteArray>;

namespace {

// The file names in an archive that Info-ZIP finds intact, without their folders; empty when it is damaged.
QStringList BaseNames(const QString& zip) {
    QStringList names;
    if (Exec("unzip", {"-tq", zip}).first == 0)
        for (const QString& entry : ziptest::Listing(zip))
            if (!entry.endsWith('/'))
                names << entry.section('/', -1);
    names.sort(Qt::CaseInsensitive);
    return names;
}

enum Kind { Tova, TovaWithoutBackslash, Ledgra, LedgraOnline };

QLineEdit* Box(Session& s, const char* name) {
    return static_cast<QLineEdit*>(s.control(name));
}

Product ProductOf(int kind) {
    return kind == Ledgra ? Product::Ledgra : kind == LedgraOnline ? Product::LedgraOnline : Product::Tova;
}

} // namespace

class tst_workflows : public QObject {
    Q_OBJECT

    // A session of the product with its data set laid out, logged in.
    std::unique_ptr<Session> ready(int kind, const Tree& archive = {}) {
        auto s = std::make_unique<Session>(ProductOf(kind));
        if (kind == TovaWithoutBackslash)
            s->install().writeTova(s->data());
        const Tree tova{{"a.dat", "old a"}, {"B.DAT", "old b"}, {"sub/keep.dat", "sub-folders are left alone"}};
        const Tree ledgra{{"ledgra2.mdb", "old ledgra"},
                          {"norvane.mdb", "old norvane"},
                          {"keep.txt", "not part of the data set"},
                          {"data_qmx/x.qmx", "old x"},
                          {"data_qmx/y.qmx", "old y"}};
        WriteTree(s->data(), kind >= Ledgra ? ledgra : tova);
        if ((!archive.isEmpty() && !ZipFiles(s->home() + "/FIXED.ZIP", archive)) || !s->start())
            QTest::qFail("the archive or the window could not be made", __FILE__, __LINE__);
        s->login();
        if (!s->ui.boxes.empty())
            QTest::qFail("Test Connection failed", __FILE__, __LINE__);
        s->ui.answers = {ui::Answer::Ok}; // the backup warning of the next click
        return s;
    }
    // A failed run shows one error box after the warning, and the old data set is there as before (the
    // downloaded archive excepted).
    void expectIntactAfterFailure(Session& s, const Tree& before, const std::string& text) {
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        QCOMPARE(s.ui.boxes[1].title, std::string("ZEL FTP CLIENT ERROR"));
        QVERIFY2(s.ui.boxes[1].text.find(text) != std::string::npos, s.ui.boxes[1].text.c_str());
        Tree after = Snapshot(s.data());
        after.remove("FIXED.ZIP");
        QCOMPARE(after, before);
        QVERIFY(!s.window->Ftp->Connected() && !s.ui.busy && !s.control("cmdPut")->isEnabled());
    }

private Q_SLOTS:
    void loginFailuresThenTheRightOne() {
        Session s(Product::Tova, "cust 01"); // a blank in the name is used as typed
        QVERIFY(s.start());
        const QString host = s.server->hostPort();
        // No password: asked for before anything is tried.
        s.login("");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QVERIFY2(s.ui.boxes[0].text.find("Please fill in both username and password values.") == 0,
                 s.ui.boxes[0].text.c_str());
        QVERIFY(s.log().isEmpty());
        // Nobody there, a wrong password, then no host at all: no host tried before is tried again.
        const ClosedPort closed;
        for (const QString& where : {closed.hostPort(), host, QString()}) {
            s.window->State.HostName = where.toStdString();
            s.login(where == host ? "wrong" : "secret");
        }
        QCOMPARE(s.ui.boxes.size(), size_t(4));
        const std::string& refused = s.ui.boxes[2].text;
        const std::string head =
            "Cannot Connect to " + host.toStdString() + " using User and Password Parameters\r\n\r\n530";
        QCOMPARE(refused.substr(0, head.size()), head);
        QVERIFY(refused.ends_with(" Check username and password and try again"));
        QCOMPARE(s.ui.boxes[3].text, "No Host Address Specified! Check username and password and try again");
        QCOMPARE(s.server->loginCount(), 0);
        QVERIFY(!s.control("cmdGet")->isEnabled() && s.control("cmdTest")->isEnabled() && !s.ui.busy);
        s.window->State.HostName = host.toStdString();
        s.login();
        QCOMPARE(s.ui.boxes.size(), size_t(4));
        const QString attempt = "Attempting to connect to cust 01 at ";
        QCOMPARE(s.log(),
                 QStringList({attempt + closed.hostPort(), attempt + host, attempt, attempt + host,
                              "Connection to " + host + " successful! You may now send or receive your data."}));
        QCOMPARE(s.window->State.RemoteFixedArchive, std::string("/home/cust 01/FIXED.ZIP"));
        QVERIFY(!s.control("txtUser")->isEnabled() && !s.control("cmdTest")->isEnabled());
        QVERIFY(s.control("cmdGet")->isEnabled() && s.control("cmdPut")->isEnabled() && !s.window->Ftp->Connected());
        QCOMPARE(s.server->loginCount(), 1);
    }

    void slowServerKeepsTheWindowAliveAndCanBeCancelled() {
        // A server that accepts the connection but never greets: the login waits.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        Session s(Product::Tova);
        QVERIFY(s.start());
        s.window->State.HostName = "127.0.0.1:" + std::to_string(silent.serverPort());

        int ticks = 0, ticksWhenShown = 0;
        QString step;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (++ticks == 5)
                s.click("cmdTest"); // a second click while the first test runs starts nothing
            QWidget* progress = s.window->findChild<QWidget*>("frmProgress");
            if (ticks > 5 && !ticksWhenShown && progress && progress->isVisible()) {
                ticksWhenShown = ticks;
                step = progress->findChild<QLabel*>("lblStep")->text();
                // What is being tested cannot be edited meanwhile.
                for (const char* box : {"txtUser", "txtPassword"})
                    QTest::keyClicks(s.control(box), "x");
                QTest::mouseClick(progress->findChild<QAbstractButton*>("cmdCancel"), Qt::LeftButton);
            }
        });
        ticker.start(10);
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
    void sendPacksTheDataSet_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("TOVA") << int(Tova) << QStringList{"a.dat", "B.DAT"};
        QTest::newRow("TOVA, DataPath without its backslash")
            << int(TovaWithoutBackslash) << QStringList{"a.dat", "B.DAT"};
        QTest::newRow("Ledgra") << int(Ledgra) << QStringList{"ledgra2.mdb", "x.qmx", "y.qmx"};
        QTest::newRow("Ledgra online") << int(LedgraOnline)
                                       << QStringList{"ledgra2.mdb", "norvane.mdb", "x.qmx", "y.qmx"};
    }
    void sendPacksTheDataSet() {
        QFETCH(int, kind);
        QFETCH(QStringList, names);
        auto s = ready(kind);
        // Not the data set: a stale archive, a hidden file, and what a killed run of the program left.
        WriteTree(s->data(), {{"ZEL.ZIP", "stale archive"},
                              {"fixed.zip", "kept after a failed receive"},
                              {".hidden", "x"},
                              {"FIXED.ZIP.zel~a1b2c3", "x"}});
        s->click("cmdPut");
        QVERIFY2(s->ui.boxes.size() == 1, s->ui.boxes.back().text.c_str());
        QCOMPARE(s->ui.boxes[0].text, s->window->State.BackupWarning);
        const QString local = QString::fromStdString(s->window->State.LocalSendArchive);
        QCOMPARE(s->log().mid(2),
                 QStringList({"Attempting to zip " + local, "Now attempting to send file. This may take a while.",
                              local + " sent without errors."}));
        const QString sent = s->home() + "/ZEL.ZIP";
        QCOMPARE(BaseNames(sent), names);
        if (kind <= TovaWithoutBackslash)
            QCOMPARE(Exec("unzip", {"-p", sent, ziptest::StoredName(s->data() + "/a.dat")}).second, QString("old a"));
        QVERIFY(!QFile::exists(s->data() + "/ZEL.ZIP"));
        QVERIFY(s->control("cmdGet")->isEnabled() && !s->ui.busy);
    }

    void aRefusedUploadIsReportedAndSentAgain() {
        auto s = ready(Tova);
        QVERIFY(s->server->setFaults("refuse STOR"));
        s->click("cmdPut");
        QCOMPARE(s->ui.boxes.size(), size_t(2));
        const std::string& text = s->ui.boxes[1].text;
        QVERIFY2(text.find("Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n\r\n553") != std::string::npos,
                 text.c_str());
        QCOMPARE(s->log().size(), 4);                   // never "sent without errors"
        QVERIFY(QFile::exists(s->data() + "/ZEL.ZIP")); // the local archive is kept
        // A second click logs in afresh and succeeds once the server takes the file.
        QVERIFY(s->server->setFaults("clear"));
        s->ui.answers = {ui::Answer::Ok};
        s->click("cmdPut");
        QCOMPARE(s->ui.boxes.size(), size_t(3));
        QCOMPARE(BaseNames(s->home() + "/ZEL.ZIP"), (QStringList{"a.dat", "B.DAT"}));
    }

    void receiveReplacesTheDataSet_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("emptyQmx"); // nothing to clear in data_qmx
        QTest::addColumn<Tree>("expected");
        // Exactly the archive's files, flattened; sub-folders untouched; nothing of ours left behind.
        // Hidden files are not part of the data set: one the archive does not bring stays, one it brings is
        // replaced.
        const Tree tova{{"n1.dat", "new 1"},
                        {"n2.dat", "new 2"},
                        {".licence.cfg", "not part of the data set"},
                        {".brought", "new hidden"},
                        {"sub/keep.dat", "sub-folders are left alone"}};
        QTest::newRow("TOVA") << int(Tova) << false << tova;
        // The databases go up into the data folder; not in the online edition its database stays where the
        // archive put it, and the old one is untouched.
        Tree ledgra{{"ledgra2.mdb", "new ledgra"},
                    {"keep.txt", "not part of the data set"},
                    {"data_qmx/q1.qmx", "new q1"},
                    {"data_qmx/q2.qmx", "new q2"}};
        ledgra.insert("norvane.mdb", "new norvane");
        QTest::newRow("Ledgra online") << int(LedgraOnline) << false << ledgra;
        ledgra.insert("norvane.mdb", "old norvane");
        ledgra.insert("data_qmx/norvane.mdb", "new norvane");
        QTest::newRow("Ledgra") << int(Ledgra) << false << ledgra;
        QTest::newRow("Ledgra, data_qmx empty") << int(Ledgra) << true << ledgra;
    }
    void receiveReplacesTheDataSet() {
        QFETCH(int, kind);
        QFETCH(bool, emptyQmx);
        QFETCH(Tree, expected);
        auto s = ready(kind, kind >= Ledgra
                                 ? Tree{{"ledgra2.mdb", "new ledgra"},
                                        {"norvane.mdb", "new norvane"},
                                        {"q1.qmx", "new q1"},
                                        {"deep/q2.qmx", "new q2"}}
                                 : Tree{{"n1.dat", "new 1"}, {"folder/n2.dat", "new 2"}, {".brought", "new hidden"}});
        if (kind < Ledgra) {
            // A finished receive leaves no archive behind, an old one included.
            WriteTree(s->data(), {{"FIXED.ZIP", "left by a failed receive"},
                                  {".licence.cfg", "not part of the data set"},
                                  {".brought", "old hidden"}});
        }
        if (emptyQmx)
            QVERIFY(QFile::remove(s->qmx() + "/x.qmx") && QFile::remove(s->qmx() + "/y.qmx"));
        s->click("cmdGet");
        QVERIFY2(s->ui.boxes.size() == 1, s->ui.boxes.back().text.c_str());
        const QString local = QString::fromStdString(s->window->State.LocalFixedArchive);
        const QString pattern =
            QString::fromStdString(s->window->State.DataFolder) + (kind >= Ledgra ? "data_qmx\\*.*" : "*.*");
        QCOMPARE(s->log().mid(2), QStringList({"Deleting files " + pattern, "Downloading /home/cust01/FIXED.ZIP",
                                               local + " downloaded.\r\nNow attempting to unzip " + local,
                                               local + " has finished unzipping without errors."}));
        QCOMPARE(Snapshot(s->data()), expected);
        QVERIFY(s->control("cmdPut")->isEnabled() && QFile::exists(s->home() + "/FIXED.ZIP"));
    }

    void receiveFailuresPutTheDataBack_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("setup");  // what is wrong on this side
        QTest::addColumn<QString>("faults"); // in the test server's words
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, int kind, const char* setup, const char* faults, const char* text) {
            QTest::newRow(name) << kind << setup << faults << text;
        };
        row("login refused", LedgraOnline, "", "refuse PASS", "Cannot Connect to");
        row("FIXED.ZIP missing", LedgraOnline, "missing", "", "Couldn't Get File /home/cust01/FIXED.ZIP from Server");
        row("corrupt FIXED.ZIP", Tova, "corrupt", "", "damaged");
        row("database missing for the copy", LedgraOnline, "no norvane", "", "Couldn't copy");
        // Nothing in data_qmx: the clearing stops before the databases, so only the copy up's backup saves them.
        row("database missing, data_qmx empty", LedgraOnline, "no norvane, empty", "", "Couldn't copy");
        row("a file that cannot be deleted", Tova, "read-only", "", "Path/File access error");
    }
    void receiveFailuresPutTheDataBack() {
        QFETCH(int, kind);
        QFETCH(QString, setup);
        QFETCH(QString, faults);
        QFETCH(QString, text);
        Tree archive{{"ledgra2.mdb", "new ledgra"}, {"q1.qmx", Noise(300000)}};
        if (!setup.startsWith("no norvane"))
            archive.insert("norvane.mdb", "new norvane");
        auto s = ready(kind, setup == "missing" ? Tree() : archive);
        if (setup == "corrupt") {
            QByteArray bytes = ReadFile(s->home() + "/FIXED.ZIP");
            for (int i = 100; i < bytes.size() - 200; i += 997)
                bytes[i] = char(bytes[i] ^ 0x5a);
            WriteFile(s->home() + "/FIXED.ZIP", bytes);
        }
        if (setup.endsWith("empty"))
            QVERIFY(QDir(s->qmx()).removeRecursively() && QDir().mkpath(s->qmx()));
        if (setup == "read-only")
            QVERIFY(MakeReadOnly(s->data() + "/B.DAT"));
        QVERIFY(s->server->setFaults(faults) && s->server->clearLog());
        const Tree before = Snapshot(s->data());
        s->click("cmdGet");
        expectIntactAfterFailure(*s, before, text.toStdString());
        QVERIFY(s->log().last().startsWith(
            "The receive did not finish: the files that were there before were put back in place."));
        QVERIFY(!QDir(s->data() + "/ZEL-RECOVERY").exists());
        if (setup == "corrupt") // kept on disk after a failed extraction, as the server sent it
            QCOMPARE(ReadFile(s->data() + "/FIXED.ZIP"), ReadFile(s->home() + "/FIXED.ZIP"));
        if (setup == "read-only")
            QCOMPARE(s->server->loginCount(), 0); // stopped before the download
    }

    // Send and Receive, each clicked once: nothing is attempted and nothing changes.
    void aStoppedRunChangesNothing_data() {
        QTest::addColumn<QString>("cause");
        QTest::newRow("cancelled at the backup warning") << "cancel";
        QTest::newRow("the data folder is missing") << "missing";
        QTest::newRow("another copy holds the data folder") << "lock";
        QTest::newRow("the record of a receive cannot be read") << "damaged";
    }
    void aStoppedRunChangesNothing() {
        QFETCH(QString, cause);
        auto s = ready(Tova, {{"n.dat", "n"}});
        DataFolderLock other(Windows(s->data()));
        if (cause == "lock")
            QVERIFY(other.Take());
        if (cause == "damaged")
            WriteFile(s->data() + "/ZEL-RECOVERY/journal", "zel-receive-journal 2\nstate clearing\n");
        if (cause == "missing")
            QVERIFY(QDir(s->data()).removeRecursively());
        const Tree before = Snapshot(s->data());
        const int logins = s->server->loginCount();
        for (const char* button : {"cmdPut", "cmdGet"}) {
            if (cause != "cancel")
                s->window->SetConnectedState(true); // a failed transfer disables the other button
            s->ui.answers = {cause == "cancel" ? ui::Answer::Cancel : ui::Answer::Ok};
            s->click(button);
        }
        const std::string& folder = s->window->State.DataFolder;
        const std::string expected = cause == "lock" ? DataFolderLock::HeldText(folder)
                                     : cause == "missing"
                                         ? "The data folder " + folder + " cannot be found"
                                         : "The record that an earlier receive left in " + folder + "ZEL-RECOVERY\\";
        QCOMPARE(s->ui.boxes.size(), size_t(cause == "cancel" ? 2 : 4));
        for (std::size_t i = 1; cause != "cancel" && i < 4; i += 2)
            QVERIFY2(s->ui.boxes[i].text.find(expected) == 0, s->ui.boxes[i].text.c_str());
        QCOMPARE(Snapshot(s->data()), before);
        QVERIFY(cause != "missing" || !QFileInfo::exists(s->data()));
        QCOMPARE(s->server->loginCount(), logins);
        QCOMPARE(s->log().size(), 2); // the connection test's: nothing attempted
        QVERIFY(cause != "cancel" || (s->control("cmdPut")->isEnabled() && s->control("cmdGet")->isEnabled()));
        if (cause == "damaged") {
            // At the next start the same box names it.
            s->window.reset();
            s->ui.boxes.clear();
            s->ui.answers = {ui::Answer::Ok, ui::Answer::Ok};
            s->window = std::make_unique<frmFtpTest>();
            QVERIFY(s->window->Load());
            QCOMPARE(s->ui.boxes.size(), size_t(2)); // and then the start-up confirmation
            QVERIFY(s->ui.boxes[0].text.find(expected) == 0);
            QCOMPARE(Snapshot(s->data()), before);
        }
    }

    void oldCopiesAFinishedReceiveCouldNotRemoveStopNothing() {
        auto s = ready(Tova, {{"n.dat", "n"}});
        {
            RecoveryFolder r(Windows(s->data()));
            r.Begin();
            r.Save({"a.dat"});
            r.Commit();
        }
        const Frozen inUse(s->data() + "/ZEL-RECOVERY/saved/a.dat");
        if (!inUse.ok())
            QSKIP("this system cannot make a file refuse its owner's changes");
        s->click("cmdPut");
        s->ui.answers = {ui::Answer::Ok};
        s->click("cmdGet");
        QCOMPARE(s->ui.boxes.size(), size_t(2)); // the two backup warnings
        QVERIFY(s->log().contains(QString::fromStdString(s->window->State.LocalSendArchive) + " sent without errors."));
        QVERIFY(s->log().last().endsWith("has finished unzipping without errors."));
        QCOMPARE(BaseNames(s->home() + "/ZEL.ZIP"), QStringList{"B.DAT"});
        QCOMPARE(Snapshot(s->data()).value("n.dat"), QByteArray("n"));
    }

    void aLeftoverIsPutBackBeforeASend() {
        auto s = ready(Tova);
        const Tree before = Snapshot(s->data());
        {
            // A receive in another copy, killed after the window started.
            RecoveryFolder r(Windows(s->data()));
            r.Begin();
            r.Save({"a.dat", "B.DAT"});
        }
        s->click("cmdPut");
        QCOMPARE(s->log().mid(2, 2),
                 QStringList({"Putting back the files saved by a receive that did not finish.",
                              "Attempting to zip " + QString::fromStdString(s->window->State.LocalSendArchive)}));
        QCOMPARE(BaseNames(s->home() + "/ZEL.ZIP"), (QStringList{"a.dat", "B.DAT"}));
        QCOMPARE(Snapshot(s->data()), before);
    }

    void aReceiveRefusesADataQmxOnAnotherVolume() {
        auto s = ready(Ledgra, {{"ledgra2.mdb", "new ledgra"}, {"q.qmx", "new q"}});
        const Tree before = Snapshot(s->data());
        if (Exec("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", s->qmx()}).first != 0)
            QSKIP("this machine cannot mount a tmpfs for the test (root is needed)");
        WriteTree(s->qmx(), {{"x.qmx", "old x"}, {"y.qmx", "old y"}});
        s->click("cmdGet");
        Exec("umount", {s->qmx()});
        QCOMPARE(s->ui.boxes.size(), size_t(2));
        const std::string text = s->ui.boxes[1].text;
        QVERIFY2(text.find("The folder " + s->window->State.DataFolder + "data_qmx\\ is on another drive") == 0,
                 text.c_str());
        QCOMPARE(Snapshot(s->data()), before);
        QCOMPARE(s->log().size(), 2);
    }

    void aLeftoverIsPutBackBeforeTheWindowTakesAClick() {
        Session s(Product::Tova);
        WriteTree(s.data(), {{"a.dat", "old a"}, {"B.DAT", "old b"}});
        Tree expected = Snapshot(s.data());
        {
            // As a receive killed during its download leaves the data folder.
            RecoveryFolder r(Windows(s.data()));
            r.Begin();
            r.Save({"a.dat", "B.DAT"});
        }
        // The customer works on: a new file, and one in the place of a saved one, which is kept aside.
        const Tree later{{"NEWWORK.DAT", "work done after the crash"}, {"b.dat", "the customer's own b"}};
        WriteTree(s.data(), later);
        expected.remove("B.DAT");
        expected.insert(later);
        s.ui.answers = {ui::Answer::Ok}; // the box naming the kept copy
        QVERIFY(s.start());
        const QString kept =
            "Copies of files that a receive could not put back are kept in " + s.data() + "\\ZEL-RECOVERY\\kept-";
        QCOMPARE(s.log().size(), 2);
        QCOMPARE(s.log()[0], "Putting back the files saved by a receive that did not finish.");
        QVERIFY2(s.log()[1].startsWith(kept), qPrintable(s.log()[1]));
        Tree now = Snapshot(s.data());
        const QStringList keptCopy = now.keys().filter(QRegularExpression("^ZEL-RECOVERY/kept-[-0-9]+/B.DAT$"));
        QCOMPARE(keptCopy.size(), 1);
        QCOMPARE(now.take(keptCopy[0]), QByteArray("old b"));
        QCOMPARE(now, expected);

        // Named again at each start, as long as it is there.
        s.window.reset();
        QVERIFY(s.start());
        QCOMPARE(s.log().size(), 1);
        QVERIFY(s.log()[0].startsWith(kept));
    }

    void aReceiveStoppedDuringTheDownloadRollsBack_data() {
        QTest::addColumn<QString>("how");
        for (const char* how : {"Cancel", "Exit", "window closed"})
            QTest::newRow(how) << QString(how);
    }
    void aReceiveStoppedDuringTheDownloadRollsBack() {
        QFETCH(QString, how);
        auto s = ready(Tova, {{"big.dat", Noise(3000000)}});
        QVERIFY(s->server->setFaults("throttle 300000"));
        const Tree before = Snapshot(s->data());
        const int logins = s->server->loginCount();
        QString step, bytes;
        bool helpShown = false, endedDuringTheRun = true;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // Clicks on the transfer buttons while the receive runs start nothing; help opens beside it (held
            // modal, the session's guard would close it and fail the test).
            s->click("cmdGet");
            s->click("cmdPut");
            if (!helpShown) {
                QTest::mouseClick(s->control("help"), Qt::LeftButton);
                helpShown = s->window->findChild<QWidget*>("frmHelp")->isVisible();
            }
            QWidget* progress = s->window->findChild<QWidget*>("frmProgress");
            if (!progress || !progress->isVisible() || progress->findChild<QLabel*>("lblBytes")->text().isEmpty())
                return;
            poll.stop();
            step = progress->findChild<QLabel*>("lblStep")->text();
            bytes = progress->findChild<QLabel*>("lblBytes")->text();
            if (how == "window closed")
                s->window->close();
            else
                QTest::mouseClick(how == "Exit" ? s->control("Command1") : progress->findChild<QWidget*>("cmdCancel"),
                                  Qt::LeftButton);
            endedDuringTheRun = s->ui.ended;
        });
        poll.start(50);
        s->click("cmdGet");
        poll.stop();
        QVERIFY(helpShown);
        QVERIFY2(step.contains("FIXED.ZIP"), qPrintable(step));
        QVERIFY2(bytes.contains(" of "), qPrintable(bytes));
        if (how == "Cancel") {
            expectIntactAfterFailure(*s, before, "The transfer was cancelled.");
            QCOMPARE(s->server->loginCount(), logins + 1);
            return;
        }
        QVERIFY(!endedDuringTheRun); // not before the run has rolled back
        QVERIFY(how == "Exit" ? s->ui.ended : QTest::qWaitFor([&] { return !s->window->isVisible(); }, 10000));
        QCOMPARE(s->ui.boxes.size(), size_t(1)); // no error box on the way out
        Tree after = Snapshot(s->data());
        after.remove("FIXED.ZIP");
        QCOMPARE(after, before);
    }
};

QTEST_MAIN(tst_workflows)
#include "tst_workflows.moc"
