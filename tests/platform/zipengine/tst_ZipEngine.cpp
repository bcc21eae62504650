#include "platform/zipengine/ArchiveTools.h"
#include "platform/zipengine/ZipEngine.h"

#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

#include <cstring>
#include <deque>

using namespace ziptest;
using namespace zipengine;

namespace {

// Engine callbacks that record what they are given and answer from queues.
struct Calls {
    static inline std::string printed;
    static inline std::deque<std::int32_t> replaceAnswers;
    static inline QStringList replaceAsked;
    static inline std::deque<std::string> passwords; // empty: no password given
    static inline int passwordAsked = 0;
    static inline int passwordSize = 0;
    static inline QStringList listed;

    static void Reset() {
        printed.clear();
        replaceAnswers.clear();
        replaceAsked.clear();
        passwords.clear();
        passwordAsked = 0;
        listed.clear();
    }
    static std::int32_t Print(char* buffer, std::uint32_t length) {
        printed.append(buffer, strnlen(buffer, length));
        return 0;
    }
    static std::int32_t Replace(char* name) {
        replaceAsked << QString::fromUtf8(name);
        if (replaceAnswers.empty())
            return IDM_REPLACE_NO;
        std::int32_t a = replaceAnswers.front();
        replaceAnswers.pop_front();
        return a;
    }
    static std::int16_t Password(char* buffer, std::int32_t size, const char*, const char*) {
        ++passwordAsked;
        passwordSize = size;
        if (passwords.empty())
            return 1;
        std::string p = passwords.front();
        passwords.pop_front();
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        std::memcpy(buffer, p.data(), std::min<std::size_t>(p.size(), static_cast<std::size_t>(size) - 1));
        return 0;
    }
    static void Message(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t, std::uint32_t, char, const char* name, const char*, std::uint32_t, char) {
        listed << QString::fromUtf8(name);
    }
};

int Zip(const QString& archive, const QStringList& names, ZPOPT options = {}, const std::string& root = "/") {
    ZIPUSERFUNCTIONS uf;
    uf.print = Calls::Print;
    ZpInit(&uf);
    options.szRootDir = root.c_str();
    ZpSetOptions(&options);
    std::vector<std::string> keep;
    for (const QString& n : names)
        keep.push_back(n.toStdString());
    std::vector<const char*> slots;
    for (const auto& k : keep)
        slots.push_back(k.c_str());
    std::string path = archive.toStdString();
    return ZpArchive(ZCL{static_cast<std::int32_t>(slots.size()), path.c_str(), slots.data()});
}

DCL Options(bool folders = true, bool overwrite = true) {
    DCL d;
    d.ndflag = folders ? 1 : 0;
    d.noflag = overwrite ? 1 : 0;
    return d;
}

int Unzip(const QString& archive, const QString& dir, DCL dcl = Options()) {
    USERFUNCTIONS uf;
    uf.print = Calls::Print;
    uf.replace = Calls::Replace;
    uf.password = Calls::Password;
    uf.SendApplicationMessage = Calls::Message;
    std::string a = archive.toStdString(), d = dir.toStdString();
    dcl.lpszZipFN = a.c_str();
    dcl.lpszExtractDir = d.c_str();
    return Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &dcl, &uf);
}

QStringList Listing(const QString& archive) {
    ToolRun r = Exec("unzip", {"-Z1", archive});
    QStringList names = r.out.split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

// Writes an AES-256 encrypted archive with libzip (Info-ZIP cannot make those).
bool MakeAesZip(const QString& path, const QByteArray& data, const char* password) {
    int err = 0;
    zip_t* za = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za)
        return false;
    zip_source_t* src = zip_source_buffer(za, data.constData(), static_cast<zip_uint64_t>(data.size()), 0);
    zip_int64_t idx = zip_file_add(za, "secret.txt", src, 0);
    zip_file_set_encryption(za, static_cast<zip_uint64_t>(idx), ZIP_EM_AES_256, password);
    return zip_close(za) == 0;
}

} // namespace

