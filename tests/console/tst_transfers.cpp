// Send Files and Receive Files end to end: the real window, a real FTP server, real archives.
#include "ftp/cFTP.h"
#include "support/Files.h"
#include "support/Session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

QByteArray Run(const QString& program, const QStringList& args, int* exitCode = nullptr,
               const QString& workdir = QString()) {
    QProcess p;
    if (!workdir.isEmpty())
        p.setWorkingDirectory(workdir);
    p.start(program, args);
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// Entry names of an archive as Info-ZIP lists them.
QStringList ZipEntries(const QString& zip) {
    QStringList names = QString::fromUtf8(Run("unzip", {"-Z1", zip})).split('\n', Qt::SkipEmptyParts);
    return names;
}

bool Intact(const QString& zip) {
    int rc = -1;
    Run("unzip", {"-tq", zip}, &rc);
    return rc == 0;
}

QByteArray EntryBytes(const QString& zip, const QString& entry) {
    return Run("unzip", {"-p", zip, entry});
}

// Builds an archive with Info-ZIP from files given relative to a scratch folder.
void MakeZip(const QString& target, const QMap<QString, QByteArray>& content) {
    QTemporaryDir stage;
    for (auto it = content.begin(); it != content.end(); ++it)
        WriteFile(stage.path() + "/" + it.key(), it.value());
    QFile::remove(target);
    int rc = -1;
    Run("zip", QStringList{"-q", "-r", target} + content.keys(), &rc, stage.path());
    QCOMPARE(rc, 0);
}

QByteArray Noise(int size) {
    QByteArray b(size, Qt::Uninitialized);
    auto* gen = QRandomGenerator::global();
    for (int i = 0; i < size; ++i)
        b[i] = char(gen->bounded(256));
    return b;
}

QStringList BaseNames(const QStringList& entries) {
    QStringList names;
    for (const QString& e : entries)
        if (!e.endsWith('/'))
            names << e.section('/', -1);
    return names;
}

} // namespace

class tst_transfers : public QObject {
    Q_OBJECT

    void ready(Session& s) {
        QVERIFY(s.start());
        s.login();
        QVERIFY2(s.ui.boxes.empty(), "Test Connection failed");
        s.ui.boxes.clear();
    }
    void layTova(Session& s) {
        WriteFile(s.data() + "/a.dat", "old a");
        WriteFile(s.data() + "/B.DAT", "old b");
        WriteFile(s.data() + "/sub/keep.dat", "sub-folders are left alone");
    }
    void layLedgra(Session& s) {
        WriteFile(s.data() + "/ledgra2.mdb", "old ledgra");
        WriteFile(s.data() + "/norvane.mdb", "old norvane");
        WriteFile(s.data() + "/keep.txt", "not part of the data set");
        WriteFile(s.qmx() + "/x.qmx", "old x");
        WriteFile(s.qmx() + "/y.qmx", "old y");
    }
    // A failed run shows one error box, and the old data set is there as before (the downloaded
    // archive excepted).
    void expectIntactAfterFailure(Session& s, const QMap<QString, QByteArray>& before, const std::string& text) {
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QCOMPARE(s.ui.boxes[0].title, std::string("ZEL FTP CLIENT ERROR"));
        QVERIFY2(s.ui.boxes[0].text.find(text) != std::string::npos, s.ui.boxes[0].text.c_str());
        auto after = Snapshot(s.data());
        after.remove("FIXED.ZIP");
        QCOMPARE(after, before);
        QVERIFY(!s.window->Ftp->Connected());
        QVERIFY(!s.ui.busy);
        QVERIFY(!s.control("cmdPut")->isEnabled());
    }

private Q_SLOTS:
    void sendTovaPacksTheDataFolder() {
        Session s(Product::Tova);
        layTova(s);
        WriteFile(s.data() + "/ZEL.ZIP", "stale archive of an earlier send");
        ready(s);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QVERIFY2(s.ui.boxes.size() == 1, s.ui.boxes.size() > 1 ? s.ui.boxes[1].text.c_str() : "no box");
        QCOMPARE(s.ui.boxes[0].text, s.window->BackupWarning);
        const QString local = QString::fromStdString(s.window->LocalSendArchive);
        QCOMPARE(s.log().mid(2),
                 QStringList({"Attempting to zip " + local, "Now attempting to send file. This may take a while.",
                              local + " sent without errors."}));
        const QString sent = s.home() + "/ZEL.ZIP";
        QVERIFY(Intact(sent));
        const QStringList entries = ZipEntries(sent);
        QStringList names = BaseNames(entries);
        names.sort(Qt::CaseInsensitive);
        QCOMPARE(names, QStringList({"a.dat", "B.DAT"}));
        const QString a =
            *std::find_if(entries.begin(), entries.end(), [](const QString& e) { return e.endsWith("/a.dat"); });
        QVERIFY(a.endsWith("data/a.dat"));
        QCOMPARE(EntryBytes(sent, a), QByteArray("old a"));
        QVERIFY(!QFile::exists(s.data() + "/ZEL.ZIP"));
        QVERIFY(s.control("cmdGet")->isEnabled());
        QVERIFY(!s.ui.busy);
    }

