// The receive's transaction on disk: what a recovery leaves after each state, the customer's later work included,
// and what it does with a record it cannot trust or a file it cannot move.
#include "platform/error/Error.h"
#include "support/TestFiles.h"
#include "transfer/Journal.h"
#include "transfer/RecoveryFolder.h"

#include <QtTest>

#include <zlib.h>

using namespace testsupport;
using Tree = QMap<QString, QByteArray>;

namespace {

const QDateTime ArchiveTime = QDateTime::fromSecsSinceEpoch(1700000000);

std::uint32_t Crc(const QByteArray& bytes) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

// The journal's text with its checksum line made right for what precedes it.
QByteArray Resum(const QByteArray& text) {
    const QByteArray body = text.left(text.lastIndexOf("crc32 "));
    return body + "crc32 " + QByteArray::number(Crc(body), 16).rightJustified(8, '0') + "\n";
}

} // namespace

class tst_recovery : public QObject {
    Q_OBJECT

    QTemporaryDir m_Dir;
    QString d() const { return m_Dir.path() + "/data"; }
    QString journalPath() const { return d() + "/ZEL-RECOVERY/journal"; }
    // The data folder without the recovery folder.
    Tree data() const {
        Tree t = Snapshot(d());
        for (const QString& k : t.keys())
            if (k.startsWith("ZEL-RECOVERY/"))
                t.remove(k);
        return t;
    }
    std::vector<std::string> names(const Tree& t) const {
        std::vector<std::string> out;
        for (const QString& k : t.keys())
            out.push_back(QString(k).replace('/', '\\').toStdString());
        return out;
    }
    // Clears the old data set and stages the new one, then puts it in place when asked: what a receive killed
    // there leaves. A step hook that says stop ends the placing after so many files.
    void receiveUpTo(RecoveryFolder& r, const Tree& incoming, bool install) {
        r.Begin();
        r.Save(names(data()));
        std::vector<RecoveryFolder::Placement> plan;
        for (auto it = incoming.begin(); it != incoming.end(); ++it) {
            const QString staged = d() + "/ZEL-RECOVERY/new/" + it.key();
            WriteFile(staged, it.value());
            // Whole seconds, as an archive's times are.
            QFile f(staged);
            if (!f.open(QIODevice::ReadWrite) || !f.setFileTime(ArchiveTime, QFileDevice::FileModificationTime))
                QTest::qFail("cannot set the time", __FILE__, __LINE__);
            plan.push_back({it.key().toStdString(), it.key().toStdString(), Crc(it.value())});
        }
        if (install)
            r.Install(plan);
    }
    Journal readJournal() const { return Journal::Parse(ReadFile(journalPath()).toStdString()).value_or(Journal{}); }
    void writeJournal(const Journal& j) { WriteFile(journalPath(), QByteArray::fromStdString(j.Serialize())); }

private Q_SLOTS:
    void init() {
        QDir(d()).removeRecursively();
        QVERIFY(QDir().mkpath(d() + "/sub"));
        WriteFile(d() + "/a.dat", "old a");
        if (NamesKeepCase(d())) // two files on this system, both part of the data set
            WriteFile(d() + "/A.DAT", "old A, a different file on this system");
        WriteFile(d() + "/b.dat", "old b");
    }

    void recoveryAfterEachState_data() {
        QTest::addColumn<QString>("state"); // where the receive was killed
        for (const char* state : {"clearing", "installing", "committed"})
            QTest::newRow(state) << state;
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
        QVERIFY(outcome.kept.empty() && outcome.stuck.empty() && !outcome.damaged);
        QVERIFY(!QDir(d() + "/ZEL-RECOVERY").exists());

        // A second recovery finds nothing to do.
        QCOMPARE(RecoveryFolder(Windows(d())).Recover().rolledBack, false);
    }

