#include "platform/profileapi/ProfileApi.h"
#include "profile/WLM_CIni.h"
#include "support/Files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cctype>
#include <string_view>
#include <vector>

using namespace std::literals;
using namespace testsupport;
using profileapi::DWORD;
using Strings = std::vector<std::string>;

namespace {

constexpr DWORD OK = winapi::ERROR_SUCCESS, NF = winapi::ERROR_FILE_NOT_FOUND, MORE = winapi::ERROR_MORE_DATA;

const char* const kSample = "; leading comment\ntop=outside any section\n[Paths]\nDataPath =  C:\\TOVA\\DATA\\  \n"
                            "  Quoted = \"  spaced  \"\nSingle='x'\nMixed=\"abc'\nEmpty=\nEq=a=b=c\n;Hidden=1\n"
                            "   ; Indented=1\nBare line\nDup=first\nDup=second\n\n[ General Information ]\n"
                            "dbpath=C:\\LEDGRA\n[E]\n[paths]\nDup=other section\n";

// kind: 'v' GetPrivateProfileStringA (a list for a NULL section or key), 's' a section, 'n' the section names; upper
// case reads a missing file. `expected` is what the buffer starts with before its final NUL; count -1 is its length.
const struct {
    const char *tag, *section, *key;
    char kind;
    DWORD size;
    std::string_view expected;
    int count;
    DWORD error;
} kReads[] = {
    {"names without case, blanks trimmed", "paths", "DATAPATH", 'v', 255, "C:\\TOVA\\DATA\\", -1, OK},
    {"double quotes lost, inner blanks kept", "PATHS", "quoted", 'v', 255, "  spaced  ", -1, OK},
    {"single quotes lost", "Paths", "Single", 'v', 255, "x", -1, OK},
    {"unmatched quotes kept", "Paths", "Mixed", 'v', 255, "\"abc'", -1, OK},
    {"empty value found", "Paths", "Empty", 'v', 255, "", -1, OK},
    {"= inside the value", "Paths", "Eq", 'v', 255, "a=b=c", -1, OK},
    {"commented key", "Paths", "Hidden", 'v', 255, "dflt", -1, NF},
    {"indented comment", "Paths", "Indented", 'v', 255, "dflt", -1, NF},
    {"bare line is a key without value", "Paths", "Bare line", 'v', 255, "", -1, OK},
    {"first of duplicate keys and sections", "Paths", "Dup", 'v', 255, "first", -1, OK},
    {"section name trimmed", "General Information", "dbpath", 'v', 255, "C:\\LEDGRA", -1, OK},
    {"key before any section", "Paths", "top", 'v', 255, "dflt", -1, NF},
    {"missing key", "General Information", "ProgramName", 'v', 255, "dflt", -1, NF},
    {"missing section", "Nowhere", "DataPath", 'v', 255, "dflt", -1, NF},
    {"key of another section", "E", "dbpath", 'v', 255, "dflt", -1, NF},
    {"value fills the buffer", "Paths", "Eq", 'v', 6, "a=b=c", -1, OK},
    {"value truncated", "Paths", "Eq", 'v', 5, "a=b=", -1, MORE},
    {"value into one character", "Paths", "Eq", 'v', 1, "", -1, MORE},
    {"section names", nullptr, nullptr, 'n', 200, "Paths\0General Information\0E\0"sv, -1, OK},
    {"section names truncated", nullptr, nullptr, 'n', 10, "Paths\0Ge\0"sv, 8, MORE},
    {"key names", "PATHS", nullptr, 'v', 200, "DataPath\0Quoted\0Single\0Mixed\0Empty\0Eq\0Bare line\0Dup\0"sv, -1, OK},
    {"key names of missing section", "Nowhere", nullptr, 'v', 200, "\0"sv, 0, NF},
    // Lines as stored, trimmed around names and values; quotes kept; comments left out.
    {"section", "paths", nullptr, 's', 500,
     "DataPath=C:\\TOVA\\DATA\\\0Quoted=\"  spaced  \"\0Single='x'\0Mixed=\"abc'\0Empty=\0Eq=a=b=c\0"
     "Bare line\0Dup=first\0Dup=second\0"sv,
     -1, OK},
    {"section truncated", "Paths", nullptr, 's', 30, "DataPath=C:\\TOVA\\DATA\\\0Quote\0"sv, 28, MORE},
    {"empty section", "E", nullptr, 's', 100, "\0"sv, 0, OK},
    {"missing section's lines", "Nowhere", nullptr, 's', 100, "\0"sv, 0, NF},
    // The platform drops the default's trailing blanks.
    {"missing file gives default", "Paths", "DataPath", 'V', 255, "dflt", -1, NF},
    {"section of missing file", "Paths", nullptr, 'S', 100, "\0"sv, 0, NF},
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
    void read_data();
    void read();
    void nameWithoutFolder();
    void write_data();
    void write();
    void formatMessageFailures();
    // The profile class on top.
    void classReadsKeepOutputsOnFailure();
    void classListsOnlyWholeEntries_data();
    void classListsOnlyWholeEntries();
    void classWritesAndKeepsTheLastFailure();
};

void tst_profileapi::read_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("crlf");
    for (bool crlf : {false, true})
        for (int i = 0; i < int(std::size(kReads)); ++i)
            QTest::addRow("%s %s", crlf ? "CRLF" : "LF", kReads[i].tag) << i << crlf;
}

