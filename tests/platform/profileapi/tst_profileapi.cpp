#include "platform/profileapi/ProfileApi.h"
#include "profile/WLM_CIni.h"
#include "support/TestFiles.h"

#include <QtTest>

#include <cctype>
#include <string_view>
#include <vector>

using namespace std::literals;
using namespace testsupport;
using profileapi::DWORD;

namespace {

constexpr DWORD OK = winapi::ERROR_SUCCESS, NF = winapi::ERROR_FILE_NOT_FOUND, MORE = winapi::ERROR_MORE_DATA;

const char* const kSample = "; leading comment\ntop=outside any section\n[Paths]\nDataPath =  C:\\TOVA\\DATA\\  \n"
                            "  Quoted = \"  spaced  \"\nSingle='x'\nMixed=\"abc'\nEmpty=\nEq=a=b=c\n;Hidden=1\n"
                            "   ; Indented=1\nBare line\nDup=first\nDup=second\n\n[ General Information ]\n"
                            "dbpath=C:\\LEDGRA\n[E]\n[paths]\nDup=other section\n";

// One value read into a buffer of `size`: what the buffer then holds before its NUL (the default "dflt" when
// nothing is found), and the last error. "none.ini" as the section reads a missing file.
const struct {
    const char *tag, *section, *key;
    DWORD size;
    std::string_view expected;
    DWORD error;
} kReads[] = {
    {"names without case, blanks trimmed", "paths", "DATAPATH", 255, "C:\\TOVA\\DATA\\", OK},
    {"double quotes lost, inner blanks kept", "PATHS", "quoted", 255, "  spaced  ", OK},
    {"single quotes lost", "Paths", "Single", 255, "x", OK},
    {"unmatched quotes kept", "Paths", "Mixed", 255, "\"abc'", OK},
    {"empty value found", "Paths", "Empty", 255, "", OK},
    {"= inside the value", "Paths", "Eq", 255, "a=b=c", OK},
    {"commented key", "Paths", "Hidden", 255, "dflt", NF},
    {"indented comment", "Paths", "Indented", 255, "dflt", NF},
    {"bare line is a key without value", "Paths", "Bare line", 255, "", OK},
    {"first of duplicate keys and sections", "Paths", "Dup", 255, "first", OK},
    {"section name trimmed", "General Information", "dbpath", 255, "C:\\LEDGRA", OK},
    {"key before any section", "Paths", "top", 255, "dflt", NF},
    {"missing key", "General Information", "ProgramName", 255, "dflt", NF},
    {"missing section", "Nowhere", "DataPath", 255, "dflt", NF},
    {"key of another section", "E", "dbpath", 255, "dflt", NF},
    {"value fills the buffer", "Paths", "Eq", 6, "a=b=c", OK},
    {"value truncated", "Paths", "Eq", 5, "a=b=", MORE},
    {"value into one character", "Paths", "Eq", 1, "", MORE},
    {"missing file gives the default", "none.ini", "DataPath", 255, "dflt", NF}, // without its trailing blanks
};

// One write into p.ini holding `before` (nullptr: no file) and the file it leaves (nullptr: none), or the error it
// fails with, leaving the folder as it was. how: lower case writes a key (a NULL value is an empty view), upper case
// a whole section; into 'p' p.ini, 'r' p.ini read-only, 'm' a missing folder, 'd' a folder, 'f' a full disk.
const char* const kKeep = "; c\n[A]\none=1\n; two\n  two = 2\n\n[B]\nx=y\n";
const char* const kCrlf = "; c\r\n[A]\r\nold=1\r\n; old\r\nolder=2\r\n\r\n[B]\r\nx=y\r\n";
constexpr DWORD BAD = winapi::ERROR_INVALID_PARAMETER, DENIED = winapi::ERROR_ACCESS_DENIED;
const struct {
    const char *tag, *before;
    char how;
    const char *section, *key;
    std::string_view value;
    const char* after;
    DWORD error;
} kWrites[] = {
    {"creates file and section", nullptr, 'p', "Paths", "DataPath", "C:\\x\\", "[Paths]\r\nDataPath=C:\\x\\\r\n", OK},
    {"new section after a blank", "[P]\r\nk=x\r\n", 'p', "O", "k", "v", "[P]\r\nk=x\r\n\r\n[O]\r\nk=v\r\n", OK},
    {"value replaced", kKeep, 'p', "a", "TWO", "22", "; c\n[A]\none=1\n; two\ntwo=22\n\n[B]\nx=y\n", OK},
    {"new key before the blank", kKeep, 'p', "A", "3", "3", "; c\n[A]\none=1\n; two\n  two = 2\n3=3\n\n[B]\nx=y\n", OK},
    {"deletes a key", kKeep, 'p', "A", "ONE", {}, "; c\n[A]\n; two\n  two = 2\n\n[B]\nx=y\n", OK},
    {"deletes a section", kKeep, 'p', "b", nullptr, {}, "; c\n[A]\none=1\n; two\n  two = 2\n\n", OK},
    {"BOM, CRLF, no final break", "\xEF\xBB\xBF[A]\r\nk=1", 'p', "A", "m", "2", "\xEF\xBB\xBF[A]\r\nk=1\r\nm=2\r\n",
     OK},
    {"deleting a missing key", kKeep, 'p', "A", "other", {}, kKeep, OK},
    {"deleting a missing section", kKeep, 'p', "Z", nullptr, {}, kKeep, OK},
    {"deleting from a missing file", nullptr, 'p', "A", "k", {}, nullptr, OK},
    {"section replaced", kCrlf, 'P', "a", nullptr, "n=v\0m=a=b\0"sv, "; c\r\n[A]\r\nn=v\r\nm=a=b\r\n\r\n[B]\r\nx=y\r\n",
     OK},
    {"section emptied", kCrlf, 'P', "B", nullptr, "", "; c\r\n[A]\r\nold=1\r\n; old\r\nolder=2\r\n\r\n[B]\r\n", OK},
    {"section appended", kCrlf, 'P', "New", nullptr, "k=v\0"sv,
     "; c\r\n[A]\r\nold=1\r\n; old\r\nolder=2\r\n\r\n[B]\r\nx=y\r\n\r\n[New]\r\nk=v\r\n", OK},
    // Names and values that would not read back as written.
    {"line break in value", kCrlf, 'p', "A", "k", "1\r\n[Evil]\r\nx=y", kCrlf, BAD},
    {"= in key", kCrlf, 'p', "A", "a=b", "v", kCrlf, BAD},
    {"line break in section", kCrlf, 'p', "A\n[B", "k", "v", kCrlf, BAD},
    {"] in section", kCrlf, 'p', "A]", "k", "v", kCrlf, BAD},
    {"key read as comment", kCrlf, 'p', "A", ";k", "v", kCrlf, BAD},
    {"NULL section with a key", kCrlf, 'p', nullptr, "k", "v", kCrlf, BAD},
    {"line break in section line", kCrlf, 'P', "A", nullptr, "k=1\nx\0"sv, kCrlf, BAD},
    {"header in section line", kCrlf, 'P', "A", nullptr, "[B]\0"sv, kCrlf, BAD},
    {"missing folder", nullptr, 'm', "A", "k", "v", nullptr, winapi::ERROR_PATH_NOT_FOUND},
    {"section into missing folder", nullptr, 'M', "A", nullptr, "k=v\0"sv, nullptr, winapi::ERROR_PATH_NOT_FOUND},
    {"read-only file", kCrlf, 'r', "A", "k", "2", kCrlf, DENIED},
    {"section into read-only file", kCrlf, 'R', "A", nullptr, "k=2\0"sv, kCrlf, DENIED},
    {"folder in the file's place", nullptr, 'd', "A", "k", "2", nullptr, DENIED},
    {"disk full", kCrlf, 'f', "A", "k", "", kCrlf, winapi::ERROR_DISK_FULL},
};

} // namespace

