// A receive killed (SIGKILL) at every step of its transaction, and the recovery the program runs at the next
// start, itself killed at every step: afterwards the data folder holds exactly the old data set or exactly the
// new one, and what the customer did between the crash and the restart. And a second copy of the program on the
// same data folder while a receive runs: it touches nothing and says so.
#include "support/FtpServer.h"
#include "support/TestFiles.h"

#include <QtTest>

#include <map>

using namespace testsupport;
using Tree = QMap<QString, QByteArray>;

namespace {

struct Outcome {
    bool killed = false;
    int exitCode = -1;
    long events = 0;
    QString output;
};

Outcome Child(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(ZEL_CRASH_CHILD), args);
    p.waitForFinished(120000);
    Outcome o;
    o.output = QString::fromUtf8(p.readAllStandardOutput());
    o.killed = p.exitStatus() == QProcess::CrashExit;
    o.exitCode = o.killed ? -1 : p.exitCode();
    const qsizetype at = o.output.lastIndexOf("events ");
    if (at >= 0)
        o.events = o.output.mid(at + 7).trimmed().toLong();
    return o;
}

const QByteArray LaterWork = "work done after the crash";

} // namespace

class tst_crash : public QObject {
    Q_OBJECT

    QTemporaryDir m_Root;
    std::unique_ptr<FtpServer> m_Server;
    QString m_Product;
    Tree m_Old, m_New;

    QString data() const { return m_Root.path() + "/data"; }
    std::string folder() const { return Windows(data()); }

