// The recovery folder that keeps the customer's files while a receive replaces them.
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

    void layLedgra() {
        WriteFile(d() + "/ledgra2.mdb", "old ledgra");
        WriteFile(d() + "/norvane.mdb", "old norvane");
        WriteFile(d() + "/keep.txt", "not part of the data set");
        WriteFile(d() + "/data_qmx/a.qmx", "old a");
        WriteFile(d() + "/data_qmx/B.QMX", "old b");
        WriteFile(d() + "/data_qmx/deeper/c.qmx", "never touched");
    }
    void clearLedgra(RecoveryFolder& r) {
        r.Save("data_qmx\\*.*");
        r.Save("ledgra2.mdb");
        r.Save("norvane.mdb");
        r.MarkCleared();
    }
    // What a receive puts in place before it fails.
    void putNewFiles() {
        WriteFile(d() + "/FIXED.ZIP", "downloaded");
        WriteFile(d() + "/data_qmx/a.qmx", "new a");
        WriteFile(d() + "/data_qmx/extra.qmx", "new extra");
        WriteFile(d() + "/ledgra2.mdb", "new ledgra");
    }

private Q_SLOTS:
    void init() {
        QDir(d()).removeRecursively();
        QVERIFY(QDir().mkpath(d()));
    }

    void clearingSavesAndRestoreBringsBackExactly() {
        layLedgra();
        const auto before = Snapshot(d());
        RecoveryFolder r(Windows(d()));
        QVERIFY(!r.Exists());
        clearLedgra(r);
        QVERIFY(r.Exists());
        // The cleared places are empty; sub-folders and other files stay.
        const auto cleared = Snapshot(d());
        QVERIFY(!cleared.contains("data_qmx/a.qmx") && !cleared.contains("ledgra2.mdb"));
        QCOMPARE(cleared.value("data_qmx/deeper/c.qmx"), QByteArray("never touched"));
        QCOMPARE(cleared.value("keep.txt"), QByteArray("not part of the data set"));

        putNewFiles();
        QCOMPARE(r.Restore("FIXED.ZIP"), 4);
        auto after = Snapshot(d());
        // The downloaded archive stays on disk; everything else is as before the receive.
        QCOMPARE(after.take("FIXED.ZIP"), QByteArray("downloaded"));
        QCOMPARE(after, before);
        QVERIFY(!r.Exists());
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

    void anInterruptedReceiveIsFoundAndRestored() {
        // The folders as a receive killed during its extraction leaves them.
        WriteFile(d() + "/ZEL-RECOVERY/places", "*.*\n");
        WriteFile(d() + "/ZEL-RECOVERY/cleared", "");
        WriteFile(d() + "/ZEL-RECOVERY/saved/tova.dat", "old data");
        WriteFile(d() + "/ZEL-RECOVERY/saved/FIXED.ZIP", "older download");
        WriteFile(d() + "/tova.dat", "half extracted");
        WriteFile(d() + "/other.dat", "extracted");
        WriteFile(d() + "/FIXED.ZIP", "latest download");
        WriteFile(d() + "/sub/kept.dat", "sub-folders are no part of it");
        RecoveryFolder r(Windows(d()));
        QVERIFY(r.Exists());
        r.Restore("FIXED.ZIP");
        QCOMPARE(Snapshot(d()), (QMap<QString, QByteArray>{{"tova.dat", "old data"},
                                                          {"FIXED.ZIP", "latest download"},
                                                          {"sub/kept.dat", "sub-folders are no part of it"}}));
        QVERIFY(!r.Exists());
    }

    void discardRemovesTheSavedFiles() {
        layLedgra();
        RecoveryFolder r(Windows(d()));
        clearLedgra(r);
        r.Discard();
        QVERIFY(!r.Exists());
        QVERIFY(!QDir(d() + "/ZEL-RECOVERY").exists());
    }
};

QTEST_MAIN(tst_recovery)
#include "tst_recovery.moc"
