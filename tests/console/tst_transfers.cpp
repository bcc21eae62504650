// Send Files and Receive Files end to end: the real window, a real FTP server, real archives.
#include "console/RecoveryFolder.h"
#include "ftp/cFTP.h"
#include "support/Files.h"
#include "support/Session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
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

void MakeZip(const QString& target, const QMap<QString, QByteArray>& content) {
    QVERIFY(ZipFiles(target, content));
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
    void sendTovaPacksTheDataFolder_data() {
        QTest::addColumn<bool>("backslash");
        QTest::newRow("DataPath with its backslash") << true;
        QTest::newRow("DataPath without one") << false;
    }
    void sendTovaPacksTheDataFolder() {
        QFETCH(bool, backslash);
        Session s(Product::Tova);
        if (!backslash)
            s.install().writeTova(s.data());
        layTova(s);
        WriteFile(s.data() + "/ZEL.ZIP", "stale archive of an earlier send");
        // Not the data set: a hidden file, and what a killed run of the program left.
        WriteFile(s.data() + "/.hidden", "x");
        WriteFile(s.data() + "/FIXED.ZIP.zel~a1b2c3", "x");
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
        QVERIFY(s.window->DataFolder.back() == '\\');
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

    void receiveTovaReplacesTheDataFolder_data() {
        QTest::addColumn<bool>("backslash");
        QTest::newRow("DataPath with its backslash") << true;
        QTest::newRow("DataPath without one") << false;
    }
    void receiveTovaReplacesTheDataFolder() {
        QFETCH(bool, backslash);
        Session s(Product::Tova);
        if (!backslash)
            s.install().writeTova(s.data());
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
        QTest::addColumn<bool>("tova");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("text");
        QTest::newRow("login refused") << false << "login"
                                       << "Cannot Connect to";
        QTest::newRow("FIXED.ZIP missing") << false << "missing"
                                           << "Couldn't Get File /home/cust01/FIXED.ZIP from Server";
        QTest::newRow("corrupt FIXED.ZIP") << false << "corrupt"
                                           << "damaged";
        QTest::newRow("corrupt FIXED.ZIP, TOVA") << true << "corrupt"
                                                 << "damaged";
        QTest::newRow("line break in an entry's name, TOVA") << true << "hostile"
                                                             << "control character";
        QTest::newRow("database missing for the copy") << false << "copy"
                                                       << "Couldn't copy";
        QTest::newRow("server drops the download") << false << "drop"
                                                   << "Couldn't Get File /home/cust01/FIXED.ZIP";
    }
    void failuresAfterTheClearingPutTheDataBack() {
        QFETCH(bool, tova);
        QFETCH(QString, fault);
        QFETCH(QString, text);
        Session s(tova ? Product::Tova : Product::LedgraOnline);
        if (tova)
            layTova(s);
        else
            layLedgra(s);
        QMap<QString, QByteArray> archive{{"ledgra2.mdb", "new ledgra"}, {"q1.qmx", Noise(300000)}};
        if (fault != "copy")
            archive.insert("norvane.mdb", "new norvane");
        if (fault == "hostile")
            archive.insert("bad\r\nname.txt", "x");
        if (fault != "missing")
            MakeZip(s.home() + "/FIXED.ZIP", archive);
        if (fault == "corrupt") {
            QByteArray bytes = ReadFile(s.home() + "/FIXED.ZIP");
            for (int i = 100; i < bytes.size() - 200; i += 997)
                bytes[i] = char(bytes[i] ^ 0x5a);
            WriteFile(s.home() + "/FIXED.ZIP", bytes);
        }
        ready(s);
        if (fault == "login")
            QVERIFY(s.server->setFaults("refuse PASS"));
        if (fault == "drop")
            QVERIFY(s.server->setFaults("drop 20000"));
        const auto before = Snapshot(s.data());
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        s.ui.boxes.erase(s.ui.boxes.begin());
        expectIntactAfterFailure(s, before, text.toStdString());
        QVERIFY(s.log().last().startsWith("The receive did not finish: the files that were there before were put "
                                          "back in place."));
        QVERIFY(!QDir(s.data() + "/ZEL-RECOVERY").exists());
        if (fault == "corrupt") // kept on disk after a failed extraction, as the server sent it
            QCOMPARE(ReadFile(s.data() + "/FIXED.ZIP"), ReadFile(s.home() + "/FIXED.ZIP"));
    }

    void theCopyUpsBackupPutsTheUntouchedDatabaseBack() {
        // Nothing in data_qmx: the clearing stops before the databases, so only the copy up replaces them.
        Session s(Product::LedgraOnline);
        WriteFile(s.data() + "/ledgra2.mdb", "old ledgra");
        WriteFile(s.data() + "/norvane.mdb", "old norvane");
        QDir().mkpath(s.qmx());
        MakeZip(s.home() + "/FIXED.ZIP", {{"ledgra2.mdb", "new ledgra"}, {"q.qmx", "q"}}); // no norvane.mdb
        ready(s);
        const auto before = Snapshot(s.data());
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        s.ui.boxes.erase(s.ui.boxes.begin());
        expectIntactAfterFailure(s, before, "Couldn't copy");
    }

    void aMissingDataFolderIsNamedBeforeAnythingIsTouched() {
        Session s(Product::Tova);
        ready(s);
        QVERIFY(QDir(s.data()).removeRecursively());
        for (const char* button : {"cmdPut", "cmdGet"}) {
            s.window->SetConnectedState(true); // a failed transfer disables the other button
            s.ui.answers = {ui::Answer::Ok};
            s.click(button);
        }
        QCOMPARE(s.ui.boxes.size(), size_t(4));
        for (int i : {1, 3})
            QVERIFY2(s.ui.boxes[i].text.find("The data folder " + s.window->DataFolder + " cannot be found") == 0,
                     s.ui.boxes[i].text.c_str());
        QVERIFY(!QFileInfo::exists(s.data()));
        QCOMPARE(s.log().size(), 2); // nothing attempted
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
            QVERIFY(s.server->setFaults("refuse-stor on"));
        else
            QVERIFY(s.server->setFaults("drop 50000"));
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        QVERIFY2(s.ui.boxes[1].text.find(text.toStdString()) != std::string::npos, s.ui.boxes[1].text.c_str());
        // Three retries for a line that keeps dropping, none for a refusal; never "sent without errors".
        QCOMPARE(s.log().filter(" (3 of 3)").size(), fault == "drop" ? 1 : 0);
        QCOMPARE(s.log().size(), fault == "drop" ? 7 : 4);
        QVERIFY(QFile::exists(s.data() + "/ZEL.ZIP")); // the local archive is kept
        QVERIFY(!s.window->Ftp->Connected());
        QVERIFY(!s.control("cmdGet")->isEnabled());

        // A second click logs in afresh and succeeds once the server takes the file.
        QVERIFY(s.server->setFaults("clear"));
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(3));
        QVERIFY(Intact(s.home() + "/ZEL.ZIP"));
        QCOMPARE(BaseNames(ZipEntries(s.home() + "/ZEL.ZIP")), QStringList({"big.dat"}));
    }

    void aServerWithoutSizeStillTakesTheSend() {
        Session s(Product::Tova);
        WriteFile(s.data() + "/a.dat", Noise(5000));
        ready(s);
        QVERIFY(s.server->setFaults("no-size on"));
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(1));
        QVERIFY(s.log().last().endsWith(" sent without errors."));
        QVERIFY(Intact(s.home() + "/ZEL.ZIP"));
    }

    void aShortUploadIsAFailure() {
        Session s(Product::Tova);
        WriteFile(s.data() + "/a.dat", Noise(5000));
        ready(s);
        QVERIFY(s.server->setFaults("shorten 10"));
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdPut");
        QCOMPARE(s.ui.boxes.size(), size_t(2));
        const std::string& text = s.ui.boxes[1].text;
        QVERIFY2(text.find("The server holds ") != std::string::npos &&
                     text.find(" bytes were sent") != std::string::npos,
                 text.c_str());
        QVERIFY(s.log().last().startsWith("The copy did not match the original — transferring it again (3 of 3)"));
        QCOMPARE(s.log().size(), 7); // not reported as sent
        QVERIFY(QFile::exists(s.data() + "/ZEL.ZIP"));
        QVERIFY(!s.window->Ftp->Connected());
    }

    void aLeftoverIsPutBackBeforeTheWindowTakesAClick() {
        Session s(Product::Tova);
        layTova(s);
        const auto before = Snapshot(s.data());
        {
            // As a receive killed during its download leaves the data folder.
            RecoveryFolder r(Windows(s.data()));
            r.Begin();
            r.Save("*.*");
        }
        WriteFile(s.data() + "/NEWWORK.DAT", "work done after the crash");
        QVERIFY(s.start());
        QCOMPARE(s.log(), QStringList{"Putting back the files saved by a receive that did not finish."});
        auto expected = before;
        expected.insert("NEWWORK.DAT", "work done after the crash");
        QCOMPARE(Snapshot(s.data()), expected);
        QVERIFY(s.ui.boxes.empty());
    }

    void aLongDownloadShowsProgressAndCanBeCancelled() {
        Session s(Product::Tova);
        layTova(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"big.dat", Noise(3000000)}});
        ready(s);
        QVERIFY(s.server->setFaults("throttle 400000"));
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
        QVERIFY(s.server->setFaults("throttle 1000000"));
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

    void exitDuringAReceiveRollsBackThenEnds() {
        Session s(Product::Tova);
        layTova(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"big.dat", Noise(3000000)}});
        ready(s);
        QVERIFY(s.server->setFaults("throttle 300000"));
        const auto before = Snapshot(s.data());
        bool endedDuringTheRun = true;
        QTimer exit;
        QObject::connect(&exit, &QTimer::timeout, [&] {
            if (s.window->Running() && !Snapshot(s.data()).contains("a.dat")) { // cleared: the download runs
                QTest::mouseClick(s.control("Command1"), Qt::LeftButton);
                endedDuringTheRun = s.ui.ended;
                exit.stop();
            }
        });
        exit.start(20);
        s.ui.answers = {ui::Answer::Ok};
        s.click("cmdGet");
        QVERIFY(!endedDuringTheRun); // not before the run has rolled back
        QVERIFY(s.ui.ended);
        QCOMPARE(s.ui.boxes.size(), size_t(1)); // no error box on the way out
        auto after = Snapshot(s.data());
        after.remove("FIXED.ZIP");
        QCOMPARE(after, before);
    }

    void closingTheWindowCancelsTheRunningReceive() {
        Session s(Product::Tova);
        layTova(s);
        MakeZip(s.home() + "/FIXED.ZIP", {{"big.dat", Noise(3000000)}});
        ready(s);
        QVERIFY(s.server->setFaults("throttle 300000"));
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