    void sendLedgraPacksTheDatabasesAndTheSubFolder_data() {
        QTest::addColumn<bool>("online");
        QTest::newRow("online edition") << true;
        QTest::newRow("plain edition") << false;
    }
    void sendLedgraPacksTheDatabasesAndTheSubFolder() {
        QFETCH(bool, online);
        Session s(online ? Product::LedgraOnline : Product::Ledgra);
        layLedgra(s);
        ready(s);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        const QString sent = s.home() + "/ZEL.ZIP";
        QVERIFY(Intact(sent));
        const QStringList expected = online ? QStringList{"norvane.mdb", "ledgra2.mdb", "x.qmx", "y.qmx"}
                                            : QStringList{"ledgra2.mdb", "x.qmx", "y.qmx"};
        QCOMPARE(BaseNames(ZipEntries(sent)), expected);
    }

    void receiveTovaReplacesTheDataFolder() {
        Session s(Product::Tova);
        layTova(s);
        WriteFile(s.data() + "/FIXED.ZIP", "left by a failed receive");
        MakeZip(s.home() + "/FIXED.ZIP", {{"n1.dat", "new 1"}, {"folder/n2.dat", "new 2"}});
        ready(s);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QVERIFY2(s.ui.boxes.size() == 1, s.ui.boxes.size() > 1 ? s.ui.boxes[1].text.c_str() : "no box");
        const QString local = QString::fromStdString(s.window->LocalFixedArchive);
        const QString pattern = QString::fromStdString(s.window->DataFolder) + "*.*";
        QCOMPARE(s.log().mid(2), QStringList({"Deleting files " + pattern, "Downloading /home/cust01/FIXED.ZIP",
                                              local + " downloaded.\r\nNow attempting to unzip " + local,
                                              local + " has finished unzipping without errors."}));
        // Exactly the archive's files, flattened; sub-folders untouched; nothing of ours left behind.
        QCOMPARE(Snapshot(s.data()),
                 (QMap<QString, QByteArray>{
                     {"n1.dat", "new 1"}, {"n2.dat", "new 2"}, {"sub/keep.dat", "sub-folders are left alone"}}));
        QVERIFY(!QDir(s.data() + "/ZEL-RECOVERY").exists());
        QVERIFY(s.control("cmdPut")->isEnabled());
        QVERIFY(QFile::exists(s.home() + "/FIXED.ZIP")); // the server keeps it
    }

