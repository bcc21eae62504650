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

bool MakeReadOnly(const QString& path) {
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
}

} // namespace

class tst_files : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dirMatchesWithoutCase_data();
    void dirMatchesWithoutCase();
    void kill();
    void copyCreatesAndReplaces();
    void copyFailuresLeaveTargetAlone_data();
    void copyFailuresLeaveTargetAlone();
    void nameAndFolders();
};

void tst_files::dirMatchesWithoutCase_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("*.* takes names without a dot")
        << "*.*" << QStringList{"Alpha.TXT", "beta.txt", "gamma", "x1.dat", "x22.dat", "\xC3\xA9.txt"};
    QTest::newRow("extension in other case") << "*.TxT" << QStringList{"Alpha.TXT", "beta.txt", "\xC3\xA9.txt"};
    QTest::newRow("plain name in other case") << "ALPHA.txt" << QStringList{"Alpha.TXT"};
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

void tst_files::copyCreatesAndReplaces() {
    QTemporaryDir tmp;
    const QByteArray repaired(200000, 'R');
    WriteFile(tmp.filePath("data_qmx/ledgra2.mdb"), repaired);
    const std::string src = Win(tmp.filePath("data_qmx/ledgra2.mdb"));
    WriteFile(tmp.filePath("longer.mdb"), QByteArray(300000, 'O'));
    WriteFile(tmp.filePath("NORVANE.MDB"), "old");

    // A fresh target, a longer one (nothing of it may stay) and one that exists in other case (replaced, not
    // joined by a sibling).
    for (const char* target : {"ledgra2.mdb", "longer.mdb", "norvane.mdb"}) {
        winapi::SetLastError(99);
        QCOMPARE(files::CopyFileA(src.c_str(), Win(tmp.filePath(target)).c_str(), winapi::FALSE), winapi::TRUE);
        QCOMPARE(winapi::GetLastError(), winapi::ERROR_SUCCESS);
    }
    QCOMPARE(files::CopyFileA(src.c_str(), Win(tmp.filePath("fresh.mdb")).c_str(), winapi::TRUE), winapi::TRUE);
    const QStringList names{"NORVANE.MDB", "data_qmx", "fresh.mdb", "ledgra2.mdb", "longer.mdb"};
    QCOMPARE(Entries(tmp.path()), names);
    for (const QString& name : names)
        QCOMPARE(ReadFile(tmp.filePath(name == "data_qmx" ? "data_qmx/ledgra2.mdb" : name)), repaired);

    QCOMPARE(files::CopyFileA(nullptr, src.c_str(), winapi::FALSE), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
}

void tst_files::copyFailuresLeaveTargetAlone_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("failIfExists");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<uint>("code");
    const uint notFound = winapi::ERROR_FILE_NOT_FOUND, noPath = winapi::ERROR_PATH_NOT_FOUND,
               exists = winapi::ERROR_FILE_EXISTS, denied = winapi::ERROR_ACCESS_DENIED;
    QTest::newRow("missing source") << "gone.mdb"
                                    << "dst.mdb" << false << "" << notFound;
    QTest::newRow("source folder missing") << "no/a.mdb"
                                           << "dst.mdb" << false << "" << noPath;
    QTest::newRow("existing target refused") << "src.mdb"
                                             << "dst.mdb" << true << "" << exists;
    QTest::newRow("target folder missing") << "src.mdb"
                                           << "no/b.mdb" << false << "" << noPath;
    QTest::newRow("folder as target") << "src.mdb"
                                      << "sub" << false << "" << denied;
    QTest::newRow("read-only target") << "src.mdb"
                                      << "dst.mdb" << false << "read-only" << denied;
    QTest::newRow("disk full") << "src.mdb"
                               << "dst.mdb" << false << "disk full" << uint(winapi::ERROR_DISK_FULL);
}

void tst_files::copyFailuresLeaveTargetAlone() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, failIfExists);
    QFETCH(QString, setup);
    QFETCH(uint, code);
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("src.mdb"), QByteArray(256 * 1024, 'N'));
    WriteFile(tmp.filePath("dst.mdb"), "old contents");
    QVERIFY(QDir(tmp.path()).mkdir("sub"));
    if (setup == "read-only")
        QVERIFY(MakeReadOnly(tmp.filePath("dst.mdb")));
    const std::string source = Win(tmp.filePath(from)), target = Win(tmp.filePath(to));

    winapi::SetLastError(0);
    winapi::BOOL ok = winapi::TRUE;
    auto copy = [&] { ok = files::CopyFileA(source.c_str(), target.c_str(), failIfExists); };
    setup == "disk full" ? WithFileSizeLimit(64 * 1024, copy) : copy();
    QCOMPARE(ok, winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::DWORD(code));
    QCOMPARE(ReadFile(tmp.filePath("dst.mdb")), QByteArray("old contents"));
    QCOMPARE(Entries(tmp.path()), (QStringList{"dst.mdb", "src.mdb", "sub"})); // no temporary file left
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
    QVERIFY(files::FileExists(folder + "c.txt") && !files::FolderExists(folder + "c.txt"));
    files::MkDir(folder + "sub");
    QVERIFY(files::FolderExists(folder + "SUB") && !files::FileExists(folder + "sub"));
    QCOMPARE(ErrorOf([&] { files::FileLen(folder + "sub"); }) + ErrorOf([&] { files::FileLen(folder + "x"); }),
             k53 + k53);
    QCOMPARE(ErrorOf([&] { files::MkDir(folder + "sub"); }), k75);
    QCOMPARE(ErrorOf([&] { files::MkDir(folder + "no\\sub"); }), k76);
    WriteFile(tmp.filePath("sub/f"), "x");
    QCOMPARE(ErrorOf([&] { files::RmDir(folder + "sub"); }), k75);
    QVERIFY(QFile::remove(tmp.filePath("sub/f")));
    files::RmDir(folder + "sub");
    QCOMPARE(ErrorOf([&] { files::RmDir(folder + "sub"); }), k76);
}

QTEST_GUILESS_MAIN(tst_files)
#include "tst_files.moc"
