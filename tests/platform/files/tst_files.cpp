#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

#include <sys/resource.h>

namespace {

// Windows-style form of a native path, to prove "\" works as a separator.
std::string Win(const QString& native) {
    return QDir::toNativeSeparators(native).replace('/', '\\').toStdString();
}

void WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The runtime error number a call raises, 0 when it raises nothing.
std::int32_t ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const zel::Error& e) {
        return e.Number();
    }
    return 0;
}

// Files beyond a few bytes cannot be written while it lives: writes fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

} // namespace

class tst_files : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nativePathAndEnviron();
    void dirMatchesWithoutCase_data();
    void dirMatchesWithoutCase();
    void killDeletesMatchingPlainFilesOnly();
    void killNothingMatches();
    void killStopsAtReadOnlyFile();
    void killExactNameKeepsCaseSiblings();
    void copyCreatesAndReplaces();
    void copyFailuresLeaveTargetAlone();
    void copyDiskFullLeavesTargetAlone();
    void nameRefusesToOverwrite();
    void folderAndLengthServices();
};

void tst_files::nativePathAndEnviron() {
    QCOMPARE(files::NativePath("C:\\data\\sub/x.ini"), std::string("C:/data/sub/x.ini"));
    QCOMPARE(files::NativePath("\\tovacfg.ini"), std::string("/tovacfg.ini"));
    QCOMPARE(files::NativePath(""), std::string());

    qunsetenv("ZEL_TST_FILES_VAR");
    QCOMPARE(files::Environ("ZEL_TST_FILES_VAR"), std::string());
    qputenv("ZEL_TST_FILES_VAR", "C:\\WINDOWS");
    QCOMPARE(files::Environ("ZEL_TST_FILES_VAR"), std::string("C:\\WINDOWS"));
    qunsetenv("ZEL_TST_FILES_VAR");
}

void tst_files::dirMatchesWithoutCase_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{"Alpha.TXT", "beta.txt", "gamma", "x1.dat", "x22.dat", "\xC3\xA9.txt"};
    QTest::newRow("*.* takes names without a dot") << "*.*" << all;
    QTest::newRow("*") << "*" << all;
    QTest::newRow("extension in other case") << "*.TxT" << QStringList{"Alpha.TXT", "beta.txt", "\xC3\xA9.txt"};
    QTest::newRow("plain name in other case") << "ALPHA.txt" << QStringList{"Alpha.TXT"};
    QTest::newRow("? is one character") << "x?.dat" << QStringList{"x1.dat"};
    QTest::newRow("?? is two") << "X??.DAT" << QStringList{"x22.dat"};
    QTest::newRow("? is one UTF-8 character") << "?.txt" << QStringList{"\xC3\xA9.txt"};
    QTest::newRow("name.* takes the bare name") << "gamma.*" << QStringList{"gamma"};
    QTest::newRow("*. takes names without a dot") << "*." << QStringList{"gamma"};
    QTest::newRow("nothing") << "zzz*" << QStringList{};
    QTest::newRow("trailing separator names no file") << "" << QStringList{};
}

