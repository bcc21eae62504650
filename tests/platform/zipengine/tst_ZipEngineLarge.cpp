#include "support/ArchiveTools.h"
#include "support/TestFiles.h"

#include <QtTest>

using namespace testsupport;
using namespace ziptest;

// Zip64: over 4 GiB of sparse zeros with a marker at each end, quick to make and to deflate.
class tst_ZipEngineLarge : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTripOverFourGiB() {
        QTemporaryDir tmp;
        const qint64 size = (4LL << 30) + (300LL << 20);
        QFile big(tmp.filePath("src/big.bin"));
        WriteFile(tmp.filePath("src/after.txt"), "entry after the big one");
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write("HEAD") == 4 && big.resize(size - 4));
        QVERIFY(big.seek(size - 4) && big.write("TAIL") == 4);
        big.close();
        std::uint64_t lastTotal = 0;
        zipengine::SetProgressHook([&](std::uint64_t, std::uint64_t total) {
            lastTotal = total;
            return true;
        });
        QCOMPARE(Zip(tmp.filePath("big.zip"), {"querty", tmp.filePath("src/*.*")}), 0);
        QCOMPARE(lastTotal, std::uint64_t(size + 23));
        big.remove();
        QVERIFY(QFileInfo(tmp.filePath("big.zip")).size() < (64 << 20));
        QCOMPARE(Exec("unzip", {"-t", tmp.filePath("big.zip")}).first, 0);

        QCOMPARE(Unzip(tmp.filePath("big.zip"), tmp.filePath("out"), false), 0);
        QFile f(tmp.filePath("out/big.bin"));
        QCOMPARE(f.size(), size);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(4), QByteArray("HEAD"));
        QVERIFY(f.seek(size - 4));
        QCOMPARE(f.read(4), QByteArray("TAIL"));
        QCOMPARE(ReadFile(tmp.filePath("out/after.txt")), QByteArray("entry after the big one"));
    }
};

QTEST_GUILESS_MAIN(tst_ZipEngineLarge)
#include "tst_ZipEngineLarge.moc"
