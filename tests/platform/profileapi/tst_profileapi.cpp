#include "platform/profileapi/ProfileApi.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <string_view>
#include <vector>

using namespace std::literals;
using namespace testsupport;
using profileapi::DWORD;

namespace {

constexpr DWORD OK = winapi::ERROR_SUCCESS, NF = winapi::ERROR_FILE_NOT_FOUND, MORE = winapi::ERROR_MORE_DATA;

const char* const kSample = "; leading comment\n"
                            "top=outside any section\n"
                            "[Paths]\n"
                            "DataPath =  C:\\TOVA\\DATA\\  \n"
                            "  Quoted = \"  spaced  \"\n"
                            "Single='x'\n"
                            "Mixed=\"abc'\n"
                            "Empty=\n"
                            "Eq=a=b=c\n"
                            ";Hidden=1\n"
                            "   ; Indented=1\n"
                            "Bare line\n"
                            "Dup=first\n"
                            "Dup=second\n"
                            "\n"
                            "[ General Information ]\n"
                            "dbpath=C:\\LEDGRA\n"
                            "[E]\n"
                            "[paths]\n"
                            "Dup=other section\n";

// kind: 'v' GetPrivateProfileStringA (a list for a NULL section or key), 's' a section, 'n' the section names.
// `expected` is what the buffer starts with before its final NUL; a count of -1 is its length.
const struct {
    const char* tag;
    char kind;
    const char *file, *section, *key;
    DWORD size;
    std::string_view expected;
    int count;
    DWORD error;
} kReads[] = {
    {"names without case, blanks trimmed", 'v', "p.ini", "paths", "DATAPATH", 255, "C:\\TOVA\\DATA\\", -1, OK},
    {"double quotes lost, inner blanks kept", 'v', "p.ini", "PATHS", "quoted", 255, "  spaced  ", -1, OK},
    {"single quotes lost", 'v', "p.ini", "Paths", "Single", 255, "x", -1, OK},
    {"unmatched quotes kept", 'v', "p.ini", "Paths", "Mixed", 255, "\"abc'", -1, OK},
    {"empty value found", 'v', "p.ini", "Paths", "Empty", 255, "", -1, OK},
    {"= inside the value", 'v', "p.ini", "Paths", "Eq", 255, "a=b=c", -1, OK},
    {"commented key", 'v', "p.ini", "Paths", "Hidden", 255, "dflt", -1, NF},
    {"indented comment", 'v', "p.ini", "Paths", "Indented", 255, "dflt", -1, NF},
    {"bare line is a key without value", 'v', "p.ini", "Paths", "Bare line", 255, "", -1, OK},
    {"first of duplicate keys and sections", 'v', "p.ini", "Paths", "Dup", 255, "first", -1, OK},
    {"section name trimmed", 'v', "p.ini", "General Information", "dbpath", 255, "C:\\LEDGRA", -1, OK},
    {"key before any section", 'v', "p.ini", "Paths", "top", 255, "dflt", -1, NF},
    {"missing key", 'v', "p.ini", "General Information", "ProgramName", 255, "dflt", -1, NF},
    {"missing section", 'v', "p.ini", "Nowhere", "DataPath", 255, "dflt", -1, NF},
    {"key of another section", 'v', "p.ini", "E", "dbpath", 255, "dflt", -1, NF},
    {"value fills the buffer", 'v', "p.ini", "Paths", "Eq", 6, "a=b=c", -1, OK},
    {"value truncated", 'v', "p.ini", "Paths", "Eq", 5, "a=b=", -1, MORE},
    {"value into one character", 'v', "p.ini", "Paths", "Eq", 1, "", -1, MORE},
    {"section names", 'n', "p.ini", nullptr, nullptr, 200, "Paths\0General Information\0E\0"sv, -1, OK},
    {"NULL section lists names", 'v', "p.ini", nullptr, "x", 200, "Paths\0General Information\0E\0"sv, -1, OK},
    {"section names truncated", 'n', "p.ini", nullptr, nullptr, 10, "Paths\0Ge\0"sv, 8, MORE},
    {"key names", 'v', "p.ini", "PATHS", nullptr, 200, "DataPath\0Quoted\0Single\0Mixed\0Empty\0Eq\0Bare line\0Dup\0"sv,
     -1, OK},
    {"key names truncated", 'v', "p.ini", "Paths", nullptr, 12, "DataPath\0Q\0"sv, 10, MORE},
    {"key names of missing section", 'v', "p.ini", "Nowhere", nullptr, 200, "\0"sv, 0, NF},
    // Lines as stored, trimmed around names and values; quotes kept; comments left out.
    {"section", 's', "p.ini", "paths", nullptr, 500,
     "DataPath=C:\\TOVA\\DATA\\\0Quoted=\"  spaced  \"\0Single='x'\0Mixed=\"abc'\0Empty=\0Eq=a=b=c\0"
     "Bare line\0Dup=first\0Dup=second\0"sv,
     -1, OK},
    {"section truncated", 's', "p.ini", "Paths", nullptr, 30, "DataPath=C:\\TOVA\\DATA\\\0Quote\0"sv, 28, MORE},
    {"empty section", 's', "p.ini", "E", nullptr, 100, "\0"sv, 0, OK},
    {"missing section's lines", 's', "p.ini", "Nowhere", nullptr, 100, "\0"sv, 0, NF},
    // The platform drops the default's trailing blanks.
    {"missing file gives default", 'v', "none.ini", "Paths", "DataPath", 255, "dflt", -1, NF},
    {"missing folder gives default", 'v', "no\\none.ini", "Paths", "DataPath", 255, "dflt", -1, NF},
    {"section of missing file", 's', "none.ini", "Paths", nullptr, 100, "\0"sv, 0, NF},
    {"names of missing file", 'n', "none.ini", nullptr, nullptr, 100, "\0"sv, 0, NF},
};

// One write and the file it leaves (nullptr: no file). A NULL value is an empty string_view.
const char* const kKeep = "; settings\n[A]\none=1\n; note about two\n  two = 2\n\n[B]\nx=y\n";
const char* const kCrlf = "; top\r\n[A]\r\nold=1\r\n; about old\r\nolder=2\r\n\r\n[B]\r\nx=y\r\n";
const struct {
    const char* tag;
    const char* before;
    bool wholeSection;
    const char *section, *key;
    std::string_view value;
    const char* after;
} kWrites[] = {
    {"creates file and section", nullptr, false, "Paths", "DataPath", "C:\\x\\", "[Paths]\r\nDataPath=C:\\x\\\r\n"},
    {"appends a section after a blank line", "[P]\r\nk=x\r\n", false, "Other", "k", "v",
     "[P]\r\nk=x\r\n\r\n[Other]\r\nk=v\r\n"},
    {"replaces a value, keeps comments", kKeep, false, "a", "TWO", "22",
     "; settings\n[A]\none=1\n; note about two\ntwo=22\n\n[B]\nx=y\n"},
    {"new key before the blank line", kKeep, false, "A", "three", "3",
     "; settings\n[A]\none=1\n; note about two\n  two = 2\nthree=3\n\n[B]\nx=y\n"},
    {"deletes a key", kKeep, false, "A", "ONE", {}, "; settings\n[A]\n; note about two\n  two = 2\n\n[B]\nx=y\n"},
    {"deletes a section", kKeep, false, "b", nullptr, {}, "; settings\n[A]\none=1\n; note about two\n  two = 2\n\n"},
    {"keeps BOM and CRLF, ends the last line", "\xEF\xBB\xBF[A]\r\nk=1", false, "A", "m", "2",
     "\xEF\xBB\xBF[A]\r\nk=1\r\nm=2\r\n"},
    {"deleting a missing key", kKeep, false, "A", "other", {}, kKeep},
    {"deleting a missing section", kKeep, false, "Z", nullptr, {}, kKeep},
    {"deleting from a missing file", nullptr, false, "A", "k", {}, nullptr},
    {"deleting a section of a missing file", nullptr, false, "A", nullptr, {}, nullptr},
    {"section replaced", kCrlf, true, "a", nullptr, "n1=v1\0n2=a=b\0"sv,
     "; top\r\n[A]\r\nn1=v1\r\nn2=a=b\r\n\r\n[B]\r\nx=y\r\n"},
    {"section emptied", kCrlf, true, "B", nullptr, "",
     "; top\r\n[A]\r\nold=1\r\n; about old\r\nolder=2\r\n\r\n[B]\r\n"},
    {"section appended", kCrlf, true, "New", nullptr, "k=v\0"sv,
     "; top\r\n[A]\r\nold=1\r\n; about old\r\nolder=2\r\n\r\n[B]\r\nx=y\r\n\r\n[New]\r\nk=v\r\n"},
};

// Writes that must fail and leave p.ini (and the folder) as they were. setup: 'r' p.ini read-only, 'f' disk full.
const struct {
    const char* tag;
    const char* file;
    char setup;
    bool wholeSection;
    const char *section, *key;
    std::string_view value;
    DWORD error;
} kFailures[] = {
    {"line break in value", "p.ini", 0, false, "A", "k", "1\r\n[Evil]\r\nx=y", winapi::ERROR_INVALID_PARAMETER},
    {"= in key", "p.ini", 0, false, "A", "a=b", "v", winapi::ERROR_INVALID_PARAMETER},
    {"line break in section", "p.ini", 0, false, "A\n[B", "k", "v", winapi::ERROR_INVALID_PARAMETER},
    {"] in section", "p.ini", 0, false, "A]", "k", "v", winapi::ERROR_INVALID_PARAMETER},
    {"empty section", "p.ini", 0, false, "", "k", "v", winapi::ERROR_INVALID_PARAMETER},
    {"empty key", "p.ini", 0, false, "A", "", "v", winapi::ERROR_INVALID_PARAMETER},
    {"key read as comment", "p.ini", 0, false, "A", ";k", "v", winapi::ERROR_INVALID_PARAMETER},
    {"key read as header", "p.ini", 0, false, "A", "[k]", "v", winapi::ERROR_INVALID_PARAMETER},
    {"NULL section with a key", "p.ini", 0, false, nullptr, "k", "v", winapi::ERROR_INVALID_PARAMETER},
    {"line break in section line", "p.ini", 0, true, "A", nullptr, "k=1\nx\0"sv, winapi::ERROR_INVALID_PARAMETER},
    {"header in section line", "p.ini", 0, true, "A", nullptr, "[B]\0"sv, winapi::ERROR_INVALID_PARAMETER},
    {"missing folder", "nofolder\\p.ini", 0, false, "A", "k", "v", winapi::ERROR_PATH_NOT_FOUND},
    {"section into missing folder", "nofolder\\p.ini", 0, true, "A", nullptr, "k=v\0"sv, winapi::ERROR_PATH_NOT_FOUND},
    {"read-only file", "p.ini", 'r', false, "A", "k", "2", winapi::ERROR_ACCESS_DENIED},
    {"section into read-only file", "p.ini", 'r', true, "A", nullptr, "k=2\0"sv, winapi::ERROR_ACCESS_DENIED},
    {"folder in the file's place", "folder.ini", 0, false, "A", "k", "2", winapi::ERROR_ACCESS_DENIED},
    {"disk full", "p.ini", 'f', false, "A", "k", "", winapi::ERROR_DISK_FULL},
};

} // namespace

