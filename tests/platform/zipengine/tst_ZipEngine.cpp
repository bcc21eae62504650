#include "platform/zipengine/ArchiveTools.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <deque>

using namespace ziptest;
using namespace zipengine;

namespace {

// What the engine's callbacks were given; answers come from the queues.
struct Calls {
    std::string printed;
    std::deque<std::int32_t> replaceAnswers; // none left: 100, keep the file
    QStringList replaceAsked;
    std::deque<std::string> passwords; // none left: no password given
    QList<int> passwordSizes;
} calls;

USERFUNCTIONS Callbacks() {
    USERFUNCTIONS uf;
    uf.print = [](char* buffer, std::uint32_t length) {
        calls.printed.append(buffer, strnlen(buffer, length));
        return 0;
    };
    uf.replace = [](char* name) {
        calls.replaceAsked << QString::fromUtf8(name);
        calls.replaceAnswers.push_back(IDM_REPLACE_NO);
        std::int32_t answer = calls.replaceAnswers.front();
        calls.replaceAnswers.pop_front();
        return answer;
    };
    uf.password = [](char* buffer, std::int32_t size, const char*, const char*) -> std::int16_t {
        calls.passwordSizes << size;
        if (calls.passwords.empty())
            return 1;
        std::strcpy(buffer, calls.passwords.front().c_str());
        calls.passwords.pop_front();
        return 0;
    };
    return uf;
}

int Pack(const QString& archive, const QStringList& names, ZPOPT options = {}, const std::string& root = "/") {
    ZIPUSERFUNCTIONS uf;
    uf.print = Callbacks().print;
    return Zip(archive, names, options, root, uf);
}

int Extract(const QString& archive, const QString& dir, bool folders = true, bool overwrite = true) {
    return Unzip(archive, dir, folders, overwrite, Callbacks());
}

bool Printed(const char* text) {
    return calls.printed.find(text) != std::string::npos;
}

} // namespace