    void layOld() {
        QDir(data()).removeRecursively();
        QDir().mkpath(data() + "/data_qmx");
        WriteTree(data(), m_Old);
    }
    Outcome receive(const QString& killAt) {
        return Child({"receive", QString::fromStdString(folder()), m_Product, m_Server->hostPort(), killAt});
    }
    Outcome recover(long killAt) {
        return Child({"recover", QString::fromStdString(folder()), QString::number(killAt)});
    }
    // After the restart: the old or the new data set, whole, plus the customer's later file; nothing of ours.
    bool checkAfterRestart(const QString& where) {
        Tree now = Snapshot(data());
        if (now.take("NEWWORK.DAT") != LaterWork) {
            QTest::qFail(qPrintable(where + ": the customer's later work is gone"), __FILE__, __LINE__);
            return false;
        }
        if (now != m_Old && now != m_New) {
            QStringList names = now.keys();
            QTest::qFail(qPrintable(where + ": neither the old nor the new data set: " + names.join(", ")), __FILE__,
                         __LINE__);
            return false;
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase() {
        const QString home = m_Root.path() + "/srv/home/cust01";
        QDir().mkpath(home);
        m_Server = std::make_unique<FtpServer>(m_Root.path() + "/srv", QList<FtpUser>{{"cust01", "secret", home}});
        QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
    }

    void init() {
        QFETCH(QString, product);
        m_Product = product;
        const QString home = m_Root.path() + "/srv/home/cust01";
        Tree archive;
        if (product == "tova") {
            // Where names that differ only in case are two files, both must come back.
            m_Old = {{"a.dat", "old a"}, {"b.dat", "old b"}, {"sub/keep.dat", "not cleared"}};
            if (NamesKeepCase(m_Root.path()))
                m_Old.insert("A.DAT", "old A");
            archive = {{"a.dat", "new a"}, {"n1.dat", "new n1"}, {"n2.dat", Noise(700000)}};
            m_New = archive;
            m_New.insert("sub/keep.dat", "not cleared");
        } else {
            m_Old = {{"ledgra2.mdb", "old ledgra"},
                     {"norvane.mdb", "old norvane"},
                     {"keep.txt", "not part of the data set"},
                     {"data_qmx/x.qmx", "old x"},
                     {"data_qmx/y.qmx", "old y"}};
            archive = {{"ledgra2.mdb", "new ledgra"},
                       {"norvane.mdb", "new norvane"},
                       {"x.qmx", "new x"},
                       {"q.qmx", Noise(700000)}};
            m_New = {{"keep.txt", "not part of the data set"}};
            for (auto it = archive.cbegin(); it != archive.cend(); ++it)
                m_New.insert((it.key().endsWith(".qmx") ? "data_qmx/" : "") + it.key(), it.value());
        }
        QVERIFY(ZipFiles(home + "/FIXED.ZIP", archive));
        QVERIFY(m_Server->setFaults("clear"));
    }

    void killedAtEveryStep_data() {
        QTest::addColumn<QString>("product");
        QTest::newRow("TOVA") << "tova";
        QTest::newRow("Ledgra online edition") << "online";
    }
    void killedAtEveryStep() {
        layOld();
        const Outcome whole = receive("0");
        QVERIFY2(whole.exitCode == 0, qPrintable(whole.output));
        QCOMPARE(Snapshot(data()), m_New);
        QVERIFY(whole.events > 10);

        int oldSeen = 0, newSeen = 0;
        for (long k = 1; k <= whole.events; ++k) {
            layOld();
            const Outcome cut = receive(QString::number(k));
            QVERIFY2(cut.killed, qPrintable(QString("event %1: %2").arg(k).arg(cut.output)));
            WriteFile(data() + "/NEWWORK.DAT", LaterWork);
            const Outcome restart = recover(0);
            QVERIFY2(restart.exitCode == 0, qPrintable(restart.output));
            if (!checkAfterRestart(QString("killed at event %1").arg(k)))
                return;
            (Snapshot(data()).value(m_New.firstKey()) == m_New.first() ? newSeen : oldSeen)++;
        }
        // Both sides of the commit were reached.
        QVERIFY(oldSeen > 0 && newSeen > 0);
    }

    void killedInTheMiddleOfATransfer_data() {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("point");
        for (const char* product : {"tova", "online"})
            for (const char* point : {"download", "unpack"})
                QTest::addRow("%s, %s", product, point) << product << point;
    }
    void killedInTheMiddleOfATransfer() {
        QFETCH(QString, point);
        layOld();
        if (point == "download")
            QVERIFY(m_Server->setFaults("throttle 400000"));
        const Outcome cut = receive(point);
        QVERIFY2(cut.killed, qPrintable(cut.output));
        WriteFile(data() + "/NEWWORK.DAT", LaterWork);
        QCOMPARE(recover(0).exitCode, 0);
        QVERIFY(checkAfterRestart(point));
        Tree now = Snapshot(data());
        now.remove("NEWWORK.DAT");
        QCOMPARE(now, m_Old);
    }

    void aSecondCopyTouchesNothing_data() {
        QTest::addColumn<QString>("product");
        QTest::newRow("TOVA, many files") << "tova";
    }
    void aSecondCopyTouchesNothing() {
        // Many files, so that each step lasts: the first copy waits at a point of its journal's states while the
        // second starts up, sends and receives. Under Wine a file call costs many times what it does elsewhere (it
        // reads the whole folder to find a new name in any case): a few hundred files still give each step hundreds
        // of events.
        const int count = UnderWine() ? 400 : 2000;
        const QString home = m_Root.path() + "/srv/home/cust01";
        m_Old.clear();
        Tree archive;
        for (int i = 0; i < count; ++i) {
            m_Old.insert(QString("f%1.dat").arg(i, 4, 10, QChar('0')), Noise(1000 + i % 700, quint32(i)));
            archive.insert(QString("g%1.dat").arg(i, 4, 10, QChar('0')), Noise(900 + i % 500, quint32(i + 7)));
        }
        m_New = archive;
        QVERIFY(ZipFiles(home + "/FIXED.ZIP", archive));
        layOld();
        const Outcome whole = receive("0");
        QVERIFY2(whole.exitCode == 0, qPrintable(whole.output));
        QCOMPARE(Snapshot(data()), m_New);
        std::map<QString, long> stepAt;
        for (const QString& line : whole.output.split('\n'))
            if (line.startsWith("step "))
                stepAt.emplace(line.section(' ', 2, 2), line.section(' ', 1, 1).toLong());
        const std::vector<std::pair<QString, long>> points{
            {"while clearing", stepAt["Clearing"] + count / 2},
            {"before the download", stepAt["Receiving"]},
            {"while putting in place", stepAt["Putting"] + count / 2},
            {"while removing the old files", stepAt["Removing"] + count / 2}};
        for (const auto& [where, event] : points) {
            layOld();
            QProcess first;
            first.start(QStringLiteral(ZEL_CRASH_CHILD), {"receive", QString::fromStdString(folder()), m_Product,
                                                          m_Server->hostPort(), "pause", QString::number(event)});
            QVERIFY(first.waitForStarted());
            QByteArray seen;
            (void)QTest::qWaitFor( // the output says what happened
                [&] {
                    seen += first.readAllStandardOutput();
                    return seen.contains("paused") || first.state() != QProcess::Running;
                },
                120000);
            QVERIFY2(seen.contains("paused"), qPrintable(where + ": " + seen.right(2000)));
            const Tree during = Snapshot(data());
            const QString locked = "Another copy of ZEL FTP CLIENT is sending or receiving the files in " +
                                   QString::fromStdString(folder()) + ".";
            const Outcome startUp = recover(0);
            QVERIFY2(startUp.exitCode == 0 && startUp.output.contains("status " + locked),
                     qPrintable(where + ": " + startUp.output));
            for (const char* mode : {"send", "receive"}) {
                const Outcome other =
                    Child({mode, QString::fromStdString(folder()), m_Product, m_Server->hostPort(), "0"});
                QVERIFY2(other.exitCode == 1 && other.output.contains("box " + locked),
                         qPrintable(where + ", " + mode + ": " + other.output));
            }
            QVERIFY2(Snapshot(data()) == during, qPrintable(where + ": the second copy changed the data folder"));
            first.write("go\n");
            QVERIFY(first.waitForFinished(120000));
            QVERIFY2(first.exitCode() == 0, qPrintable(where));
            QVERIFY2(Snapshot(data()) == m_New, qPrintable(where + ": not the new data set"));
        }
    }

    void recoveryKilledAtEveryStep_data() {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("during");
        const auto row = [](const char* name, const char* product, const char* during) {
            QTest::newRow(name) << product << during;
        };
        row("TOVA, after the clearing", "tova", "Connecting");
        row("TOVA, while putting the new files in place", "tova", "Putting");
        row("TOVA, while removing the old files", "tova", "Removing");
        row("Ledgra, while putting the new files in place", "online", "Putting");
    }
    void recoveryKilledAtEveryStep() {
        QFETCH(QString, during);
        // Killed one event into the named step of a receive.
        layOld();
        long killAt = 0;
        for (const QString& line : receive("0").output.split('\n'))
            if (line.startsWith("step ") && line.section(' ', 2).startsWith(during) && killAt == 0)
                killAt = line.section(' ', 1, 1).toLong() + 1;
        QVERIFY2(killAt > 0, qPrintable(during));

        layOld();
        QVERIFY(receive(QString::number(killAt)).killed);
        const Outcome full = recover(0);
        QCOMPARE(full.exitCode, 0);
        for (long j = 1; j <= full.events; ++j) {
            layOld();
            QVERIFY(receive(QString::number(killAt)).killed);
            QVERIFY2(recover(j).killed, qPrintable(QString("recovery event %1").arg(j)));
            WriteFile(data() + "/NEWWORK.DAT", LaterWork);
            const Outcome restart = recover(0);
            QVERIFY2(restart.exitCode == 0, qPrintable(restart.output));
            if (!checkAfterRestart(QString("recovery killed at event %1").arg(j)))
                return;
        }
    }
};

QTEST_GUILESS_MAIN(tst_crash)
#include "tst_crash.moc"