class tst_profileapi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void read_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("crlf");
        for (bool crlf : {false, true})
            for (int i = 0; i < int(std::size(kReads)); ++i)
                QTest::addRow("%s %s", crlf ? "CRLF" : "LF", kReads[i].tag) << i << crlf;
    }
    void read() {
        QFETCH(int, row);
        QFETCH(bool, crlf);
        const auto& r = kReads[row];
        QTemporaryDir tmp;
        // Stored as P.INI: the file name matches without regard to case, as on Windows.
        WriteFile(tmp.filePath("P.INI"), crlf ? QByteArray(kSample).replace("\n", "\r\n") : QByteArray(kSample));
        const bool missing = r.section == std::string_view("none.ini");
        const std::string file = Win(tmp.filePath(missing ? "none.ini" : "p.ini"));
        std::vector<char> buffer(r.size, '#');
        winapi::SetLastError(99);
        const DWORD n = profileapi::GetPrivateProfileStringA(missing ? "Paths" : r.section, r.key, "dflt  ",
                                                             buffer.data(), r.size, file.c_str());
        const QByteArray expected = QByteArray(r.expected.data(), qsizetype(r.expected.size())) + '\0';
        QCOMPARE(QByteArray(buffer.data(), qMin(qsizetype(r.size), expected.size())), expected);
        QCOMPARE(n, DWORD(r.expected.size()));
        QCOMPARE(winapi::GetLastError(), r.error);
    }
    void write_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kWrites)); ++i)
            QTest::newRow(kWrites[i].tag) << i;
    }
    void write() {
        QFETCH(int, row);
        const auto& w = kWrites[row];
        QTemporaryDir tmp;
        const QString path = tmp.filePath("p.ini");
        if (w.before)
            WriteFile(path, w.before);
        const char target = char(std::tolower(w.how));
        if (target == 'r')
            QVERIFY(MakeReadOnly(path));
        if (target == 'd')
            QVERIFY(QDir(tmp.path()).mkdir("p.ini"));
        const std::string file = Win(target == 'm' ? tmp.filePath("no/p.ini") : path), big(std::size_t(64) << 10, 'v');
        const char* value = target == 'f' ? big.c_str() : w.value.data();

        winapi::SetLastError(99);
        winapi::BOOL ok = winapi::FALSE;
        auto write = [&] {
            ok = std::isupper(w.how) ? profileapi::WritePrivateProfileSectionA(w.section, value, file.c_str())
                                     : profileapi::WritePrivateProfileStringA(w.section, w.key, value, file.c_str());
        };
        if (target != 'f')
            write();
        else if (!WithFileSizeLimit(4096, write))
            QSKIP("this system has no limit on a file's size to stand in for a full disk");
        QCOMPARE(ok, w.error == OK ? winapi::TRUE : winapi::FALSE);
        QCOMPARE(winapi::GetLastError(), w.error);
        // Written in one step: no temporary file stays beside it.
        QCOMPARE(Entries(tmp.path()), w.after || target == 'd' ? QStringList{"p.ini"} : QStringList{});
        if (w.after)
            QCOMPARE(ReadFile(path), QByteArray(w.after));
    }
    void theClassReadsAndWrites() {
        QTemporaryDir tmp;
        const QString path = tmp.filePath("p.ini");
        WriteFile(path, "; keep me\r\n[Paths]\r\nDataPath=old\r\nEmpty=\r\nLong=" + QByteArray(300, 'L') + "\r\n");
        WLM_CIni ini;
        std::string value = "kept";
        // No file name: every call fails, with that said, and touches nothing.
        QVERIFY(!ini.ReadValue("Paths", "DataPath", value) && !ini.WriteValue("Paths", "DataPath", "v"));
        QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
        QCOMPARE(value, std::string("kept"));

        ini.SetFileName(Win(path));
        QVERIFY(ini.ReadValue("paths", "LONG", value));
        QCOMPARE(value, std::string(254, 'L'));
        // Nothing found leaves the value as it was.
        const auto missed = [&](const char* key, const char* description) {
            value = "unchanged";
            return !ini.ReadValue("Paths", key, value) && value == "unchanged" &&
                   ini.LastErrorDescription() == description;
        };
        QVERIFY(missed("Missing", "The system cannot find the file specified.\r\n"));
        QVERIFY(missed("Empty", "An unknown error has occured"));

        // A failed write keeps the file; later successes keep the last failure's text.
        QVERIFY(MakeReadOnly(path));
        QVERIFY(!ini.WriteValue("Paths", "DataPath", "x") && ini.ReadValue("Paths", "DataPath", value));
        QCOMPARE(value, std::string("old"));
        QCOMPARE(ini.LastErrorDescription(), std::string("Access is denied.\r\n"));
    }

    void theCodePageAtTheBoundary() {
        // The products' profiles are in the ANSI code page (Windows-1252 here), a file with the UTF-8 mark in
        // UTF-8; the program's text is UTF-8 either way, and a write keeps the file's encoding.
#ifdef _WIN32
        const QByteArray ansi = "caf\xE9";
#else
        const QByteArray ansi = "caf\xC3\xA9"; // no code page but UTF-8 on this system
#endif
        const std::string utf8 = "caf\xC3\xA9";
        QTemporaryDir tmp;
        for (const QByteArray& mark : {QByteArray(), QByteArray("\xEF\xBB\xBF")}) {
            const QString path = tmp.filePath("p.ini");
            WriteFile(path, mark + "[S]\r\nk=" + (mark.isEmpty() ? ansi : QByteArray::fromStdString(utf8)) + "\r\n");
            WLM_CIni ini;
            ini.SetFileName(Win(path));
            std::string value;
            QVERIFY(ini.ReadValue("S", "k", value));
            QCOMPARE(value, utf8);
            QVERIFY(ini.WriteValue("S", "m", utf8));
            const QByteArray stored = mark.isEmpty() ? ansi : QByteArray::fromStdString(utf8);
            QCOMPARE(ReadFile(path), mark + "[S]\r\nk=" + stored + "\r\nm=" + stored + "\r\n");
        }
    }
};

QTEST_GUILESS_MAIN(tst_profileapi)
#include "tst_profileapi.moc"