    void aSavedFileWhosePlaceIsTakenIsKeptAside_data() {
        QTest::addColumn<QString>("later");
        QTest::newRow("the same name") << "b.dat";
        QTest::newRow("another case: the products' file system ignores it") << "B.Dat";
    }
    void aSavedFileWhosePlaceIsTakenIsKeptAside() {
        QFETCH(QString, later);
        const Tree before = data();
        {
            RecoveryFolder r(Windows(d()));
            receiveUpTo(r, {}, false);
        }
        WriteFile(d() + "/" + later, "the customer's b, written after the crash");
        RecoveryFolder r(Windows(d()));
        const RecoveryFolder::Outcome outcome = r.Recover();
        QCOMPARE(outcome.kept, std::vector<std::string>{"b.dat"});
        Tree expected = before;
        expected.remove("b.dat");
        expected.insert(later, "the customer's b, written after the crash");
        QCOMPARE(data(), expected);
        QCOMPARE(ReadFile(QString::fromStdString(files::NativePath(outcome.keptFolder)) + "/b.dat"),
                 QByteArray("old b"));
        QVERIFY(!r.Pending()); // the transaction is over; the kept copy waits for the customer
        QCOMPARE(r.KeptFolders(), std::vector<std::string>{outcome.keptFolder});
    }

    void aReadOnlyFileStopsTheClearingBeforeAnythingMoves() {
        RecoveryFolder r(Windows(d()));
        r.Begin();
        QVERIFY(MakeReadOnly(d() + "/b.dat"));
        const Tree before = data();
        QVERIFY(Raised([&] { r.Save(names(before)); }).startsWith("75 "));
        QCOMPARE(data(), before);
        QCOMPARE(r.Recover().restored, 0);
        QCOMPARE(data(), before);
        QFile(d() + "/b.dat").setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    void installSavesWhatStandsInAPlaceAndRefusesFolders() {
        RecoveryFolder r(Windows(d()));
        for (const auto& [standing, incoming] : {std::pair<QString, QString>{"b.dat", "B.DAT"}, {"C.DAT", "c.dat"}}) {
            WriteFile(d() + "/" + standing, "old");
            const Tree before = data();
            r.Begin(); // nothing cleared: the target is still there, in another case
            WriteFile(d() + "/ZEL-RECOVERY/new/" + incoming, "new");
            r.Install({{incoming.toStdString(), incoming.toStdString(), std::nullopt}});
            QCOMPARE(data().value(incoming), QByteArray("new"));
            QVERIFY2(!data().contains(standing), qPrintable(standing));
            QCOMPARE(r.Recover().restored, 1);
            QCOMPARE(data(), before);
        }
        const Tree before = data();
        r.Begin();
        WriteFile(d() + "/ZEL-RECOVERY/new/SUB", "a file named like a folder");
        QVERIFY(Raised([&] { r.Install({{"SUB", "SUB", std::nullopt}}); }).contains("is a folder"));
        r.Recover();
        QCOMPARE(data(), before);
    }

    void aJournalThatCannotBeReadTouchesNothing_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("committed");
        for (const char* damage : {"empty", "cut short", "unknown version", "bad checksum"})
            for (bool committed : {false, true})
                QTest::addRow("%s, %s", damage, committed ? "after the commit" : "before the commit")
                    << damage << committed;
    }
    void aJournalThatCannotBeReadTouchesNothing() {
        QFETCH(QString, damage);
        QFETCH(bool, committed);
        {
            RecoveryFolder r(Windows(d()));
            receiveUpTo(r, {{"a.dat", "new a"}, {"n.dat", "new n"}}, true);
            if (committed)
                r.Commit();
        }
        QByteArray text = ReadFile(journalPath());
        if (damage == "empty")
            text.clear();
        else if (damage == "cut short")
            text.chop(text.size() / 3);
        else if (damage == "unknown version") // whole, with its checksum right
            text = Resum(text.replace("zel-receive-journal 2", "zel-receive-journal 3"));
        else // a line that reads well on its own
            text.replace("b.dat", "c.dat");
        WriteFile(journalPath(), text);
        const Tree before = Snapshot(d());

        RecoveryFolder r(Windows(d()));
        const RecoveryFolder::Outcome outcome = r.Recover();
        QVERIFY(outcome.damaged);
        QVERIFY(!outcome.rolledBack && !outcome.tidied && outcome.restored == 0);
        QCOMPARE(Snapshot(d()), before);
        QVERIFY(r.Pending());
        QVERIFY(Raised([&] { r.Begin(); }).contains("has not been put back"));
    }