class tst_profileapi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void read_data();
    void read();
    void fileNameLookup();
    void write_data();
    void write();
    void writeFailures_data();
    void writeFailures();
    void formatMessage();
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
    WriteFile(tmp.filePath("p.ini"), crlf ? QByteArray(kSample).replace("\n", "\r\n") : QByteArray(kSample));
    const std::string file = Win(tmp.filePath(r.file));
    std::vector<char> buffer(r.size, '#');
    winapi::SetLastError(99);
    DWORD n = r.kind == 's'   ? profileapi::GetPrivateProfileSectionA(r.section, buffer.data(), r.size, file.c_str())
              : r.kind == 'n' ? profileapi::GetPrivateProfileSectionNamesA(buffer.data(), r.size, file.c_str())
                              : profileapi::GetPrivateProfileStringA(r.section, r.key, "dflt  ", buffer.data(), r.size,
                                                                     file.c_str());
    const QByteArray expected = QByteArray(r.expected.data(), qsizetype(r.expected.size())) + '\0';
    QCOMPARE(QByteArray(buffer.data(), qMin(qsizetype(r.size), expected.size())), expected);
    QCOMPARE(n, r.count < 0 ? DWORD(r.expected.size()) : DWORD(r.count));
    QCOMPARE(winapi::GetLastError(), r.error);
}