void tst_profileapi::read() {
    QFETCH(int, row);
    QFETCH(bool, crlf);
    const auto& r = kReads[row];
    QTemporaryDir tmp;
    // Stored as P.INI: the file name matches without regard to case, as on Windows.
    WriteFile(tmp.filePath("P.INI"), crlf ? QByteArray(kSample).replace("\n", "\r\n") : QByteArray(kSample));
    const std::string file = Win(tmp.filePath(std::isupper(r.kind) ? "none.ini" : "p.ini"));
    std::vector<char> buffer(r.size, '#');
    winapi::SetLastError(99);
    DWORD n = std::tolower(r.kind) == 's'
                  ? profileapi::GetPrivateProfileSectionA(r.section, buffer.data(), r.size, file.c_str())
              : r.kind == 'n' ? profileapi::GetPrivateProfileSectionNamesA(buffer.data(), r.size, file.c_str())
                              : profileapi::GetPrivateProfileStringA(r.section, r.key, "dflt  ", buffer.data(), r.size,
                                                                     file.c_str());
    const QByteArray expected = QByteArray(r.expected.data(), qsizetype(r.expected.size())) + '\0';
    QCOMPARE(QByteArray(buffer.data(), qMin(qsizetype(r.size), expected.size())), expected);
    QCOMPARE(n, r.count < 0 ? DWORD(r.expected.size()) : DWORD(r.count));
    QCOMPARE(winapi::GetLastError(), r.error);
}

void tst_profileapi::nameWithoutFolder() {
    // Such a name lives in the Windows folder.
    QTemporaryDir tmp;
    const QByteArray oldWindir = qgetenv("WINDIR");
    qputenv("WINDIR", QByteArray::fromStdString(Win(tmp.path())));
    const bool written = profileapi::WritePrivateProfileStringA("Paths", "Extra", "1", "tovacfg.ini");
    char buffer[8];
    const DWORD n = profileapi::GetPrivateProfileStringA("PATHS", "extra", "", buffer, 8, "TOVACFG.INI");
    oldWindir.isNull() ? qunsetenv("WINDIR") : qputenv("WINDIR", oldWindir);
    QVERIFY(written);
    QCOMPARE(QByteArray(buffer, int(n)), QByteArray("1"));
    QCOMPARE(Entries(tmp.path()), QStringList{"tovacfg.ini"});
}

void tst_profileapi::write_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kWrites)); ++i)
        QTest::newRow(kWrites[i].tag) << i;
}

