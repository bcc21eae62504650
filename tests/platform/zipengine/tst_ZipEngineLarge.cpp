#include "platform/zipengine/ArchiveTools.h"
#include "platform/zipengine/ZipEngine.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;
using namespace zipengine;

// An archive over 4 GiB of content (Zip64) built and extracted again; the data is sparse zeros with a
// marker at each end, so it is quick to make and to deflate.
class tst_ZipEngineLarge : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTripOverFourGiB() {
        QTemporaryDir tmp;
        const qint64 size = (4LL << 30) + (300LL << 20);
        const QString big = tmp.filePath("src/big.bin");
        WriteFile(tmp.filePath("src/after.txt"), "entry after the big one");
        {
            QFile f(big);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write("HEAD") == 4);
            QVERIFY(f.resize(size - 4));
            QVERIFY(f.seek(size - 4));
            QVERIFY(f.write("TAIL") == 4);
        }
        std::uint64_t lastTotal = 0;
        SetProgressHook([&](std::uint64_t, std::uint64_t total) {
            lastTotal = total;
            return true;
        });
        ZIPUSERFUNCTIONS uf;
        ZpInit(&uf);
        ZPOPT options;
        options.szRootDir = "/";
        ZpSetOptions(&options);
        const std::string archive = S(tmp.filePath("big.zip"));
        const std::string pattern = S(tmp.filePath("src/*.*"));
        const char* names[] = {"querty", pattern.c_str()};
        QCOMPARE(ZpArchive(ZCL{2, archive.c_str(), names}), 0);
        QCOMPARE(lastTotal, std::uint64_t(size + 23));
        QFile::remove(big);
        QVERIFY(QFileInfo(tmp.filePath("big.zip")).size() < (64 << 20));
        QCOMPARE(Exec("unzip", {"-t", tmp.filePath("big.zip")}).code, 0);

        USERFUNCTIONS uuf;
        DCL dcl;
        dcl.noflag = 1;
        dcl.ndflag = 0;
        dcl.lpszZipFN = archive.c_str();
        const std::string out = S(tmp.filePath("out"));
        dcl.lpszExtractDir = out.c_str();
        QCOMPARE(Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &dcl, &uuf), 0);
        QFile f(tmp.filePath("out/big.bin"));
        QCOMPARE(f.size(), size);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(4), QByteArray("HEAD"));
        QVERIFY(f.seek(size - 4));
        QCOMPARE(f.read(4), QByteArray("TAIL"));
        f.close();
        QCOMPARE(ReadFile(tmp.filePath("out/after.txt")), QByteArray("entry after the big one"));
        QFile::remove(tmp.filePath("out/big.bin"));
    }
};

QTEST_GUILESS_MAIN(tst_ZipEngineLarge)
#include "tst_ZipEngineLarge.moc"