void tst_profileapi::fileNameLookup() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("TOVACFG.INI"), "[Paths]\r\nDataPath=D:\\T\\\r\n");
    char buffer[255];
    auto get = [&](const std::string& file) {
        return QByteArray(
            buffer, int(profileapi::GetPrivateProfileStringA("Paths", "DataPath", "", buffer, 255, file.c_str())));
    };
    // The file name matches without regard to case, as on Windows.
    QCOMPARE(get(Win(tmp.filePath("tovacfg.ini"))), QByteArray("D:\\T\\"));

    // A name without a folder lives in the Windows folder.
    const QByteArray oldWindir = qgetenv("WINDIR");
    qputenv("WINDIR", QByteArray::fromStdString(Win(tmp.path())));
    const QByteArray value = get("tovacfg.ini");
    const bool written = profileapi::WritePrivateProfileStringA("Paths", "Extra", "1", "tovacfg.ini");
    oldWindir.isNull() ? qunsetenv("WINDIR") : qputenv("WINDIR", oldWindir);
    QCOMPARE(value, QByteArray("D:\\T\\"));
    QVERIFY(written);
    QCOMPARE(ReadFile(tmp.filePath("TOVACFG.INI")), QByteArray("[Paths]\r\nDataPath=D:\\T\\\r\nExtra=1\r\n"));
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
    const std::string file = Win(path);
    winapi::SetLastError(99);
    QCOMPARE(w.wholeSection ? profileapi::WritePrivateProfileSectionA(w.section, w.value.data(), file.c_str())
                            : profileapi::WritePrivateProfileStringA(w.section, w.key, w.value.data(), file.c_str()),
             winapi::TRUE);
    QCOMPARE(winapi::GetLastError(), OK);
    // Written in one step: no temporary file stays beside it.
    QCOMPARE(Entries(tmp.path()), w.after ? QStringList{"p.ini"} : QStringList{});
    if (w.after)
        QCOMPARE(ReadFile(path), QByteArray(w.after));
}