class tst_ZipEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        calls = Calls();
        SetProgressHook({});
    }

    // "@" stands for the data folder in the names, and for it without the leading "/" in the entries.
    void builderWritesWhatInfoZipReads_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("options");         // 1 recurse, 2 junk folder names, 4 the data folder is the root
        QTest::addColumn<QStringList>("entries"); // none: nothing matched, error 12
        const QStringList mdbs{"@/B.MDB", "@/a.mdb"};
        QTest::newRow("seed entry, Windows pattern") << QStringList{"querty", "@\\*.*"} << 0 << mdbs;
        QTest::newRow("pattern ignores case") << QStringList{"@/*.MDB"} << 0 << mdbs;
        QTest::newRow("no recursion") << QStringList{"@/?.TXT"} << 0 << QStringList{};
        QTest::newRow("recursion") << QStringList{"@/?.TXT"} << 1 << QStringList{"@/sub/c.txt"};
        QTest::newRow("junk folders") << QStringList{"@/sub/C.TXT", "@/a.mdb"} << 2 << QStringList{"a.mdb", "c.txt"};
        QTest::newRow("relative to root") << QStringList{"sub\\c.txt"} << 4 << QStringList{"sub/c.txt"};
    }
    void builderWritesWhatInfoZipReads() {
        QFETCH(QStringList, names);
        QFETCH(int, options);
        QFETCH(QStringList, entries);
        QTemporaryDir tmp;
        const QString data = tmp.filePath("data"), archive = tmp.filePath("out/ZEL.ZIP");
        const Files content{{"a.mdb", QByteArray(100000, 'a')}, {"B.MDB", "bee"}, {"c.txt", "sea"}};
        WriteAll(data, {{"a.mdb", content["a.mdb"]}, {"B.MDB", "bee"}, {"sub/c.txt", "sea"}});
        QDir().mkpath(tmp.filePath("out"));
        for (QString& n : names)
            n = n.contains('\\') ? n.replace("@", data).replace('/', '\\') : n.replace("@", data);
        ZPOPT o;
        o.fRecurse = options & 1;
        o.fJunkDir = (options & 2) >> 1;
        QCOMPARE(Pack(archive, names, o, options & 4 ? S(data) : "/"), entries.isEmpty() ? 12 : 0);
        QCOMPARE(Printed("name not matched: querty"), names.contains("querty"));
        QCOMPARE(Snapshot(tmp.filePath("out")).keys(), entries.isEmpty() ? QStringList{} : QStringList{"ZEL.ZIP"});
        if (entries.isEmpty())
            return;
        QCOMPARE(Exec("unzip", {"-t", archive}).first, 0);
        QVERIFY(Exec("unzip", {"-v", archive}).second.contains("Defl:N"));
        QCOMPARE(Listing(archive), entries.replaceInStrings("@", data.mid(1)));
        QCOMPARE(Exec("unzip", {"-q", archive, "-d", tmp.filePath("check")}).first, 0);
        const Files got = Snapshot(tmp.filePath("check"));
        QCOMPARE(got.keys(), entries);
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QCOMPARE(it.value(), content[QFileInfo(it.key()).fileName()]);
    }

    void builderNeverPacksItsArchiveAndReplacesALeftover() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("tova"), archive = dir + "/ZEL.ZIP";
        const QStringList packed{dir.mid(1) + "/t.dbf"};
        WriteAll(dir, {{"t.dbf", "data"}, {"ZEL.ZIP", "not a zip: the leftover of a failed send"}});
        QCOMPARE(Pack(archive, {dir + "/*.*"}), 0);
        QCOMPARE(Listing(archive), packed);
        // A valid leftover is replaced, not merged, even when updating is asked for.
        WriteFile(tmp.filePath("other.txt"), "x");
        QCOMPARE(Exec("zip", {"-j", archive, tmp.filePath("other.txt")}).first, 0);
        ZPOPT update;
        update.fUpdate = 1;
        QCOMPARE(Pack(archive, {dir + "/*.*"}, update), 0);
        QCOMPARE(Listing(archive), packed);
        QCOMPARE(Exec("unzip", {"-t", archive}).first, 0);
        QCOMPARE(Snapshot(dir).keys(), (QStringList{"ZEL.ZIP", "t.dbf"}));
    }

    void builderFailuresWriteNothing() {
        QTemporaryDir tmp;
        WriteFile(tmp.filePath("a.txt"), "a");
        QVERIFY(Pack(tmp.filePath("Z.ZIP"), {"querty", tmp.filePath("none/*.*")}) != 0);
        QVERIFY(Printed("Nothing to do"));
        QVERIFY(Pack(tmp.filePath("missing/Z.ZIP"), {tmp.filePath("a.txt")}) != 0);
        QVERIFY(Pack("", {tmp.filePath("a.txt")}) != 0);
        ZPOPT encrypt; // not available: refused rather than written in clear
        encrypt.fEncrypt = 1;
        QVERIFY(Pack(tmp.filePath("Z.ZIP"), {tmp.filePath("a.txt")}, encrypt) != 0);
        QCOMPARE(Snapshot(tmp.path()).keys(), QStringList{"a.txt"});
    }

    void progressAndCancel() {
        QTemporaryDir tmp;
        QByteArray big(24 * 1024 * 1024, '\0');
        for (int i = 0; i < big.size(); i += 4096)
            big[i] = static_cast<char>(i / 4096);
        WriteAll(tmp.filePath("d"), {{"big.bin", big}, {"small.bin", "s"}});
        std::uint64_t lastDone = 0, lastTotal = 0;
        SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
            lastDone = done;
            lastTotal = total;
            return true;
        });
        QCOMPARE(Pack(tmp.filePath("a.zip"), {tmp.filePath("d/*")}), 0);
        QCOMPARE(lastTotal, std::uint64_t(big.size() + 1));
        QVERIFY(lastDone <= lastTotal);

        SetProgressHook([](std::uint64_t done, std::uint64_t) { return done < 1024 * 1024; });
        QVERIFY(Pack(tmp.filePath("b.zip"), {tmp.filePath("d/*")}) != 0);
        QVERIFY(Printed("cancelled"));
        QCOMPARE(Snapshot(tmp.path()).keys(), (QStringList{"a.zip", "d/big.bin", "d/small.bin"}));
        calls.printed.clear();
        QVERIFY(Extract(tmp.filePath("a.zip"), tmp.filePath("x")) != 0);
        QVERIFY(Printed("cancelled"));
        for (const QString& f : Snapshot(tmp.filePath("x")).keys()) // no partial or temporary file
            QVERIFY2(f.endsWith("/small.bin"), qPrintable(f));
    }

    void extractsInfoZipArchives_data() {
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QStringList>("zipOptions");
        QTest::addColumn<QStringList>("answers"); // passwords given when asked
        QTest::addColumn<int>("asked");
        QTest::newRow("folders") << true << QStringList{} << QStringList{} << 0;
        QTest::newRow("flat") << false << QStringList{} << QStringList{} << 0;
        const QStringList pw{"-P", "right"};
        QTest::newRow("wrong then right password, kept for the next entries")
            << true << pw << QStringList{"wrong", "right"} << 2;
        QTest::newRow("flat, password") << false << pw << QStringList{"right"} << 1;
        QTest::newRow("no password given: asked once") << true << pw << QStringList{} << 1;
    }
    void extractsInfoZipArchives() {
        QFETCH(bool, folders);
        QFETCH(QStringList, zipOptions);
        QFETCH(QStringList, answers);
        QFETCH(int, asked);
        QTemporaryDir tmp;
        const Files files{
            {"top.txt", "top"}, {"data_qmx/ledgra2.mdb", QByteArray(70000, 'L')}, {"data_qmx/deep/x.dat", "deep"}};
        WriteAll(tmp.filePath("src"), files);
        QCOMPARE(
            Exec("zip", zipOptions + QStringList{"-r", "-q", tmp.filePath("f.zip"), "."}, tmp.filePath("src")).first,
            0);
        for (const QString& a : answers)
            calls.passwords.push_back(S(a));
        const bool ok = zipOptions.isEmpty() || !answers.isEmpty();
        QCOMPARE(Extract(tmp.filePath("f.zip"), tmp.filePath("x"), folders) == 0, ok);
        QCOMPARE(calls.passwordSizes, QList<int>(asked, 81));
        Files expected;
        for (auto it = files.cbegin(); ok && it != files.cend(); ++it)
            expected[folders ? it.key() : QFileInfo(it.key()).fileName()] = it.value();
        QCOMPARE(Snapshot(tmp.filePath("x")), expected);
        QCOMPARE(Printed("needs a password"), !ok);
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
                              {"..", ""}}));
        for (const QString& dir : {tmp.filePath("in/x"), tmp.filePath("in/flat")}) {
            QVERIFY(Extract(zip, dir, dir.endsWith("x")) != 0);
            for (const QString& f : Snapshot(tmp.path()).keys())
                QVERIFY2(f.startsWith("in/x/") || f.startsWith("in/flat/") || f == "in/evil.zip", qPrintable(f));
            QVERIFY(!QFileInfo(dir + "/link").exists() && !QFileInfo(dir + "/link").isSymLink());
        }
        QCOMPARE(Snapshot(tmp.filePath("in/flat")).keys(),
                 (QStringList{"abs.txt", "back.txt", "drive.txt", "up.txt", "y.txt"}));
        QCOMPARE(ReadFile(tmp.filePath("in/x/a/back.txt")), QByteArray("4"));
        QVERIFY(Printed("symbolic link"));
    }

    void entriesNeverOverwriteTheArchiveOrEachOther() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("tova"), archive = dir + "/FIXED.ZIP";
        QVERIFY(MakeZip(
            archive,
            {{"d.txt", "first"}, {"D.TXT", "second"}, {"sub/d.txt", "third"}, {"FIXED.ZIP", "junk"}, {"e.txt", "e"}}));
        const QByteArray before = ReadFile(archive);
        QVERIFY(Extract(archive, dir, false) != 0);
        QCOMPARE(Snapshot(dir), (Files{{"FIXED.ZIP", before}, {"d.txt", "first"}, {"e.txt", "e"}}));
        QVERIFY(Printed("would overwrite"));
    }

    void overwriteAnswersAreHonoured() {
        QTemporaryDir tmp;
        QVERIFY(MakeZip(tmp.filePath("f.zip"),
                        {{"a", "new a"}, {"b", "new b"}, {"c", "new c"}, {"d", "new d"}, {"n", "new n"}}));
        const QString dir = tmp.filePath("x");
        WriteAll(dir, {{"a", "old"}, {"b", "old"}, {"c", "old"}, {"d", "old"}});
        calls.replaceAnswers = {IDM_REPLACE_NO, IDM_REPLACE_YES, IDM_REPLACE_NONE};
        QCOMPARE(Extract(tmp.filePath("f.zip"), dir, true, false), 0);
        QCOMPARE(calls.replaceAsked, (QStringList{dir + "/a", dir + "/b", dir + "/c"})); // none after 104
        QCOMPARE(Snapshot(dir), (Files{{"a", "old"}, {"b", "new b"}, {"c", "old"}, {"d", "old"}, {"n", "new n"}}));
        calls.replaceAsked.clear();
        QCOMPARE(Extract(tmp.filePath("f.zip"), dir), 0); // overwriting without asking
        QVERIFY(calls.replaceAsked.isEmpty());
        QCOMPARE(ReadFile(dir + "/a"), QByteArray("new a"));
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
            QVERIFY2(Extract(tmp.filePath(zip), tmp.filePath("x")) != 0, zip);
        QVERIFY(Printed("damaged"));
        QCOMPARE(Snapshot(tmp.filePath("x")), Files());
    }
};

QTEST_GUILESS_MAIN(tst_ZipEngine)
#include "tst_ZipEngine.moc"