class tst_ZipEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        Calls::Reset();
        SetProgressHook({});
    }

    void builderWritesWhatInfoZipReads() {
        QTemporaryDir tmp;
        const QString data = tmp.filePath("data");
        WriteFile(data + "/a.mdb", QByteArray(100000, 'a'));
        WriteFile(data + "/B.MDB", "bee");
        WriteFile(data + "/sub/c.txt", "sea");
        const QString archive = tmp.filePath("out/ZEL.ZIP");
        QDir().mkpath(tmp.filePath("out"));
        // Windows-style separators, the seed entry first.
        QString pattern = data + "\\*.*";
        pattern.replace('/', '\\');
        QCOMPARE(Zip(archive, {"querty", pattern}), 0);
        QVERIFY(QString::fromStdString(Calls::printed).contains("name not matched: querty"));
        QCOMPARE(Exec("unzip", {"-t", archive}).code, 0);
        const QString prefix = data.mid(1); // the path under the root "/", without the leading "/"
        QCOMPARE(Listing(archive), (QStringList{prefix + "/B.MDB", prefix + "/a.mdb"}));
        QCOMPARE(Exec("unzip", {"-p", archive, prefix + "/a.mdb"}).out.toLatin1(), QByteArray(100000, 'a'));
        QVERIFY(Exec("unzip", {"-v", archive}).out.contains("Defl:N"));
        QCOMPARE(Tree(tmp.filePath("out")), QStringList{"ZEL.ZIP"}); // no temporary file left

        // Case-insensitive patterns, recursion and junked folder names.
        QCOMPARE(Zip(archive, {data + "/*.MDB"}), 0);
        QCOMPARE(Listing(archive), (QStringList{prefix + "/B.MDB", prefix + "/a.mdb"}));
        QCOMPARE(Zip(archive, {data + "/?.TXT"}), 12); // not recursing: nothing matches
        ZPOPT recurse;
        recurse.fRecurse = 1;
        QCOMPARE(Zip(archive, {data + "/?.TXT"}, recurse), 0);
        QCOMPARE(Listing(archive), QStringList{prefix + "/sub/c.txt"});
        ZPOPT junk;
        junk.fJunkDir = 1;
        QCOMPARE(Zip(archive, {data + "/sub/C.TXT", data + "/a.mdb"}, junk), 0);
        QCOMPARE(Listing(archive), (QStringList{"a.mdb", "c.txt"}));
        // A relative name is taken under the root folder, and the entry name is relative to it.
        QCOMPARE(Zip(archive, {"sub\\c.txt"}, {}, data.toStdString()), 0);
        QCOMPARE(Listing(archive), QStringList{"sub/c.txt"});
    }

    void builderNeverPacksItsArchiveAndReplacesALeftover() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("tova");
        WriteFile(dir + "/t.dbf", "data");
        WriteFile(dir + "/ZEL.ZIP", "not a zip at all"); // leftover of a failed send
        QCOMPARE(Zip(dir + "/ZEL.ZIP", {dir + "/*.*"}), 0);
        QCOMPARE(Listing(dir + "/ZEL.ZIP"), QStringList{dir.mid(1) + "/t.dbf"});
        QCOMPARE(Exec("unzip", {"-t", dir + "/ZEL.ZIP"}).code, 0);

        // A valid leftover archive is replaced, not merged; fUpdate does not change that.
        WriteFile(dir + "/other.txt", "x");
        QCOMPARE(Exec("zip", {"-j", dir + "/ZEL.ZIP", dir + "/other.txt"}).code, 0);
        QFile::remove(dir + "/other.txt");
        ZPOPT update;
        update.fUpdate = 1;
        QCOMPARE(Zip(dir + "/ZEL.ZIP", {dir + "/*.*"}, update), 0);
        QCOMPARE(Listing(dir + "/ZEL.ZIP"), QStringList{dir.mid(1) + "/t.dbf"});
        QCOMPARE(Tree(dir), (QStringList{"ZEL.ZIP", "t.dbf"}));
    }

    void builderFailuresWriteNothing() {
        QTemporaryDir tmp;
        const QString archive = tmp.filePath("ZEL.ZIP");
        QVERIFY(Zip(archive, {"querty", tmp.filePath("none/*.*")}) != 0);
        QVERIFY(QString::fromStdString(Calls::printed).contains("Nothing to do"));
        QVERIFY(!QFile::exists(archive));

        WriteFile(tmp.filePath("a.txt"), "a");
        QVERIFY(Zip(tmp.filePath("missing/ZEL.ZIP"), {tmp.filePath("a.txt")}) != 0);
        QVERIFY(Zip("", {tmp.filePath("a.txt")}) != 0);
        ZPOPT encrypt; // asked for but not available: refused rather than written in clear
        encrypt.fEncrypt = 1;
        QVERIFY(Zip(archive, {tmp.filePath("a.txt")}, encrypt) != 0);
        QCOMPARE(Tree(tmp.path()), QStringList{"a.txt"});
    }

    void builderReportsProgressAndCancels() {
        QTemporaryDir tmp;
        QByteArray big(24 * 1024 * 1024, '\0');
        for (int i = 0; i < big.size(); i += 4096)
            big[i] = static_cast<char>(i / 4096);
        WriteFile(tmp.filePath("d/big.bin"), big);
        WriteFile(tmp.filePath("d/small.bin"), "s");
        std::uint64_t lastDone = 0, lastTotal = 0;
        int calls = 0;
        SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
            ++calls;
            lastDone = done;
            lastTotal = total;
            return true;
        });
        QCOMPARE(Zip(tmp.filePath("a.zip"), {tmp.filePath("d/*")}), 0);
        QVERIFY(calls >= 1);
        QCOMPARE(lastTotal, std::uint64_t(big.size() + 1));
        QVERIFY(lastDone <= lastTotal);

        SetProgressHook([](std::uint64_t done, std::uint64_t) { return done < 1024 * 1024; });
        Calls::printed.clear();
        QVERIFY(Zip(tmp.filePath("b.zip"), {tmp.filePath("d/*")}) != 0);
        QVERIFY(QString::fromStdString(Calls::printed).contains("cancelled"));
        QCOMPARE(Tree(tmp.path()), (QStringList{"a.zip", "d/big.bin", "d/small.bin"}));

        // The same on the extracting side: no partial or temporary file stays.
        QVERIFY(Unzip(tmp.filePath("a.zip"), tmp.filePath("x")) != 0);
        QVERIFY(QString::fromStdString(Calls::printed).contains("cancelled"));
        QVERIFY(Tree(tmp.filePath("x")).isEmpty() || !Tree(tmp.filePath("x")).join(',').contains("big.bin"));
        QVERIFY(!Tree(tmp.filePath("x")).join(',').contains("zeltmp"));
    }

    void extractsInfoZipArchivesWithAndWithoutFolders() {
        QTemporaryDir tmp;
        WriteFile(tmp.filePath("src/top.txt"), "top");
        WriteFile(tmp.filePath("src/data_qmx/ledgra2.mdb"), QByteArray(70000, 'L'));
        WriteFile(tmp.filePath("src/data_qmx/deep/x.dat"), "deep");
        QCOMPARE(Exec("zip", {"-r", "-q", tmp.filePath("f.zip"), "."}, tmp.filePath("src")).code, 0);

        QCOMPARE(Unzip(tmp.filePath("f.zip"), tmp.filePath("with")), 0);
        QCOMPARE(Tree(tmp.filePath("with")), (QStringList{"data_qmx/deep/x.dat", "data_qmx/ledgra2.mdb", "top.txt"}));
        QCOMPARE(ReadFile(tmp.filePath("with/data_qmx/ledgra2.mdb")), QByteArray(70000, 'L'));

        QCOMPARE(Unzip(tmp.filePath("f.zip"), tmp.filePath("flat"), Options(false)), 0);
        QCOMPARE(Tree(tmp.filePath("flat")), (QStringList{"ledgra2.mdb", "top.txt", "x.dat"}));
        QCOMPARE(ReadFile(tmp.filePath("flat/x.dat")), QByteArray("deep"));

        // Test and list modes write nothing.
        DCL test = Options();
        test.ntflag = 1;
        QCOMPARE(Unzip(tmp.filePath("f.zip"), tmp.filePath("t"), test), 0);
        DCL list = Options();
        list.nvflag = 1;
        QCOMPARE(Unzip(tmp.filePath("f.zip"), tmp.filePath("t"), list), 0);
        QVERIFY(Calls::listed.contains("top.txt"));
        QVERIFY(!QFileInfo::exists(tmp.filePath("t")));
    }

    void hostileArchivesStayInsideTheFolder() {
        QTemporaryDir tmp;
        const QString zip = tmp.filePath("in/evil.zip");
        QDir().mkpath(tmp.filePath("in"));
        QVERIFY(MakeZip(zip, {{"../up.txt", "1"},
                              {"/abs.txt", "2"},
                              {"C:\\drive.txt", "3"},
                              {"a\\..\\..\\back.txt", "4"},
                              {"ok/../../../y.txt", "5"},
                              {"link", "/etc/passwd", true},
                              {"..", ""}}));
        for (bool folders : {true, false}) {
            const QString dir = tmp.filePath(folders ? "in/x" : "in/flat");
            QVERIFY(Unzip(zip, dir, Options(folders)) != 0);
            QStringList everything = Tree(tmp.path());
            for (const QString& f : everything)
                QVERIFY2(f.startsWith("in/x/") || f.startsWith("in/flat/") || f == "in/evil.zip", qPrintable(f));
            QVERIFY(!QFileInfo(dir + "/link").exists() && !QFileInfo(dir + "/link").isSymLink());
        }
        QCOMPARE(Tree(tmp.filePath("in/flat")), (QStringList{"abs.txt", "back.txt", "drive.txt", "up.txt", "y.txt"}));
        QCOMPARE(ReadFile(tmp.filePath("in/x/a/back.txt")), QByteArray("4"));
        QVERIFY(QString::fromStdString(Calls::printed).contains("symbolic link"));
    }

    void entriesNeverOverwriteTheArchiveOrEachOther() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("tova");
        QDir().mkpath(dir);
        const QString archive = dir + "/FIXED.ZIP";
        QVERIFY(MakeZip(
            archive,
            {{"d.txt", "first"}, {"D.TXT", "second"}, {"sub/d.txt", "third"}, {"FIXED.ZIP", "junk"}, {"e.txt", "e"}}));
        const QByteArray before = ReadFile(archive);
        QVERIFY(Unzip(archive, dir, Options(false)) != 0);
        QCOMPARE(ReadFile(archive), before);
        QCOMPARE(Tree(dir), (QStringList{"FIXED.ZIP", "d.txt", "e.txt"}));
        QCOMPARE(ReadFile(dir + "/d.txt"), QByteArray("first"));
        QVERIFY(QString::fromStdString(Calls::printed).contains("would overwrite"));
    }

    void overwriteAnswersAreHonoured() {
        QTemporaryDir tmp;
        QVERIFY(MakeZip(tmp.filePath("f.zip"),
                        {{"a", "new a"}, {"b", "new b"}, {"c", "new c"}, {"d", "new d"}, {"n", "new n"}}));
        const QString dir = tmp.filePath("x");
        for (const char* n : {"a", "b", "c", "d"})
            WriteFile(dir + "/" + n, "old");
        Calls::replaceAnswers = {IDM_REPLACE_NO, IDM_REPLACE_YES, IDM_REPLACE_NONE};
        QCOMPARE(Unzip(tmp.filePath("f.zip"), dir, Options(true, false)), 0);
        QCOMPARE(Calls::replaceAsked, (QStringList{dir + "/a", dir + "/b", dir + "/c"})); // d not asked after 104
        QCOMPARE(ReadFile(dir + "/a"), QByteArray("old"));
        QCOMPARE(ReadFile(dir + "/b"), QByteArray("new b"));
        QCOMPARE(ReadFile(dir + "/c"), QByteArray("old"));
        QCOMPARE(ReadFile(dir + "/d"), QByteArray("old"));
        QCOMPARE(ReadFile(dir + "/n"), QByteArray("new n"));

        Calls::replaceAsked.clear();
        QCOMPARE(Unzip(tmp.filePath("f.zip"), dir, Options(true, true)), 0);
        QVERIFY(Calls::replaceAsked.isEmpty());
        QCOMPARE(ReadFile(dir + "/a"), QByteArray("new a"));
    }

    void passwordsAreAskedUntilRight() {
        QTemporaryDir tmp;
        WriteFile(tmp.filePath("src/one.txt"), QByteArray(5000, '1'));
        WriteFile(tmp.filePath("src/two.txt"), "two");
        QCOMPARE(
            Exec("zip", {"-q", "-P", "right", tmp.filePath("p.zip"), "one.txt", "two.txt"}, tmp.filePath("src")).code,
            0);
        // Wrong, then right; the right one is kept for the next entry.
        Calls::passwords = {"wrong", "right"};
        QCOMPARE(Unzip(tmp.filePath("p.zip"), tmp.filePath("x")), 0);
        QCOMPARE(Calls::passwordAsked, 2);
        QCOMPARE(Calls::passwordSize, 81);
        QCOMPARE(ReadFile(tmp.filePath("x/one.txt")), QByteArray(5000, '1'));
        QCOMPARE(ReadFile(tmp.filePath("x/two.txt")), QByteArray("two"));

        // No answer: the entry is skipped, and the engine stops asking for the rest of the run.
        Calls::Reset();
        QVERIFY(Unzip(tmp.filePath("p.zip"), tmp.filePath("y")) != 0);
        QCOMPARE(Calls::passwordAsked, 1);
        QCOMPARE(Tree(tmp.filePath("y")), QStringList{});
        QVERIFY(QString::fromStdString(Calls::printed).contains("needs a password"));

        // AES entries too.
        Calls::Reset();
        QVERIFY(MakeAesZip(tmp.filePath("aes.zip"), "aes data", "s3cret"));
        Calls::passwords = {"nope", "s3cret"};
        QCOMPARE(Unzip(tmp.filePath("aes.zip"), tmp.filePath("z")), 0);
        QCOMPARE(Calls::passwordAsked, 2);
        QCOMPARE(ReadFile(tmp.filePath("z/secret.txt")), QByteArray("aes data"));
    }

    void corruptArchivesFailWithoutPartialFiles() {
        QTemporaryDir tmp;
        QByteArray text;
        for (int i = 0; i < 20000; ++i)
            text += QByteArray::number(i * 7919) + ' ';
        WriteFile(tmp.filePath("src/t.txt"), text);
        QCOMPARE(Exec("zip", {"-q", "-j", tmp.filePath("c.zip"), tmp.filePath("src/t.txt")}).code, 0);
        QByteArray bytes = ReadFile(tmp.filePath("c.zip"));
        for (int i = 200; i < 260; ++i) // inside the compressed data of the only entry
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        WriteFile(tmp.filePath("c.zip"), bytes);
        QVERIFY(Unzip(tmp.filePath("c.zip"), tmp.filePath("x")) != 0);
        QCOMPARE(Tree(tmp.filePath("x")), QStringList{});
        QVERIFY(QString::fromStdString(Calls::printed).contains("damaged"));

        WriteFile(tmp.filePath("g.zip"), "garbage, not an archive");
        QVERIFY(Unzip(tmp.filePath("g.zip"), tmp.filePath("x")) != 0);
        QVERIFY(Unzip(tmp.filePath("missing.zip"), tmp.filePath("x")) != 0);
        QCOMPARE(Tree(tmp.filePath("x")), QStringList{});
    }
};

QTEST_GUILESS_MAIN(tst_ZipEngine)
#include "tst_ZipEngine.moc"