    void aRenumberedFileIsStillRecognised_data() {
        QTest::addColumn<int>("placedBeforeTheKill");
        QTest::addColumn<bool>("customerCopy"); // of equal size and time, other content, under other numbers
        QTest::newRow("every file placed") << 4 << false;
        QTest::newRow("one file placed") << 1 << false;
        QTest::newRow("a customer's file of the same size and time is not ours") << 4 << true;
    }
    void aRenumberedFileIsStillRecognised() {
        QFETCH(int, placedBeforeTheKill);
        QFETCH(bool, customerCopy);
        const Tree before = data();
        const Tree incoming{{"a.dat", "new a"}, {"m.dat", "new m"}, {"n.dat", "new n"}, {"o.dat", "new o"}};
        {
            int placed = 0;
            RecoveryFolder r(Windows(d()), [&](std::uint64_t done, std::uint64_t total) {
                // Stops the placing as a kill would, after so many files; the clearing (of three) runs through.
                return total != 4 || (placed = int(done)) < placedBeforeTheKill;
            });
            try {
                receiveUpTo(r, incoming, true);
            } catch (const zel::Error&) {
            }
            QCOMPARE(placed, placedBeforeTheKill);
        }
        // After a reboot the volume has another device number (and a file system may number files anew).
        Journal j = readJournal();
        QCOMPARE(int(j.placed.size()), 4);
        for (Journal::Placed& p : j.placed) {
            p.id.device += 17;
            p.id.inode += 1;
        }
        writeJournal(j);
        if (customerCopy) {
            // Same size and time as ours, another content: the customer's, left in place.
            const QString path = d() + "/n.dat";
            QVERIFY(QFile::remove(path));
            WriteFile(path, "own n");
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(ArchiveTime, QFileDevice::FileModificationTime));
        }

