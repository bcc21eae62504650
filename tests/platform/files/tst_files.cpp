#include "platform/error/Error.h"
#include "platform/files/Files.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace testsupport;

namespace {

const QString k53 = "53 File not found", k58 = "58 File already exists", k75 = "75 Path/File access error",
              k76 = "76 Path not found";

// "number text" of the error a call raises; empty when it raises nothing.
QString ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const zel::Error& e) {
        return QString::number(e.Number()) + " " + QString::fromStdString(e.Description());
    }
    return {};
}

// Copies in a folder holding src.mdb (256 KiB), dst.mdb, LONG.MDB (longer than src.mdb) and a folder "sub"; code 0
// is success. setup: 'r' dst.mdb read-only, 'f' the disk full.
const struct {
    const char *tag, *from, *to;
    bool failIfExists;
    char setup;
    winapi::DWORD code;
} kCopies[] = {
    // A longer target must lose all of its old contents; one in other case is replaced, not joined by a sibling.
    {"replaces a longer file in other case", "src.mdb", "long.mdb", false, 0, 0},
    {"creates a fresh file", "src.mdb", "sub/fresh.mdb", true, 0, 0},
    {"no source name", nullptr, "dst.mdb", false, 0, winapi::ERROR_INVALID_PARAMETER},
    {"missing source", "gone.mdb", "dst.mdb", false, 0, winapi::ERROR_FILE_NOT_FOUND},
    {"source folder missing", "no/a.mdb", "dst.mdb", false, 0, winapi::ERROR_PATH_NOT_FOUND},
    {"existing target refused", "src.mdb", "dst.mdb", true, 0, winapi::ERROR_FILE_EXISTS},
    {"target folder missing", "src.mdb", "no/b.mdb", false, 0, winapi::ERROR_PATH_NOT_FOUND},
    {"folder as target", "src.mdb", "sub", false, 0, winapi::ERROR_ACCESS_DENIED},
    {"read-only target", "src.mdb", "dst.mdb", false, 'r', winapi::ERROR_ACCESS_DENIED},
    {"disk full", "src.mdb", "dst.mdb", false, 'f', winapi::ERROR_DISK_FULL},
};

} // namespace

class tst_files : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dirMatchesWithoutCase_data();
    void dirMatchesWithoutCase();
    void kill();
    void copy_data();
    void copy();
    void nameAndFolders();
};

void tst_files::dirMatchesWithoutCase_data() {
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

void tst_files::dirMatchesWithoutCase() {
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

void tst_files::kill() {
    QTemporaryDir tmp;
    const std::string folder = Win(tmp.path()) + "\\";
    for (const char* name : {"a.mdb", "B.MDB", "keep.txt", "noext", "sub.mdb/inner.mdb"})
        WriteFile(tmp.filePath(name), "x");
    files::Kill(folder + "*.mdb");
    QCOMPARE(Entries(tmp.path()), (QStringList{"keep.txt", "noext", "sub.mdb"}));
    files::Kill(folder + "*.*");
    QCOMPARE(Entries(tmp.path()), QStringList{"sub.mdb"});
    QCOMPARE(Entries(tmp.filePath("sub.mdb")), QStringList{"inner.mdb"});
    for (const char* nothing : {"sub.mdb\\*.txt", "ledgra2.mdb", "missing\\*.*", "sub.mdb"})
        QCOMPARE(ErrorOf([&] { files::Kill(folder + nothing); }), k53);

    // An exact name spares its case-folded siblings; else the name matches without case, and one name deletes
    // one file even when several differ from it only in case.
    for (const char* name : {"ledgra2.mdb", "LEDGRA2.MDB", "Inner.MDB"})
        WriteFile(tmp.filePath(QString("sub.mdb/") + name), name);
    files::Kill(folder + "sub.mdb\\ledgra2.mdb");
    QCOMPARE(Entries(tmp.filePath("sub.mdb")), (QStringList{"Inner.MDB", "LEDGRA2.MDB", "inner.mdb"}));
    files::Kill(folder + "sub.mdb\\Ledgra2.Mdb");
    files::Kill(folder + "sub.mdb\\INNER.mdb");
    QCOMPARE(Entries(tmp.filePath("sub.mdb")).size(), 1);

    // A file that cannot be deleted stops the run: files before it are gone, files after it stay.
    for (const char* name : {"a.dat", "b.dat", "c.dat"})
        WriteFile(tmp.filePath(name), "x");
    QVERIFY(MakeReadOnly(tmp.filePath("b.dat")));
    QCOMPARE(ErrorOf([&] { files::Kill(folder + "*.dat"); }), k75);
    QCOMPARE(Entries(tmp.path()), (QStringList{"b.dat", "c.dat", "sub.mdb"}));
    QCOMPARE(ErrorOf([&] { files::Kill(folder + "b.dat"); }), k75);
    QVERIFY(QFile::exists(tmp.filePath("b.dat")));
}

void tst_files::copy_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kCopies)); ++i)
        QTest::newRow(kCopies[i].tag) << i;
}

