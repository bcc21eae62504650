#include "platform/zipengine/ArchiveTools.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;
using namespace zipengine;

class tst_ZipEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        printed.clear();
        SetProgressHook({});
    }

    void builderWritesWhatInfoZipReads() {
        QTemporaryDir tmp;
        const QString data = tmp.filePath("data"), archive = data + "/ZEL.ZIP", p = data.mid(1) + "/";
        const Files files{{"a.mdb", QByteArray(100000, 'a')}, {"B.MDB", "bee"}, {"sub/c.txt", "sea"}};
        WriteAll(data, files);
        WriteFile(archive, "not a zip: the leftover of a failed send");
        // The seed entry, then a Windows pattern that matches the archive itself; folders are not entered.
        QCOMPARE(Zip(archive, {"querty", QString(data + "/*.*").replace('/', '\\')}), 0);
        QVERIFY(Printed("name not matched: querty"));
        QCOMPARE(Exec("unzip", {"-t", archive}).first, 0);
        QVERIFY(Exec("unzip", {"-v", archive}).second.contains("Defl:N"));
        QCOMPARE(Exec("unzip", {"-q", archive, "-d", tmp.filePath("check")}).first, 0);
        QCOMPARE(Snapshot(tmp.filePath("check")), (Files{{p + "a.mdb", files["a.mdb"]}, {p + "B.MDB", "bee"}}));
        // A valid leftover is replaced, not merged, even when updating is asked for; patterns ignore case.
        ZPOPT update;
        update.fUpdate = 1;
        QCOMPARE(Zip(archive, {data + "/sub/C.*"}, update), 0);
        QCOMPARE(Listing(archive), QStringList{p + "sub/c.txt"});
        QCOMPARE(Zip(tmp.filePath("none.zip"), {"querty", data + "/*.TXT", tmp.filePath("none/*.*")}), 12);
        QVERIFY(Printed("Nothing to do"));
        QVERIFY(!QFileInfo::exists(tmp.filePath("none.zip")));
        QCOMPARE(Snapshot(data).keys(), (QStringList{"B.MDB", "ZEL.ZIP", "a.mdb", "sub/c.txt"})); // no temporary file
    }

    void progressAndCancel() {
        QTemporaryDir tmp;
        const QByteArray big(24 << 20, 'b');
        WriteAll(tmp.filePath("d"), {{"big.bin", big}, {"small.bin", "s"}});
        std::uint64_t lastTotal = 0;
        SetProgressHook([&](std::uint64_t, std::uint64_t total) {
            lastTotal = total;
            return true;
        });
        QCOMPARE(Zip(tmp.filePath("a.zip"), {tmp.filePath("d/*")}), 0);
        QCOMPARE(lastTotal, std::uint64_t(big.size() + 1)); // the total counts every byte to pack

        SetProgressHook([](std::uint64_t done, std::uint64_t) { return done < 1024 * 1024; });
        QVERIFY(Zip(tmp.filePath("b.zip"), {tmp.filePath("d/*")}) != 0);
        QVERIFY(Printed("cancelled"));
        QCOMPARE(Snapshot(tmp.path()).keys(), (QStringList{"a.zip", "d/big.bin", "d/small.bin"}));
        printed.clear();
        QVERIFY(Unzip(tmp.filePath("a.zip"), tmp.filePath("x")) != 0);
        QVERIFY(Printed("cancelled"));
        for (const QString& f : Snapshot(tmp.filePath("x")).keys()) // no partial or temporary file
            QVERIFY2(f.endsWith("/small.bin"), qPrintable(f));
    }

    void extractsInfoZipArchivesWithAndWithoutFolders() {
        QTemporaryDir tmp;
        const Files files{
            {"top.txt", "top"}, {"data_qmx/ledgra2.mdb", QByteArray(70000, 'L')}, {"data_qmx/deep/x.dat", "deep"}};
        WriteAll(tmp.filePath("src"), files);
        QCOMPARE(Exec("zip", {"-r", "-q", tmp.filePath("f.zip"), "."}, tmp.filePath("src")).first, 0);
        QCOMPARE(Unzip(tmp.filePath("f.zip"), tmp.filePath("x")), 0);
        QCOMPARE(Snapshot(tmp.filePath("x")), files);
        QCOMPARE(Unzip(tmp.filePath("f.zip"), tmp.filePath("flat"), false), 0);
        QCOMPARE(Snapshot(tmp.filePath("flat")),
                 (Files{{"top.txt", "top"}, {"ledgra2.mdb", files["data_qmx/ledgra2.mdb"]}, {"x.dat", "deep"}}));
    }

    void hostileArchivesStayInsideTheFolder() {
        QTemporaryDir tmp;
        const QString zip = tmp.filePath("in/evil.zip");
        QVERIFY(MakeZip(zip, {{"../up.txt", "1"},
                              {"/abs.txt", "2"},
                              {"C:\\drive.txt", "3"},
                              {"a\\..\\..\\back.txt", "4"},
                              {"ok/../../../y.txt", "5"},
                              {"link", "/etc/passwd", true},
                              {"..", ""},
                              {"bad\r\nname.txt", "6"},
                              {"tab\tname.txt", "7"}}));
        for (const QString& dir : {tmp.filePath("in/x"), tmp.filePath("in/flat")}) {
            QVERIFY(Unzip(zip, dir, dir.endsWith("x")) != 0);
            for (const QString& f : Snapshot(tmp.path()).keys())
                QVERIFY2(f.startsWith("in/x/") || f.startsWith("in/flat/") || f == "in/evil.zip", qPrintable(f));
            QVERIFY(!QFileInfo(dir + "/link").exists() && !QFileInfo(dir + "/link").isSymLink());
        }
        QCOMPARE(Snapshot(tmp.filePath("in/flat")).keys(),
                 (QStringList{"abs.txt", "back.txt", "drive.txt", "up.txt", "y.txt"}));
        QCOMPARE(ReadFile(tmp.filePath("in/x/a/back.txt")), QByteArray("4"));
        QVERIFY(Printed("symbolic link"));
        QVERIFY(Printed("bad\\r\\nname.txt has a control character in its name"));
    }

    void entriesNeverOverwriteTheArchiveOrEachOther() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("tova"), archive = dir + "/FIXED.ZIP";
        const QList<Entry> entries{
            {"d.txt", "first"}, {"D.TXT", "second"}, {"sub/d.txt", "third"}, {"FIXED.ZIP", "junk"}, {"e.txt", "e"}};
        QVERIFY(MakeZip(archive, entries));
        const QByteArray before = ReadFile(archive);
        QVERIFY(Unzip(archive, dir, false) != 0);
        QCOMPARE(Snapshot(dir), (Files{{"FIXED.ZIP", before}, {"d.txt", "first"}, {"e.txt", "e"}}));
        QVERIFY(Printed("would overwrite"));

        // Two entries of exactly the same name: refused as a whole, naming the entry.
        QVERIFY(MakeZip(tmp.filePath("twice.zip"), {{"same.txt", "1"}, {"same.txt", "2"}}));
        printed.clear();
        QVERIFY(Unzip(tmp.filePath("twice.zip"), tmp.filePath("x")) != 0);
        QVERIFY2(Printed("more than one entry named same.txt"), printed.c_str());
        QCOMPARE(Snapshot(tmp.filePath("x")), Files());
    }

    void corruptArchivesFailWithoutPartialFiles() {
        QTemporaryDir tmp;
        QByteArray text;
        for (int i = 0; i < 20000; ++i)
            text += QByteArray::number(i * 7919) + ' ';
        WriteFile(tmp.filePath("t.txt"), text);
        QCOMPARE(Exec("zip", {"-q", "-j", tmp.filePath("c.zip"), tmp.filePath("t.txt")}).first, 0);
        QByteArray bytes = ReadFile(tmp.filePath("c.zip"));
        for (int i = 200; i < 260; ++i) // inside the compressed data of the only entry
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        WriteAll(tmp.path(), {{"c.zip", bytes}, {"g.zip", "garbage, not an archive"}});
        for (const char* zip : {"c.zip", "g.zip", "missing.zip"})
            QVERIFY2(Unzip(tmp.filePath(zip), tmp.filePath("x")) != 0, zip);
        QVERIFY(Printed("damaged"));
        QCOMPARE(Snapshot(tmp.filePath("x")), Files());
    }
};

QTEST_GUILESS_MAIN(tst_ZipEngine)
#include "tst_ZipEngine.moc"
