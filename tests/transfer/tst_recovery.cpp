// The receive's transaction on disk: what a recovery leaves after each state, the customer's later work included.
#include "support/Files.h"
#include "transfer/RecoveryFolder.h"

#include <QtTest>

using namespace testsupport;
using Tree = QMap<QString, QByteArray>;

class tst_recovery : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;
    QString d() const { return m_Dir.path() + "/data"; }
    // The data folder without the recovery folder.
    Tree data() const {
        Tree t = Snapshot(d());
        for (const QString& k : t.keys())
            if (k.startsWith("ZEL-RECOVERY/"))
                t.remove(k);
        return t;
    }
    // Clears the old data set and stages the new one, then puts it in place when asked: what a receive killed
    // there leaves.
    void receiveUpTo(RecoveryFolder& r, const Tree& incoming, bool install) {
        r.Begin();
        r.Save("*.*");
        std::vector<RecoveryFolder::Placement> plan;
        for (auto it = incoming.begin(); it != incoming.end(); ++it) {
            WriteFile(d() + "/ZEL-RECOVERY/new/" + it.key(), it.value());
            plan.push_back({it.key().toStdString(), it.key().toStdString()});
        }
        if (install)
            r.Install(plan);
    }

private Q_SLOTS:
    void init() {
        QDir(d()).removeRecursively();
        QVERIFY(QDir().mkpath(d() + "/sub"));
        WriteFile(d() + "/a.dat", "old a");
        WriteFile(d() + "/A.DAT", "old A, a different file on this system");
        WriteFile(d() + "/b.dat", "old b");
    }

    void recoveryAfterEachState_data() {
        QTest::addColumn<QString>("state");
        QTest::newRow("killed while unpacking") << "clearing";
        QTest::newRow("killed after putting the new files in place") << "installing";
        QTest::newRow("killed after the commit") << "committed";
    }
    void recoveryAfterEachState() {
        QFETCH(QString, state);
        const Tree before = data();
        const Tree incoming{{"a.dat", "new a"}, {"n.dat", "new n"}};
        {
            RecoveryFolder r(Windows(d()));
            receiveUpTo(r, incoming, state != "clearing");
            if (state == "committed")
                r.Commit();
        }
        // The customer works on after the crash: a new file, and a file of the archive's name replaced by theirs.
        WriteFile(d() + "/NEWWORK.DAT", "later work");
        if (state == "installing")
            WriteFile(d() + "/n.dat", "the customer's own n");

        RecoveryFolder r(Windows(d()));
        QVERIFY(r.Pending());
        const RecoveryFolder::Outcome outcome = r.Recover();
        QVERIFY(!r.Pending());
        Tree expected = state == "committed" ? incoming : before;
        expected.insert("NEWWORK.DAT", "later work");
        if (state == "installing")
            expected.insert("n.dat", "the customer's own n");
        QCOMPARE(data(), expected);
        QCOMPARE(outcome.rolledBack, state != "committed");
        QCOMPARE(outcome.tidied, state == "committed");
        QVERIFY(outcome.kept.empty());
        QVERIFY(!QDir(d() + "/ZEL-RECOVERY").exists());

        // A second recovery finds nothing to do.
        QCOMPARE(RecoveryFolder(Windows(d())).Recover().rolledBack, false);
    }

    void aSavedFileWhosePlaceIsTakenIsKeptAside() {
        {
            RecoveryFolder r(Windows(d()));
            receiveUpTo(r, {}, false);
        }
        WriteFile(d() + "/b.dat", "the customer's b, written after the crash");
        RecoveryFolder r(Windows(d()));
        const RecoveryFolder::Outcome outcome = r.Recover();
        QCOMPARE(outcome.kept, std::vector<std::string>{"b.dat"});
        QCOMPARE(ReadFile(d() + "/b.dat"), QByteArray("the customer's b, written after the crash"));
        QCOMPARE(ReadFile(QString::fromStdString(files::NativePath(outcome.keptFolder)) + "/b.dat"),
                 QByteArray("old b"));
        QCOMPARE(ReadFile(d() + "/a.dat"), QByteArray("old a"));
        QVERIFY(!r.Pending()); // the transaction is over; the kept copy waits for the customer
    }

    void clearingFailuresLeaveEverythingRecoverable() {
        RecoveryFolder r(Windows(d()));
        r.Begin();
        QVERIFY(Raised([&] { r.Save("data_qmx\\*.*"); }).startsWith("53 ")); // nothing to clear
        QFile(d() + "/b.dat").setPermissions(QFile::ReadOwner);
        const Tree before = data();
        QVERIFY(Raised([&] { r.Save("*.*"); }).startsWith("75 ")); // a read-only file stops the clearing
        QVERIFY(!QFile::exists(d() + "/A.DAT"));                   // saved before the failure
        QCOMPARE(r.Recover().restored, 2);
        QCOMPARE(data(), before);
        QFile(d() + "/b.dat").setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    void installSavesWhatStandsInAPlaceAndRefusesFolders() {
        RecoveryFolder r(Windows(d()));
        const Tree before = data();
        r.Begin(); // nothing cleared: the targets are still there, in another case
        WriteFile(d() + "/ZEL-RECOVERY/new/B.DAT", "new b");
        r.Install({{"B.DAT", "B.DAT"}});
        QCOMPARE(data().value("B.DAT"), QByteArray("new b"));
        QVERIFY(!data().contains("b.dat"));
        QCOMPARE(r.Recover().restored, 1);
        QCOMPARE(data(), before);

        r.Begin();
        WriteFile(d() + "/ZEL-RECOVERY/new/SUB", "a file named like a folder");
        QVERIFY(Raised([&] { r.Install({{"SUB", "SUB"}}); }).contains("is a folder"));
        r.Recover();
        QCOMPARE(data(), before);
    }
};

QTEST_MAIN(tst_recovery)
#include "tst_recovery.moc"