void tst_files::dirMatchesWithoutCase() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);
    QTemporaryDir tmp;
    for (const char* name : {"Alpha.TXT", "beta.txt", "gamma", "x1.dat", "x22.dat", "\xC3\xA9.txt"})
        WriteFile(tmp.filePath(QString::fromUtf8(name)), "x");
    // Sub-folders never match, even when their names do.
    QVERIFY(QDir(tmp.path()).mkdir("sub.txt"));
    QVERIFY(QDir(tmp.path()).mkdir("x3.dat"));

    std::vector<std::string> got = files::Dir(Win(tmp.path()) + "\\" + pattern.toStdString());
    QStringList names;
    for (const std::string& n : got)
        names << QString::fromStdString(n);
    std::sort(expected.begin(), expected.end(),
              [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
    QCOMPARE(names, expected);

    QVERIFY(files::Dir(Win(tmp.filePath("missing")) + "\\*.*").empty());
}

void tst_files::killDeletesMatchingPlainFilesOnly() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("a.mdb"), "1");
    WriteFile(tmp.filePath("B.MDB"), "2");
    WriteFile(tmp.filePath("keep.txt"), "3");
    WriteFile(tmp.filePath("noext"), "4");
    QVERIFY(QDir(tmp.path()).mkpath("sub.mdb"));
    WriteFile(tmp.filePath("sub.mdb/inner.mdb"), "5");

    files::Kill(Win(tmp.path()) + "\\*.mdb");
    QCOMPARE(Entries(tmp.path()), (QStringList{"keep.txt", "noext", "sub.mdb"}));
    QCOMPARE(Entries(tmp.filePath("sub.mdb")), QStringList{"inner.mdb"});

    files::Kill(Win(tmp.path()) + "\\*.*");
    QCOMPARE(Entries(tmp.path()), QStringList{"sub.mdb"});
    QCOMPARE(Entries(tmp.filePath("sub.mdb")), QStringList{"inner.mdb"});
}

void tst_files::killNothingMatches() {
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir("data_qmx"));
    const std::string folder = Win(tmp.path()) + "\\";
    try {
        files::Kill(folder + "data_qmx\\*.*");
        QFAIL("Kill of an empty folder raised nothing");
    } catch (const zel::Error& e) {
        QCOMPARE(e.Number(), zel::rt::FileNotFound);
        QCOMPARE(e.Description(), std::string("File not found"));
    }
    QCOMPARE(ErrorOf([&] { files::Kill(folder + "ledgra2.mdb"); }), zel::rt::FileNotFound);
    QCOMPARE(ErrorOf([&] { files::Kill(folder + "missing\\*.*"); }), zel::rt::FileNotFound);
    // A folder is not a file to delete.
    QCOMPARE(ErrorOf([&] { files::Kill(folder + "data_qmx"); }), zel::rt::FileNotFound);
    QVERIFY(QFileInfo(tmp.filePath("data_qmx")).isDir());
}

void tst_files::killStopsAtReadOnlyFile() {
    QTemporaryDir tmp;
    for (const char* name : {"a.dat", "b.dat", "c.dat"})
        WriteFile(tmp.filePath(name), "x");
    QVERIFY(QFile::setPermissions(tmp.filePath("b.dat"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    try {
        files::Kill(Win(tmp.path()) + "\\*.dat");
        QFAIL("Kill of an undeletable file raised nothing");
    } catch (const zel::Error& e) {
        QCOMPARE(e.Number(), zel::rt::PathFileAccessError);
        QCOMPARE(e.Description(), std::string("Path/File access error"));
    }
    // Name order: a.dat went before the failure, c.dat was never reached.
    QCOMPARE(Entries(tmp.path()), (QStringList{"b.dat", "c.dat"}));
    QCOMPARE(ErrorOf([&] { files::Kill(Win(tmp.filePath("b.dat"))); }), zel::rt::PathFileAccessError);
    QVERIFY(QFile::exists(tmp.filePath("b.dat")));
}

void tst_files::killExactNameKeepsCaseSiblings() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("ledgra2.mdb"), "lower");
    WriteFile(tmp.filePath("LEDGRA2.MDB"), "upper");
    files::Kill(Win(tmp.filePath("ledgra2.mdb")));
    QCOMPARE(Entries(tmp.path()), QStringList{"LEDGRA2.MDB"});
    // Without an exact match the name is found without regard to case.
    files::Kill(Win(tmp.filePath("Ledgra2.Mdb")));
    QVERIFY(Entries(tmp.path()).isEmpty());
    // One name deletes one file, even when several differ from it only in case.
    WriteFile(tmp.filePath("a.mdb"), "1");
    WriteFile(tmp.filePath("A.MDB"), "2");
    files::Kill(Win(tmp.filePath("A.mdb")));
    QCOMPARE(Entries(tmp.path()).size(), 1);
}

void tst_files::copyCreatesAndReplaces() {
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir("data_qmx"));
    const QByteArray repaired(200000, 'R');
    WriteFile(tmp.filePath("data_qmx/ledgra2.mdb"), repaired);
    const std::string src = Win(tmp.filePath("data_qmx/ledgra2.mdb"));
    const std::string dst = Win(tmp.filePath("ledgra2.mdb"));

    winapi::SetLastError(99);
    QCOMPARE(files::CopyFileA(src.c_str(), dst.c_str(), winapi::FALSE), winapi::TRUE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_SUCCESS);
    QCOMPARE(ReadFile(tmp.filePath("ledgra2.mdb")), repaired);

    // Replacing a longer file leaves nothing of the old one behind.
    WriteFile(tmp.filePath("ledgra2.mdb"), QByteArray(300000, 'O'));
    QCOMPARE(files::CopyFileA(src.c_str(), dst.c_str(), winapi::FALSE), winapi::TRUE);
    QCOMPARE(ReadFile(tmp.filePath("ledgra2.mdb")), repaired);

    // A target that exists in other case is replaced, not joined by a sibling.
    WriteFile(tmp.filePath("NORVANE.MDB"), "old");
    const std::string upper = Win(tmp.filePath("norvane.mdb"));
    QCOMPARE(files::CopyFileA(src.c_str(), upper.c_str(), winapi::FALSE), winapi::TRUE);
    QCOMPARE(ReadFile(tmp.filePath("NORVANE.MDB")), repaired);

    const std::string fresh = Win(tmp.filePath("fresh.mdb"));
    QCOMPARE(files::CopyFileA(src.c_str(), fresh.c_str(), winapi::TRUE), winapi::TRUE);
    QCOMPARE(ReadFile(tmp.filePath("fresh.mdb")), repaired);

    QCOMPARE(Entries(tmp.path()), (QStringList{"NORVANE.MDB", "data_qmx", "fresh.mdb", "ledgra2.mdb"}));
}