void tst_profileapi::writeFailures_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kFailures)); ++i)
        QTest::newRow(kFailures[i].tag) << i;
}

void tst_profileapi::writeFailures() {
    QFETCH(int, row);
    const auto& f = kFailures[row];
    QTemporaryDir tmp;
    const QByteArray original("[A]\r\nk=1\r\n[B]\r\nz=2\r\n");
    WriteFile(tmp.filePath("p.ini"), original);
    QVERIFY(QDir(tmp.path()).mkdir("folder.ini"));
    if (f.setup == 'r')
        QVERIFY(QFile::setPermissions(tmp.filePath("p.ini"), QFile::ReadOwner | QFile::ReadGroup));
    const std::string file = Win(tmp.filePath(f.file)), big(64 * 1024, 'v');
    const char* value = f.setup == 'f' ? big.c_str() : f.value.data();

    winapi::SetLastError(0);
    winapi::BOOL ok = winapi::TRUE;
    auto write = [&] {
        ok = f.wholeSection ? profileapi::WritePrivateProfileSectionA(f.section, value, file.c_str())
                            : profileapi::WritePrivateProfileStringA(f.section, f.key, value, file.c_str());
    };
    f.setup == 'f' ? WithFileSizeLimit(4096, write) : write();
    QCOMPARE(ok, winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), f.error);
    QCOMPARE(ReadFile(tmp.filePath("p.ini")), original);
    QCOMPARE(Entries(tmp.path()), (QStringList{"folder.ini", "p.ini"}));
}

void tst_profileapi::formatMessage() {
    const std::pair<DWORD, const char*> texts[] = {
        {2, "The system cannot find the file specified."},
        {3, "The system cannot find the path specified."},
        {5, "Access is denied."},
        {80, "The file exists."},
        {87, "The parameter is incorrect."},
        {112, "There is not enough space on the disk."},
        {122, "The data area passed to a system call is too small."},
        {234, "More data is available."},
    };
    char buffer[255];
    for (const auto& [id, text] : texts) {
        std::memset(buffer, '#', sizeof buffer);
        const QByteArray expected = QByteArray(text) + "\r\n";
        const DWORD n = profileapi::FormatMessageA(0x1200, nullptr, id, 0, buffer, sizeof buffer, nullptr);
        QCOMPARE(QByteArray(buffer, qMin(int(n) + 1, 255)), expected + '\0');
    }
    const struct {
        DWORD flags, id, size, error;
    } failures[] = {{0x1200, 99999, 255, profileapi::ERROR_MR_MID_NOT_FOUND},
                    {0x1200, 2, 10, winapi::ERROR_INSUFFICIENT_BUFFER},
                    {profileapi::FORMAT_MESSAGE_FROM_STRING, 2, 255, winapi::ERROR_INVALID_PARAMETER}};
    for (const auto& f : failures) {
        winapi::SetLastError(0);
        QCOMPARE(profileapi::FormatMessageA(f.flags, "x", f.id, 0, buffer, f.size, nullptr), DWORD(0));
        QCOMPARE(winapi::GetLastError(), f.error);
    }
}

QTEST_GUILESS_MAIN(tst_profileapi)
#include "tst_profileapi.moc"