        const RecoveryFolder::Outcome outcome = RecoveryFolder(Windows(d())).Recover();
        Tree expected = before;
        if (customerCopy)
            expected.insert("n.dat", "own n");
        QCOMPARE(data(), expected);
        QVERIFY(outcome.kept.empty());
    }

    void aFolderThatRefusesThePutBack() {
        // The databases' places are free; data_qmx refuses every file: all else goes back, the rest is named and
        // tried again, and only that, by the next recovery.
        WriteTree(d(), {{"ledgra2.mdb", "old ledgra"}, {"data_qmx/x.qmx", "old x"}, {"data_qmx/y.qmx", "old y"}});
        const Tree before = data();
        {
            RecoveryFolder r(Windows(d()));
            receiveUpTo(r, {}, false);
        }
        std::vector<RecoveryFolder::Problem> stuck;
        {
            Frozen frozen(d() + "/data_qmx");
            if (!frozen.ok())
                QSKIP("this system cannot make a folder refuse its owner's changes");
            RecoveryFolder r(Windows(d()));
            const RecoveryFolder::Outcome outcome = r.Recover();
            stuck = outcome.stuck;
            QCOMPARE(outcome.restored, int(before.size()) - 2);
            Tree partly = before;
            partly.remove("data_qmx/x.qmx");
            partly.remove("data_qmx/y.qmx");
            QCOMPARE(data(), partly);
            QVERIFY(r.Pending());
            QCOMPARE(readJournal().saved.size(), size_t(2)); // only these are tried again
        }
        QCOMPARE(stuck.size(), size_t(2));
        QCOMPARE(stuck[0].place, std::string("data_qmx\\x.qmx"));
        QVERIFY(!stuck[0].reason.empty());
        QCOMPARE(ReadFile(QString::fromStdString(files::NativePath(stuck[0].copy))), QByteArray("old x"));

        const RecoveryFolder::Outcome later = RecoveryFolder(Windows(d())).Recover();
        QCOMPARE(later.restored, 2);
        QCOMPARE(data(), before);
        QVERIFY(!QDir(d() + "/ZEL-RECOVERY").exists());
    }

    void aTidyThatFailsAfterTheCommit() {
        const Tree incoming{{"n.dat", "new n"}};
        std::vector<RecoveryFolder::Problem> left;
        {
            RecoveryFolder r(Windows(d()));
            receiveUpTo(r, incoming, true);
            r.Commit();
            Frozen frozen(d() + "/ZEL-RECOVERY/saved/b.dat"); // in use, say
            if (!frozen.ok())
                QSKIP("this system cannot make a file refuse its owner's changes");
            left = r.Discard();
            QCOMPARE(data(), incoming);
            // A new receive neither refuses nor loses track of it, and its own copy goes elsewhere.
            WriteFile(d() + "/b.dat", "new b");
            r.Begin();
            r.Save({"b.dat"});
            QCOMPARE(readJournal().leftovers, std::vector<std::string>{"saved\\b.dat"});
            QCOMPARE(readJournal().saved[0].copy, std::string("saved-2\\b.dat"));
            r.Recover();
            QCOMPARE(data(), (Tree{{"b.dat", "new b"}, {"n.dat", "new n"}}));
        }
        QCOMPARE(left.size(), size_t(1));
        QCOMPARE(left[0].place, std::string("b.dat"));
        // Tried again, quietly, once the copy can go.
        const RecoveryFolder::Outcome outcome = RecoveryFolder(Windows(d())).Recover();
        QVERIFY(outcome.tidied && outcome.untidied.empty());
        QVERIFY(!QDir(d() + "/ZEL-RECOVERY").exists());
    }

    void manyFilesCountEachOnceItIsGone_data() {
        QTest::addColumn<bool>("committed"); // the old copies removed after the commit, or the new by a rollback
        QTest::newRow("committed") << true;
        QTest::newRow("rolled back") << false;
    }
    void manyFilesCountEachOnceItIsGone() {
        // Enough files to be removed in batches: each step counts a file that is gone already, each once and in turn.
        QFETCH(bool, committed);
        const int count = 300; // past the largest batch
        Tree incoming;
        for (int i = 0; i < count; ++i) {
            const QString n = QString::number(i).rightJustified(3, '0');
            WriteFile(d() + "/old" + n + ".dat", "old " + n.toUtf8());
            incoming.insert("new" + n + ".dat", "new " + n.toUtf8());
        }
        const Tree before = data();
        // What the steps being watched remove: the saved copies (two names that differ only in case go to two
        // folders), or the new files in the data folder.
        const QString folder = committed ? d() + "/ZEL-RECOVERY" : d();
        const QStringList watched{committed ? "*.dat" : "new*.dat"};
        const std::uint64_t watchedCount = committed ? before.size() : count;
        const auto left = [&] {
            std::uint64_t n = 0;
            const auto sub = committed ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags;
            for (QDirIterator it(folder, watched, QDir::Files, sub); it.hasNext(); it.next())
                ++n;
            return n;
        };
        bool watching = false;
        std::uint64_t last = 0;
        QStringList wrong;
        const auto hook = [&](std::uint64_t done, std::uint64_t) {
            if (!watching || done == last)
                return true;
            if (done != last + 1)
                wrong << QString("step %1 after %2").arg(done).arg(last);
            last = done;
            if (const std::uint64_t n = left(); done <= watchedCount && n > watchedCount - done)
                wrong << QString("step %1 counted with %2 files left").arg(done).arg(n);
            return true;
        };
        {
            RecoveryFolder r(Windows(d()), hook);
            receiveUpTo(r, incoming, true);
            watching = true;
            if (committed) {
                r.Commit();
                QVERIFY(r.Discard().empty());
            }
        }
        if (!committed)
            QCOMPARE(RecoveryFolder(Windows(d()), hook).Recover().restored, int(before.size()));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 5).join("; ")));
        QCOMPARE(last, std::uint64_t(committed ? before.size() : count + before.size()));
        QCOMPARE(data(), committed ? incoming : before);
        QVERIFY(!QDir(d() + "/ZEL-RECOVERY").exists());
    }

    void theJournalKeepsAnyName() {
        Journal j;
        j.state = Journal::State::Installing;
        const std::string odd = std::string("tab\there\nnew line %41 \x01") + "\xc3\xa9.dat";
        j.saved = {{odd, "saved\\" + odd}};
        j.placed = {{odd, {1, 2, 3, -4}, 0xdeadbeef}, {"x", {5, 6, 7, 8}, std::nullopt}};
        j.leftovers = {"saved-2\\" + odd};
        const std::string text = j.Serialize();
        QVERIFY(Journal::Parse(text) == j);
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), 7);
    }
};

QTEST_MAIN(tst_recovery)
#include "tst_recovery.moc"