    void receiveLedgraMovesTheDatabasesUp_data() {
        QTest::addColumn<bool>("online");
        QTest::newRow("online edition") << true;
        QTest::newRow("plain edition") << false;
    }
    void receiveLedgraMovesTheDatabasesUp() {
        QFETCH(bool, online);
        Session s(online ? Product::LedgraOnline : Product::Ledgra);
        layLedgra(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"ledgra2.mdb", "new ledgra"},
                                          {"norvane.mdb", "new norvane"},
                                          {"q1.qmx", "new q1"},
                                          {"deep/q2.qmx", "new q2"}});
        ready(s);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QVERIFY2(s.ui.boxes.size() == 1, s.ui.boxes.size() > 1 ? s.ui.boxes[1].text.c_str() : "no box");
        QMap<QString, QByteArray> expected{{"ledgra2.mdb", "new ledgra"},
                                           {"keep.txt", "not part of the data set"},
                                           {"data_qmx/q1.qmx", "new q1"},
                                           {"data_qmx/q2.qmx", "new q2"}};
        if (online) {
            expected.insert("norvane.mdb", "new norvane");
        } else {
            // Not the online edition: its database stays where the archive put it, the old one is untouched.
            expected.insert("norvane.mdb", "old norvane");
            expected.insert("data_qmx/norvane.mdb", "new norvane");
        }
        QCOMPARE(Snapshot(s.data()), expected);
    }

    void emptySubFolderIsNothingToClear() {
        Session s(Product::Ledgra);
        WriteFile(s.data() + "/ledgra2.mdb", "old ledgra");
        QDir().mkpath(s.qmx());
        MakeZip(s.home() + "/FIXED.ZIP", {{"ledgra2.mdb", "new ledgra"}, {"q.qmx", "q"}});
        ready(s);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QCOMPARE(s.ui.boxes.size(), size_t(1)); // no error box
        QCOMPARE(Snapshot(s.data()),
                 (QMap<QString, QByteArray>{{"ledgra2.mdb", "new ledgra"}, {"data_qmx/q.qmx", "q"}}));
    }

    void cancelAtTheConfirmationChangesNothing() {
        Session s(Product::Tova);
        layTova(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"n.dat", "n"}});
        ready(s);
        const auto before = Snapshot(s.data());
        for (const char* button : {"cmdPut", "cmdGet"}) {
            s.ui.answers = {ui::Answer::Cancel};
            s.click(button);
        }
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        QVERIFY(s.log().size() == 2); // the two lines of the connection test
        QCOMPARE(Snapshot(s.data()), before);
        QVERIFY(s.control("cmdPut")->isEnabled() && s.control("cmdGet")->isEnabled());
        QVERIFY(!QFile::exists(s.home() + "/ZEL.ZIP"));
    }

    void undeletableFileStopsTheReceive() {
        Session s(Product::Tova);
        layTova(s);
        QFile(s.data() + "/B.DAT").setPermissions(QFile::ReadOwner);
        MakeZip(s.home() + "/FIXED.ZIP", {{"n.dat", "n"}});
        ready(s);
        const auto before = Snapshot(s.data());
        s.server->clearLog();
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        s.ui.boxes.erase(s.ui.boxes.begin());
        expectIntactAfterFailure(s, before, "Path/File access error");
        QCOMPARE(s.server->loginCount(), 0); // no download
        QFile(s.data() + "/B.DAT").setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    void failuresAfterTheClearingPutTheDataBack_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("text");
        QTest::newRow("login refused") << "login"
                                       << "Cannot Connect to";
        QTest::newRow("FIXED.ZIP missing") << "missing"
                                           << "Couldn't Get File /home/cust01/FIXED.ZIP from Server";
        QTest::newRow("corrupt FIXED.ZIP") << "corrupt"
                                           << "";
        QTest::newRow("database missing for the copy") << "copy"
                                                       << "Couldn't copy";
        QTest::newRow("server drops the download") << "drop"
                                                   << "Couldn't Get File /home/cust01/FIXED.ZIP";
    }
    void failuresAfterTheClearingPutTheDataBack() {
        QFETCH(QString, fault);
        QFETCH(QString, text);
        Session s(Product::LedgraOnline);
        layLedgra(s);
        QMap<QString, QByteArray> archive{{"ledgra2.mdb", "new ledgra"}, {"q1.qmx", Noise(300000)}};
        if (fault != "copy")
            archive.insert("norvane.mdb", "new norvane");
        if (fault != "missing")
            MakeZip(s.home() + "/FIXED.ZIP", archive);
        if (fault == "corrupt") {
            QByteArray bytes = ReadFile(s.home() + "/FIXED.ZIP");
            for (int i = 100; i < bytes.size() - 200; i += 997)
                bytes[i] = char(bytes[i] ^ 0x5a);
            WriteFile(s.home() + "/FIXED.ZIP", bytes);
        }
        ready(s);
        std::unique_ptr<FtpServer> other;
        if (fault == "login") {
            // Another server where this password is wrong.
            QTemporaryDir otherRoot;
            other =
                std::make_unique<FtpServer>(otherRoot.path(), QList<FtpUser>{{"cust01", "other", otherRoot.path()}});
            QVERIFY(other->isRunning());
            s.window->HostName = other->hostPort().toStdString();
        }
        if (fault == "drop")
            QVERIFY(s.server->dropDataAfter(20000));
        const auto before = Snapshot(s.data());
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        s.ui.boxes.erase(s.ui.boxes.begin());
        expectIntactAfterFailure(s, before, text.toStdString());
        QVERIFY(s.log().last().startsWith("The receive did not finish: the files that were there before were put "
                                          "back in place."));
        QVERIFY(!QDir(s.data() + "/ZEL-RECOVERY").exists());
        if (fault == "corrupt")
            QVERIFY(QFile::exists(s.data() + "/FIXED.ZIP")); // kept on disk after a failed extraction
    }

    void sendFailuresAreReported_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("text");
        QTest::newRow("upload refused") << "refuse"
                                        << "Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n\r\n553";
        QTest::newRow("server drops the upload") << "drop"
                                                 << "Couldn't Send File /home/cust01/ZEL.ZIP to Server";
    }
    void sendFailuresAreReported() {
        QFETCH(QString, fault);
        QFETCH(QString, text);
        Session s(Product::Tova);
        WriteFile(s.data() + "/big.dat", Noise(400000));
        ready(s);
        if (fault == "refuse")
            QVERIFY(s.server->refuseStore());
        else
            QVERIFY(s.server->dropDataAfter(50000));
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        QVERIFY2(s.ui.boxes[1].text.find(text.toStdString()) != std::string::npos, s.ui.boxes[1].text.c_str());
        QCOMPARE(s.log().size(), 4);                   // no "sent without errors"
        QVERIFY(QFile::exists(s.data() + "/ZEL.ZIP")); // the local archive is kept
        QVERIFY(!s.window->Ftp->Connected());
        QVERIFY(!s.control("cmdGet")->isEnabled());

        // A second click logs in afresh and succeeds once the server takes the file.
        QVERIFY(s.server->clearFaults());
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(3));
        QVERIFY(Intact(s.home() + "/ZEL.ZIP"));
        QCOMPARE(BaseNames(ZipEntries(s.home() + "/ZEL.ZIP")), QStringList({"big.dat"}));
    }

    void aShortUploadIsAFailure() {
        Session s(Product::Tova);
        WriteFile(s.data() + "/a.dat", Noise(5000));
        ready(s);
        QVERIFY(s.server->shortenStores(10));
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        const std::string& text = s.ui.boxes[1].text;
        QVERIFY2(text.find("The server holds ") != std::string::npos &&
                     text.find(" bytes were sent") != std::string::npos,
                 text.c_str());
        QCOMPARE(s.log().size(), 4); // not reported as sent
        QVERIFY(QFile::exists(s.data() + "/ZEL.ZIP"));
        QVERIFY(!s.window->Ftp->Connected());
    }

    void anInterruptedReceiveIsRestoredByTheNext() {
        Session s(Product::Tova);
        // As a receive killed during its extraction leaves the data folder.
        WriteFile(s.data() + "/ZEL-RECOVERY/places", "*.*\n");
        WriteFile(s.data() + "/ZEL-RECOVERY/cleared", "");
        WriteFile(s.data() + "/ZEL-RECOVERY/saved/a.dat", "old a");
        WriteFile(s.data() + "/a.dat", "half written");
        WriteFile(s.data() + "/n.dat", "extracted");
        ready(s);
        // This receive fails too (no FIXED.ZIP yet): the customer's own files are what stays.
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        QVERIFY(s.log().contains("Putting back the files saved by a receive that did not finish."));
        QCOMPARE(Snapshot(s.data()), (QMap<QString, QByteArray>{{"a.dat", "old a"}}));

        MakeZip(s.home() + "/FIXED.ZIP", {{"n.dat", "new"}});
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QCOMPARE(s.ui.boxes.size(), size_t(3));
        QCOMPARE(Snapshot(s.data()), (QMap<QString, QByteArray>{{"n.dat", "new"}}));
    }

    void aLongDownloadShowsProgressAndCanBeCancelled() {
        Session s(Product::Tova);
        layTova(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"big.dat", Noise(3000000)}});
        ready(s);
        QVERIFY(s.server->throttle(400000));
        const auto before = Snapshot(s.data());
        const int logins = s.server->loginCount();
        QString step;
        QString bytes;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // Clicks on the transfer buttons while the receive runs start nothing.
            s.click("cmdGet");
            s.click("cmdPut");
            QWidget* progress = s.window->findChild<QWidget*>("frmProgress");
            if (progress && progress->isVisible() && !progress->findChild<QLabel*>("lblBytes")->text().isEmpty()) {
                step = progress->findChild<QLabel*>("lblStep")->text();
                bytes = progress->findChild<QLabel*>("lblBytes")->text();
                QTest::mouseClick(progress->findChild<QAbstractButton*>("cmdCancel"), Qt::LeftButton);
                poll.stop();
            }
        });
        poll.start(50);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        poll.stop();
        QVERIFY2(step.contains("FIXED.ZIP"), qPrintable(step));
        QVERIFY2(bytes.contains(" of "), qPrintable(bytes));
        s.ui.boxes.erase(s.ui.boxes.begin());
        expectIntactAfterFailure(s, before, "The transfer was cancelled.");
        QCOMPARE(s.server->loginCount(), logins + 1);
    }

    void helpDuringATransferDoesNotHoldIt() {
        Session s(Product::Tova);
        MakeZip(s.home() + "/FIXED.ZIP", {{"big.dat", Noise(1500000)}});
        ready(s);
        QVERIFY(s.server->throttle(1000000));
        bool helpShown = false;
        bool helpModal = false;
        QTimer::singleShot(200, s.window.get(), [&] {
            // Should the help window hold the run in a modal loop, this ends that loop.
            QTimer::singleShot(500, s.window.get(), [&] {
                if (QWidget* modal = QApplication::activeModalWidget()) {
                    helpModal = true;
                    modal->hide();
                }
            });
            QTest::mouseClick(s.control("help"), Qt::LeftButton);
            QWidget* help = s.window->findChild<QWidget*>("frmHelp");
            helpShown = help && help->isVisible();
        });
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet"); // returns only when the receive is done: the help window did not hold it
        QVERIFY(helpShown);
        QVERIFY(!helpModal);
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QCOMPARE(Snapshot(s.data()).keys(), QStringList({"big.dat"}));
    }

    void closingTheWindowCancelsTheRunningReceive() {
        Session s(Product::Tova);
        layTova(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"big.dat", Noise(3000000)}});
        ready(s);
        QVERIFY(s.server->throttle(300000));
        const auto before = Snapshot(s.data());
        QTimer::singleShot(300, s.window.get(), [&] { s.window->close(); });
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QVERIFY(WaitFor([&] { return !s.window->isVisible(); }));
        QCOMPARE(s.ui.boxes.size(), size_t(1)); // no error box once the user closed the window
        auto after = Snapshot(s.data());
        after.remove("FIXED.ZIP");
        QCOMPARE(after, before);
    }
};

QTEST_MAIN(tst_transfers)
#include "tst_transfers.moc"