void tst_profileapi::write() {
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
    const std::string file = Win(target == 'm' ? tmp.filePath("no/p.ini") : path), big(64 * 1024, 'v');
    const char* value = target == 'f' ? big.c_str() : w.value.data();

    winapi::SetLastError(99);
    winapi::BOOL ok = winapi::FALSE;
    auto write = [&] {
        ok = std::isupper(w.how) ? profileapi::WritePrivateProfileSectionA(w.section, value, file.c_str())
                                 : profileapi::WritePrivateProfileStringA(w.section, w.key, value, file.c_str());
    };
    target == 'f' ? WithFileSizeLimit(4096, write) : write();
    QCOMPARE(ok, w.error == OK ? winapi::TRUE : winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), w.error);
    // Written in one step: no temporary file stays beside it.
    QCOMPARE(Entries(tmp.path()), w.after || target == 'd' ? QStringList{"p.ini"} : QStringList{});
    if (w.after)
        QCOMPARE(ReadFile(path), QByteArray(w.after));
}

void tst_profileapi::formatMessageFailures() {
    char buffer[255];
    QCOMPARE(profileapi::FormatMessageA(0x1200, nullptr, 99999, 0, buffer, 255, nullptr), DWORD(0));
    QCOMPARE(winapi::GetLastError(), profileapi::ERROR_MR_MID_NOT_FOUND);
    QCOMPARE(profileapi::FormatMessageA(0x1200, nullptr, 2, 0, buffer, 10, nullptr), DWORD(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INSUFFICIENT_BUFFER);
    QCOMPARE(profileapi::FormatMessageA(profileapi::FORMAT_MESSAGE_FROM_STRING, "x", 2, 0, buffer, 255, nullptr),
             DWORD(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
}

void tst_profileapi::classReadsKeepOutputsOnFailure() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "; c\r\n[ Two ]\r\nfirst = 1\r\n[Bare]\r\nx=1\r\njust a line\r\ny=2\r\n[empty]\r\n"
                                     "[Values]\r\nEmpty=\r\nLong=" +
                                         QByteArray(300, 'L') + "\r\n");
    WLM_CIni ini;
    std::string value = "kept";
    Strings keys{"kept"}, values{"kept"}, names{"kept"};
    // No file name: every call fails, with that said, and touches nothing.
    QVERIFY(!ini.ReadValue("Two", "first", value) && !ini.ReadSection("Two", keys, values));
    QVERIFY(!ini.WriteValue("A", "k", "v") && !ini.WriteSection("A", {"k"}, {"v"}) && !ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
    QVERIFY(value == "kept" && keys == Strings{"kept"} && values == keys && names == keys);

    ini.SetFileName(Win(tmp.filePath("p.ini")));
    QVERIFY(ini.ReadValue("two", "FIRST", value));
    QCOMPARE(value, std::string("1"));
    QVERIFY(ini.ReadValue("Values", "Long", value));
    QCOMPARE(value, std::string(254, 'L'));
    // An entry without "=" is a key with an empty value, and the entries after it still come.
    QVERIFY(ini.ReadSection("Bare", keys, values) && ini.Enum_SectionNames(names));
    QVERIFY(keys == (Strings{"x", "just a line", "y"}) && values == (Strings{"1", "", "2"}));
    QCOMPARE(names, (Strings{"Two", "Bare", "empty", "Values"}));
    // Nothing found leaves the outputs as they were.
    const auto missed = [&](const char* section, const char* key, const char* description) {
        value = "unchanged";
        return !ini.ReadValue(section, key, value) && value == "unchanged" && ini.LastErrorDescription() == description;
    };
    const char* notFound = "The system cannot find the file specified.\r\n";
    QVERIFY(missed("Two", "Missing", notFound) && missed("Missing", "first", notFound));
    QVERIFY(missed("Values", "Empty", "An unknown error has occured"));
    QVERIFY(!ini.ReadSection("empty", keys, values) && !ini.ReadSection("Missing", keys, values));
    ini.SetFileName(Win(tmp.filePath("none.ini")));
    QVERIFY(missed("Two", "first", notFound) && !ini.Enum_SectionNames(names) && !ini.ReadSection("Two", keys, values));
    QVERIFY(keys == (Strings{"x", "just a line", "y"}) && names.size() == 4);
}

void tst_profileapi::classListsOnlyWholeEntries_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastExtra");
    QTest::addColumn<int>("expected");
    // 258 entries of 126 characters + NUL fill 32766 characters: the list with its final NUL fills the buffer.
    QTest::newRow("exactly full") << 258 << 0 << 258;
    QTest::newRow("one character over") << 258 << 1 << 257;
    QTest::newRow("far over") << 600 << 0 << 257;
    QTest::newRow("one entry longer than the buffer") << 1 << 40000 << 0;
}

void tst_profileapi::classListsOnlyWholeEntries() {
    QFETCH(int, count);
    QFETCH(int, lastExtra);
    QFETCH(int, expected);
    QTemporaryDir tmp;
    QByteArray text("[Big]\r\n");
    Strings wantKeys, wantValues;
    for (int i = 0; i < count; ++i) {
        wantKeys.push_back(QString::asprintf("k%05d", i).toStdString());
        wantValues.push_back(std::string(119 + (i == count - 1 ? lastExtra : 0), char('a' + i % 26)));
        text += QByteArray::fromStdString(wantKeys.back() + "=" + wantValues.back() + "\r\n");
    }
    wantKeys.resize(std::size_t(expected));
    wantValues.resize(std::size_t(expected));
    WriteFile(tmp.filePath("big.ini"), text + "[After]\r\nx=1\r\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("big.ini")));
    Strings keys{"kept"}, values{"kept"};
    QCOMPARE(ini.ReadSection("Big", keys, values), expected > 0);
    // An entry cut short by the buffer is left out, not returned damaged.
    QVERIFY(expected ? keys == wantKeys && values == wantValues : keys == values && values == Strings{"kept"});
    QCOMPARE(ini.LastErrorDescription(), std::string(expected ? "" : "More data is available.\r\n"));
}

void tst_profileapi::classWritesAndKeepsTheLastFailure() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    WriteFile(path, "; keep me\r\n[Paths]\r\nDataPath=old\r\n\r\n[B]\r\nx=y\r\n");
    WLM_CIni ini;
    ini.SetFileName(Win(path));
    QVERIFY(ini.WriteValue("paths", "datapath", "C:\\NEW\\") && ini.WriteValue("Paths", "Extra", "x=y"));
    const QByteArray written("; keep me\r\n[Paths]\r\nDataPath=C:\\NEW\\\r\nExtra=x=y\r\n\r\n[B]\r\nx=y\r\n");
    QCOMPARE(ReadFile(path), written);
    QVERIFY(!ini.WriteSection("B", {"k1", "k2"}, {"v1"}));
    QCOMPARE(ini.LastErrorDescription(), std::string("Key array and Value array must be of the same size"));
    QVERIFY(ini.WriteSection("b", {"k1", "k2"}, {"v1", "a=b"}));
    QCOMPARE(ReadFile(path), written.left(written.indexOf("[B]")) + "[B]\r\nk1=v1\r\nk2=a=b\r\n");
    QVERIFY(MakeReadOnly(path));
    const QByteArray before = ReadFile(path);
    QVERIFY(!ini.WriteValue("Paths", "DataPath", "x") && !ini.WriteSection("B", {"k"}, {"v"}));
    QCOMPARE(ReadFile(path), before);
    // Later successes keep the last failure's text.
    std::string value;
    QVERIFY(ini.ReadValue("Paths", "Extra", value) && value == "x=y");
    QCOMPARE(ini.LastErrorDescription(), std::string("Access is denied.\r\n"));
}

QTEST_GUILESS_MAIN(tst_profileapi)
#include "tst_profileapi.moc"
