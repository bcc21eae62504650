#include "platform/files/Files.h"
#include "support/TestFiles.h"

#include <QtTest>

using namespace testsupport;

const QString k53 = "53 Kill: File not found", k75 = "75 Kill: Path/File access error";

class tst_files : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dirMatchesWithoutCase_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("*.* takes names without a dot")
            << "*.*" << QStringList{"Alpha.TXT", "beta.txt", "gamma", "x1.dat", "x22.dat", "\xC3\xA9.txt"};
        QTest::newRow("extension in other case") << "*.TxT" << QStringList{"Alpha.TXT", "beta.txt", "\xC3\xA9.txt"};
        QTest::newRow("? is one character") << "X?.DAT" << QStringList{"x1.dat"};
        QTest::newRow("? is one UTF-8 character") << "?.txt" << QStringList{"\xC3\xA9.txt"};
        QTest::newRow("name.* takes the bare name") << "gamma.*" << QStringList{"gamma"};
        QTest::newRow("*. takes names without a dot") << "*." << QStringList{"gamma"};
        QTest::newRow("trailing separator names no file") << "" << QStringList{};
    }
    void dirMatchesWithoutCase() {
        QFETCH(QString, pattern);
        QFETCH(QStringList, expected);
        QTemporaryDir tmp;
        for (const char* name : {"Alpha.TXT", "beta.txt", "gamma", "x1.dat", "x22.dat", "\xC3\xA9.txt"})
            WriteFile(tmp.filePath(QString::fromUtf8(name)), "x");
        // Sub-folders never match, even when their names do.
        QVERIFY(QDir(tmp.path()).mkdir("sub.txt") && QDir(tmp.path()).mkdir("x3.dat"));

        QStringList names;
        for (const std::string& n : files::Dir(Win(tmp.path()) + "\\" + pattern.toStdString()))
            names << QString::fromStdString(n);
        QCOMPARE(names, expected);
        QVERIFY(files::Dir(Win(tmp.filePath("missing")) + "\\*.*").empty());
    }
    void listingsTellFilesFoldersAndLinksApart() {
        // Dir takes a link for what it leads to (a file counts, a folder or nothing does not); List names plain
        // files and folders only, never a link.
        QTemporaryDir tmp;
        const std::string folder = Win(tmp.path()) + "\\";
        WriteFile(tmp.filePath("a.dat"), "a");
        QVERIFY(QDir(tmp.path()).mkdir("sub.dat"));
#ifdef _WIN32
        const bool links = false; // Qt makes shortcut files there, plain files to the file system
#else
        const bool links = QFile::link(tmp.filePath("a.dat"), tmp.filePath("to-a.dat")) &&
                           QFile::link(tmp.filePath("sub.dat"), tmp.filePath("to-sub.dat")) &&
                           QFile::link(tmp.filePath("gone"), tmp.filePath("broken.dat"));
        QVERIFY(links);
#endif
        QStringList dir;
        for (const std::string& n : files::Dir(folder + "*.dat"))
            dir << QString::fromStdString(n);
        QCOMPARE(dir, links ? (QStringList{"a.dat", "to-a.dat"}) : (QStringList{"a.dat"}));
        const files::Listing listing = files::List(folder);
        QCOMPARE(listing.files, std::vector<std::string>{"a.dat"});
        QCOMPARE(listing.folders, std::vector<std::string>{"sub.dat"});

        // The exact name only: another case of it is another name.
        QVERIFY(MakeReadOnly(tmp.filePath("a.dat")));
        QVERIFY(files::ReadOnlyExact(folder + "a.dat") && files::ReadOnly(folder + "A.DAT"));
        QVERIFY(!files::ReadOnlyExact(folder + "to-a.dat"));
        // Where the file system ignores case (Windows), the two names are one file.
        QCOMPARE(files::ReadOnlyExact(folder + "A.DAT"), !NamesKeepCase(tmp.path()));
    }
    void killAndTheFileQueries() {
        QTemporaryDir tmp;
        const std::string folder = Win(tmp.path()) + "\\";
        for (const char* name : {"ledgra2.mdb", "LEDGRA2.MDB", "Inner.MDB", "sub.mdb/x"})
            WriteFile(tmp.filePath(name), name);
        // An exact name spares its case-folded siblings; else the name matches without case, and one name deletes
        // one file even when several differ from it only in case. Where the file system ignores case (Windows)
        // the two names are one file.
        files::Kill(folder + "ledgra2.mdb");
        if (Entries(tmp.path()).size() == 3) {
            QCOMPARE(Entries(tmp.path()), (QStringList{"Inner.MDB", "LEDGRA2.MDB", "sub.mdb"}));
            files::Kill(folder + "Ledgra2.Mdb");
        }
        files::Kill(folder + "INNER.mdb");
        QCOMPARE(Entries(tmp.path()), QStringList{"sub.mdb"});
        for (const char* nothing : {"ledgra2.mdb", "sub.mdb", "missing\\a.mdb"})
            QCOMPARE(Raised([&] { files::Kill(folder + nothing); }), k53);
        // A file that cannot be deleted stays, and says so.
        WriteFile(tmp.filePath("b.dat"), "b");
        QVERIFY(MakeReadOnly(tmp.filePath("b.dat")));
        QCOMPARE(Raised([&] { files::Kill(folder + "B.DAT"); }), k75);
        QCOMPARE(files::FileLen(folder + "b.dat"), std::uint64_t(1));
        QVERIFY(files::FolderExists(folder + "SUB.MDB") && !files::FileExists(folder + "sub.mdb") &&
                files::FileExists(folder + "B.DAT"));
        QCOMPARE(Raised([&] { files::FileLen(folder + "sub.mdb"); }), "53 FileLen: File not found");
    }
    void temporaryNamesFollowOneScheme() {
        // What a killed run left is recognised by its exact shape, and nothing else is taken for it.
        const std::string made = files::TemporaryName("ZEL.ZIP");
        QVERIFY(files::IsTemporaryOf(made, "ZEL.ZIP") && files::IsTemporaryName(made));
        QVERIFY(made != files::TemporaryName("ZEL.ZIP"));
        for (const char* other : {"ZEL.ZIP.zel~AB12CD", "ZEL.ZIP.zel~ab12cd.txt", "ZEL.ZIP.zel~ab12c",
                                  "ZEL.ZIP.zel~ab-2cd", "FIXED.ZIP.zel~ab12cd", "zel.zip.zel~ab12cd"})
            QVERIFY2(!files::IsTemporaryOf(other, "ZEL.ZIP"), other);
        // The one replace writes through such a name and leaves none behind.
        QTemporaryDir tmp;
        const std::string target = tmp.filePath("t.dat").toStdString();
        QCOMPARE(files::ReplaceFile(target, [](int fd) { return files::WriteAll(fd, "abc", 3); }), 0);
        QCOMPARE(Entries(tmp.path()), QStringList{"t.dat"});
        QCOMPARE(files::ReplaceFile(target, [](int) { return false; }), EIO);
        QCOMPARE(Entries(tmp.path()), QStringList{"t.dat"});
        QCOMPARE(ReadFile(tmp.filePath("t.dat")), QByteArray("abc"));
    }
};

QTEST_GUILESS_MAIN(tst_files)
#include "tst_files.moc"