void tst_files::copyFailuresLeaveTargetAlone() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("src.mdb"), "new contents");
    WriteFile(tmp.filePath("dst.mdb"), "old contents");
    const std::string src = Win(tmp.filePath("src.mdb"));
    const std::string dst = Win(tmp.filePath("dst.mdb"));

    struct Case {
        const char* what;
        std::string from, to;
        winapi::BOOL failIfExists;
        winapi::DWORD code;
    };
    const Case cases[] = {
        {"missing source", Win(tmp.filePath("gone.mdb")), dst, winapi::FALSE, winapi::ERROR_FILE_NOT_FOUND},
        {"source folder missing", Win(tmp.filePath("nofolder/a.mdb")), dst, winapi::FALSE,
         winapi::ERROR_PATH_NOT_FOUND},
        {"existing target refused", src, dst, winapi::TRUE, winapi::ERROR_FILE_EXISTS},
        {"target folder missing", src, Win(tmp.filePath("nofolder/b.mdb")), winapi::FALSE,
         winapi::ERROR_PATH_NOT_FOUND},
        {"folder as target", src, Win(tmp.path()), winapi::FALSE, winapi::ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        winapi::SetLastError(0);
        QVERIFY2(files::CopyFileA(c.from.c_str(), c.to.c_str(), c.failIfExists) == winapi::FALSE, c.what);
        QVERIFY2(winapi::GetLastError() == c.code, c.what);
        QCOMPARE(ReadFile(tmp.filePath("dst.mdb")), QByteArray("old contents"));
    }

    QVERIFY(QFile::setPermissions(tmp.filePath("dst.mdb"), QFile::ReadOwner | QFile::ReadGroup));
    QCOMPARE(files::CopyFileA(src.c_str(), dst.c_str(), winapi::FALSE), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_ACCESS_DENIED);
    QCOMPARE(ReadFile(tmp.filePath("dst.mdb")), QByteArray("old contents"));

    QCOMPARE(files::CopyFileA(nullptr, dst.c_str(), winapi::FALSE), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);

    // No temporary file is left behind by any failure.
    QCOMPARE(Entries(tmp.path()), (QStringList{"dst.mdb", "src.mdb"}));
}

