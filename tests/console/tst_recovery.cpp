// The recovery folder's own rules; the receive tests cover it in the workflow.
#include "console/RecoveryFolder.h"
#include "platform/error/Error.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class tst_recovery : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;
    QString d() const { return m_Dir.path() + "/data"; }

private Q_SLOTS:
    void init() {
        QDir(d()).removeRecursively();
        QVERIFY(QDir().mkpath(d()));
    }

    void nothingToClearIsFileNotFoundButStillAPlace() {
        WriteFile(d() + "/ledgra2.mdb", "old ledgra");
        QDir().mkpath(d() + "/data_qmx");
        RecoveryFolder r(Windows(d()));
        try {
            r.Save("data_qmx\\*.*");
            QFAIL("an empty pattern must raise");
        } catch (const zel::Error& e) {
            QCOMPARE(e.Number(), zel::rt::FileNotFound);
        }
        r.MarkCleared();
        WriteFile(d() + "/data_qmx/new.qmx", "extracted");
        r.Restore("FIXED.ZIP");
        // What the failed receive extracted is gone again; the untouched database is still there.
        QCOMPARE(Snapshot(d()), (QMap<QString, QByteArray>{{"ledgra2.mdb", "old ledgra"}}));
        QVERIFY(!r.Exists());
    }

    void readOnlyFileStopsTheClearingAndRestoreUndoesIt() {
        WriteFile(d() + "/a.dat", "a");
        WriteFile(d() + "/b.dat", "b");
        WriteFile(d() + "/c.dat", "c");
        QFile(d() + "/b.dat").setPermissions(QFile::ReadOwner | QFile::ReadGroup);
        const auto before = Snapshot(d());
        RecoveryFolder r(Windows(d()));
        try {
            r.Save("*.*");
            QFAIL("a read-only file must stop the clearing");
        } catch (const zel::Error& e) {
            QCOMPARE(e.Number(), zel::rt::PathFileAccessError);
        }
        QVERIFY(!QFile::exists(d() + "/a.dat")); // saved before the failure
        // Not marked cleared: nothing is removed, the saved file simply goes back.
        QCOMPARE(r.Restore("FIXED.ZIP"), 1);
        QCOMPARE(Snapshot(d()), before);
    }

    void aTakenPlaceIsNeverOverwritten() {
        WriteFile(d() + "/a.dat", "original");
        RecoveryFolder r(Windows(d()));
        r.Save("*.*");
        WriteFile(d() + "/a.dat", "someone else's"); // not marked cleared: this file is not ours to remove
        try {
            r.Restore("FIXED.ZIP");
            QFAIL("a taken place must be reported");
        } catch (const zel::Error& e) {
            QVERIFY(QString::fromStdString(e.Description()).contains("a.dat"));
        }
        QCOMPARE(ReadFile(d() + "/a.dat"), QByteArray("someone else's"));
        QCOMPARE(ReadFile(d() + "/ZEL-RECOVERY/saved/a.dat"), QByteArray("original"));
        QVERIFY(r.Exists());
    }
};

QTEST_MAIN(tst_recovery)
#include "tst_recovery.moc"