void tst_files::copy() {
    QFETCH(int, row);
    const auto& c = kCopies[row];
    QTemporaryDir tmp;
    const QByteArray contents(256 * 1024, 'N');
    WriteFile(tmp.filePath("src.mdb"), contents);
    WriteFile(tmp.filePath("dst.mdb"), "old contents");
    WriteFile(tmp.filePath("LONG.MDB"), QByteArray(300000, 'O'));
    QVERIFY(QDir(tmp.path()).mkdir("sub"));
    if (c.setup == 'r')
        QVERIFY(MakeReadOnly(tmp.filePath("dst.mdb")));
    const QStringList entries = Entries(tmp.path());
    const std::string source = Win(tmp.filePath(c.from)), target = Win(tmp.filePath(c.to));

    winapi::SetLastError(99);
    winapi::BOOL ok = winapi::FALSE;
    auto copy = [&] { ok = files::CopyFileA(c.from ? source.c_str() : nullptr, target.c_str(), c.failIfExists); };
    c.setup == 'f' ? WithFileSizeLimit(64 * 1024, copy) : copy();
    QCOMPARE(ok, c.code == 0 ? winapi::TRUE : winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), c.code);
    QCOMPARE(ReadFile(tmp.filePath("dst.mdb")), QByteArray("old contents"));
    if (c.code == 0)
        QCOMPARE(ReadFile(QString::fromStdString(files::ResolvePath(target))), contents);
    QCOMPARE(Entries(tmp.path()), entries); // and no temporary file left
}

void tst_files::nameAndFolders() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("a.txt"), "A");
    WriteFile(tmp.filePath("b.txt"), "B");
    const std::string folder = Win(tmp.path()) + "\\";
    QCOMPARE(ErrorOf([&] { files::Name(folder + "a.txt", folder + "b.txt"); }), k58);
    QCOMPARE(ErrorOf([&] { files::Name(folder + "a.txt", folder + "B.TXT"); }), k58);
    QCOMPARE(ErrorOf([&] { files::Name(folder + "gone.txt", folder + "c.txt"); }), k53);
    QCOMPARE(ErrorOf([&] { files::Name(folder + "a.txt", folder + "nofolder\\c.txt"); }), k76);
    QCOMPARE(ReadFile(tmp.filePath("a.txt")) + ReadFile(tmp.filePath("b.txt")), QByteArray("AB"));
    files::Name(folder + "a.txt", folder + "c.txt");
    files::Name(folder + "c.txt", folder + "C.TXT"); // a change of case only is allowed
    QCOMPARE(Entries(tmp.path()), (QStringList{"C.TXT", "b.txt"}));
    QCOMPARE(ReadFile(tmp.filePath("C.TXT")), QByteArray("A"));

    QCOMPARE(files::FileLen(folder + "c.txt"), std::uint64_t(1));
    files::MkDir(folder + "sub");
    QVERIFY(files::FolderExists(folder + "SUB") && !files::FileExists(folder + "sub") &&
            files::FileExists(folder + "c.txt"));
    QCOMPARE(ErrorOf([&] { files::FileLen(folder + "sub"); }), k53);
    QCOMPARE(ErrorOf([&] { files::MkDir(folder + "sub"); }), k75);
    QCOMPARE(ErrorOf([&] { files::MkDir(folder + "no\\sub"); }), k76);
    files::RmDir(folder + "SUB");
    QCOMPARE(ErrorOf([&] { files::RmDir(folder + "sub"); }), k76);
}

QTEST_GUILESS_MAIN(tst_files)
#include "tst_files.moc"