void tst_files::copyDiskFullLeavesTargetAlone() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("src.mdb"), QByteArray(256 * 1024, 'N'));
    WriteFile(tmp.filePath("dst.mdb"), "old contents");
    const std::string src = Win(tmp.filePath("src.mdb"));
    const std::string dst = Win(tmp.filePath("dst.mdb"));
    winapi::BOOL ok;
    {
        FileSizeLimit limit(64 * 1024);
        ok = files::CopyFileA(src.c_str(), dst.c_str(), winapi::FALSE);
    }
    QCOMPARE(ok, winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_DISK_FULL);
    QCOMPARE(ReadFile(tmp.filePath("dst.mdb")), QByteArray("old contents"));
    QCOMPARE(Entries(tmp.path()), (QStringList{"dst.mdb", "src.mdb"}));
}

void tst_files::nameRefusesToOverwrite() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("a.txt"), "A");
    WriteFile(tmp.filePath("b.txt"), "B");
    const std::string folder = Win(tmp.path()) + "\\";

    QCOMPARE(ErrorOf([&] { files::Name(folder + "a.txt", folder + "b.txt"); }), zel::rt::FileAlreadyExists);
    QCOMPARE(ErrorOf([&] { files::Name(folder + "a.txt", folder + "B.TXT"); }), zel::rt::FileAlreadyExists);
    QCOMPARE(ReadFile(tmp.filePath("a.txt")), QByteArray("A"));
    QCOMPARE(ReadFile(tmp.filePath("b.txt")), QByteArray("B"));

    QCOMPARE(ErrorOf([&] { files::Name(folder + "gone.txt", folder + "c.txt"); }), zel::rt::FileNotFound);
    QCOMPARE(ErrorOf([&] { files::Name(folder + "a.txt", folder + "nofolder\\c.txt"); }), zel::rt::PathNotFound);

    files::Name(folder + "a.txt", folder + "c.txt");
    QCOMPARE(Entries(tmp.path()), (QStringList{"b.txt", "c.txt"}));
    // A change of case only is allowed.
    files::Name(folder + "c.txt", folder + "C.TXT");
    QCOMPARE(Entries(tmp.path()), (QStringList{"C.TXT", "b.txt"}));
    QCOMPARE(ReadFile(tmp.filePath("C.TXT")), QByteArray("A"));
}

void tst_files::folderAndLengthServices() {
    QTemporaryDir tmp;
    const std::string folder = Win(tmp.path()) + "\\";
    WriteFile(tmp.filePath("Data.bin"), QByteArray(1234, 'x'));

    QCOMPARE(files::FileLen(folder + "DATA.BIN"), std::uint64_t(1234));
    QVERIFY(files::FileExists(folder + "data.bin"));
    QVERIFY(!files::FolderExists(folder + "data.bin"));
    QCOMPARE(ErrorOf([&] { files::FileLen(folder + "missing.bin"); }), zel::rt::FileNotFound);

    files::MkDir(folder + "sub");
    QVERIFY(files::FolderExists(folder + "SUB"));
    QVERIFY(!files::FileExists(folder + "sub"));
    QCOMPARE(ErrorOf([&] { files::FileLen(folder + "sub"); }), zel::rt::FileNotFound);
    QCOMPARE(ErrorOf([&] { files::MkDir(folder + "sub"); }), zel::rt::PathFileAccessError);
    QCOMPARE(ErrorOf([&] { files::MkDir(folder + "no\\sub"); }), zel::rt::PathNotFound);

    WriteFile(tmp.filePath("sub/f"), "x");
    QCOMPARE(ErrorOf([&] { files::RmDir(folder + "sub"); }), zel::rt::PathFileAccessError);
    files::Kill(folder + "sub\\f");
    files::RmDir(folder + "sub");
    QVERIFY(!files::FolderExists(folder + "sub"));
    QCOMPARE(ErrorOf([&] { files::RmDir(folder + "sub"); }), zel::rt::PathNotFound);
}

QTEST_GUILESS_MAIN(tst_files)
#include "tst_files.moc"
