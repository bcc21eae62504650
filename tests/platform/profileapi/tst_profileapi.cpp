#include "platform/profileapi/ProfileApi.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <vector>

#include <sys/resource.h>

using profileapi::DWORD;

namespace {

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

// What a read call left: its count, the whole buffer and the thread's last error.
struct Result {
    DWORD count;
    QByteArray buffer;
    DWORD error;
    QByteArray Text() const { return QByteArray(buffer.constData()); }
};

Result GetString(const char* section, const char* key, const char* fallback, DWORD size, const std::string& file) {
    std::vector<char> buffer(size, '#');
    winapi::SetLastError(99);
    DWORD n = profileapi::GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
    return {n, QByteArray(buffer.data(), int(size)), winapi::GetLastError()};
}

Result GetSection(const char* section, DWORD size, const std::string& file) {
    std::vector<char> buffer(size, '#');
    winapi::SetLastError(99);
    DWORD n = profileapi::GetPrivateProfileSectionA(section, buffer.data(), size, file.c_str());
    return {n, QByteArray(buffer.data(), int(size)), winapi::GetLastError()};
}

Result GetNames(DWORD size, const std::string& file) {
    std::vector<char> buffer(size, '#');
    winapi::SetLastError(99);
    DWORD n = profileapi::GetPrivateProfileSectionNamesA(buffer.data(), size, file.c_str());
    return {n, QByteArray(buffer.data(), int(size)), winapi::GetLastError()};
}

QByteArray List(std::initializer_list<const char*> items) {
    QByteArray out;
    for (const char* item : items)
        out.append(item).append('\0');
    return out.append('\0');
}

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

QByteArray Sample(bool crlf) {
    QByteArray text(kSample);
    if (crlf)
        text.replace("\n", "\r\n");
    return text;
}

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

class tst_profileapi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readValue_data();
    void readValue();
    void readMissingFileGivesDefault();
    void fileNameLookup();
    void valueTruncation();
    void nameListsAndTruncation();
    void readSection();
    void writeCreatesFileAndSection();
    void writeKeepsRestOfFile();
    void writeKeepsCrlfAndMissingFinalBreak();
    void deletingMissingLeavesFileAlone();
    void writeSectionReplacesContents();
    void writeRefusesUnreadableNames();
    void writeFailures();
    void writeDiskFullLeavesFile();
    void formatMessage_data();
    void formatMessage();
    void formatMessageFailures();
};

void tst_profileapi::readValue_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<uint>("error");
    const struct {
        const char *tag, *section, *key, *value;
        uint error;
    } rows[] = {
        {"names without case, blanks trimmed", "paths", "DATAPATH", "C:\\TOVA\\DATA\\", 0},
        {"double quotes lost, inner blanks kept", "PATHS", "quoted", "  spaced  ", 0},
        {"single quotes lost", "Paths", "Single", "x", 0},
        {"unmatched quotes kept", "Paths", "Mixed", "\"abc'", 0},
        {"empty value found", "Paths", "Empty", "", 0},
        {"= inside the value", "Paths", "Eq", "a=b=c", 0},
        {"commented key", "Paths", "Hidden", "dflt", 2},
        {"indented comment", "Paths", "Indented", "dflt", 2},
        {"bare line is a key without value", "Paths", "Bare line", "", 0},
        {"first of duplicate keys and sections", "Paths", "Dup", "first", 0},
        {"section name trimmed", "General Information", "dbpath", "C:\\LEDGRA", 0},
        {"key before any section", "Paths", "top", "dflt", 2},
        {"missing key", "General Information", "ProgramName", "dflt", 2},
        {"missing section", "Nowhere", "DataPath", "dflt", 2},
        {"key of another section", "E", "dbpath", "dflt", 2},
    };
    for (bool crlf : {false, true})
        for (const auto& r : rows)
            QTest::addRow("%s %s", crlf ? "CRLF" : "LF", r.tag)
                << QByteArray(r.section) << QByteArray(r.key) << QByteArray(r.value) << r.error;
}

void tst_profileapi::readValue() {
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(uint, error);
    QTemporaryDir tmp;
    const bool crlf = QByteArray(QTest::currentDataTag()).startsWith("CRLF");
    WriteFile(tmp.filePath("p.ini"), Sample(crlf));
    Result r = GetString(section.constData(), key.constData(), "dflt", 255, Win(tmp.filePath("p.ini")));
    QCOMPARE(r.Text(), value);
    QCOMPARE(r.count, DWORD(value.size()));
    QCOMPARE(r.error, DWORD(error));
}

void tst_profileapi::readMissingFileGivesDefault() {
    QTemporaryDir tmp;
    // The platform drops trailing blanks of the default.
    Result r = GetString("Paths", "DataPath", "dflt  ", 255, Win(tmp.filePath("none.ini")));
    QCOMPARE(r.Text(), QByteArray("dflt"));
    QCOMPARE(r.count, DWORD(4));
    QCOMPARE(r.error, winapi::ERROR_FILE_NOT_FOUND);

    r = GetString("Paths", "DataPath", "", 255, Win(tmp.filePath("nofolder/none.ini")));
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.Text(), QByteArray());
    QCOMPARE(r.error, winapi::ERROR_FILE_NOT_FOUND);

    r = GetSection("Paths", 100, Win(tmp.filePath("none.ini")));
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.error, winapi::ERROR_FILE_NOT_FOUND);
    r = GetNames(100, Win(tmp.filePath("none.ini")));
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.error, winapi::ERROR_FILE_NOT_FOUND);
}

void tst_profileapi::fileNameLookup() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("TOVACFG.INI"), "[Paths]\r\nDataPath=D:\\T\\\r\n");
    // The file name matches without regard to case, as on Windows.
    QCOMPARE(GetString("Paths", "DataPath", "", 255, Win(tmp.path()) + "\\tovacfg.ini").Text(), QByteArray("D:\\T\\"));

    // A name without a folder lives in the Windows folder.
    const QByteArray oldWindir = qgetenv("WINDIR");
    qputenv("WINDIR", QByteArray::fromStdString(Win(tmp.path())));
    QCOMPARE(GetString("Paths", "DataPath", "", 255, "tovacfg.ini").Text(), QByteArray("D:\\T\\"));
    QVERIFY(profileapi::WritePrivateProfileStringA("Paths", "Extra", "1", "tovacfg.ini"));
    if (oldWindir.isNull())
        qunsetenv("WINDIR");
    else
        qputenv("WINDIR", oldWindir);
    QCOMPARE(ReadFile(tmp.filePath("TOVACFG.INI")), QByteArray("[Paths]\r\nDataPath=D:\\T\\\r\nExtra=1\r\n"));
}

void tst_profileapi::valueTruncation() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "[S]\nk=abcdefgh\n");
    const std::string file = Win(tmp.filePath("p.ini"));

    Result r = GetString("S", "k", "", 9, file);
    QCOMPARE(r.count, DWORD(8));
    QCOMPARE(r.Text(), QByteArray("abcdefgh"));
    QCOMPARE(r.error, winapi::ERROR_SUCCESS);

    r = GetString("S", "k", "", 8, file);
    QCOMPARE(r.count, DWORD(7));
    QCOMPARE(r.buffer, QByteArray("abcdefg\0", 8));
    QCOMPARE(r.error, winapi::ERROR_MORE_DATA);

    r = GetString("S", "k", "", 1, file);
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.buffer, QByteArray("\0", 1));

    // A 300-character value comes back as its first 254 characters.
    WriteFile(tmp.filePath("p.ini"), "[S]\nk=" + QByteArray(300, 'v') + "\n");
    r = GetString("S", "k", "", 255, file);
    QCOMPARE(r.count, DWORD(254));
    QCOMPARE(r.Text(), QByteArray(254, 'v'));
}

void tst_profileapi::nameListsAndTruncation() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), Sample(true));
    const std::string file = Win(tmp.filePath("p.ini"));

    const QByteArray sections = List({"Paths", "General Information", "E"});
    Result r = GetNames(200, file);
    QCOMPARE(r.count, DWORD(sections.size() - 1));
    QCOMPARE(r.buffer.left(sections.size()), sections);
    QCOMPARE(r.error, winapi::ERROR_SUCCESS);
    // A NULL section gives the same list.
    r = GetString(nullptr, "ignored", "", 200, file);
    QCOMPARE(r.buffer.left(sections.size()), sections);

    // Truncated: size - 2, the last name cut short, two NULs at the end.
    r = GetNames(10, file);
    QCOMPARE(r.count, DWORD(8));
    QCOMPARE(r.buffer, QByteArray("Paths\0Ge\0\0", 10));
    QCOMPARE(r.error, winapi::ERROR_MORE_DATA);

    const QByteArray keys = List({"DataPath", "Quoted", "Single", "Mixed", "Empty", "Eq", "Bare line", "Dup"});
    r = GetString("PATHS", nullptr, "", 200, file);
    QCOMPARE(r.count, DWORD(keys.size() - 1));
    QCOMPARE(r.buffer.left(keys.size()), keys);
    r = GetString("Paths", nullptr, "", 12, file);
    QCOMPARE(r.count, DWORD(10));
    QCOMPARE(r.buffer, QByteArray("DataPath\0Q\0\0", 12));

    r = GetString("Nowhere", nullptr, "", 200, file);
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.buffer.left(2), QByteArray("\0\0", 2));
    QCOMPARE(r.error, winapi::ERROR_FILE_NOT_FOUND);
}

void tst_profileapi::readSection() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), Sample(true));
    const std::string file = Win(tmp.filePath("p.ini"));

    // Lines as stored, trimmed around names and values; quotes kept; comments left out.
    const QByteArray lines = List({"DataPath=C:\\TOVA\\DATA\\", "Quoted=\"  spaced  \"", "Single='x'", "Mixed=\"abc'",
                                   "Empty=", "Eq=a=b=c", "Bare line", "Dup=first", "Dup=second"});
    Result r = GetSection("paths", 500, file);
    QCOMPARE(r.count, DWORD(lines.size() - 1));
    QCOMPARE(r.buffer.left(lines.size()), lines);
    QCOMPARE(r.error, winapi::ERROR_SUCCESS);

    r = GetSection("Paths", 30, file);
    QCOMPARE(r.count, DWORD(28));
    QCOMPARE(r.buffer, lines.left(28) + QByteArray("\0\0", 2));
    QCOMPARE(r.error, winapi::ERROR_MORE_DATA);

    r = GetSection("E", 100, file);
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.error, winapi::ERROR_SUCCESS);
    r = GetSection("Nowhere", 100, file);
    QCOMPARE(r.count, DWORD(0));
    QCOMPARE(r.error, winapi::ERROR_FILE_NOT_FOUND);
}

void tst_profileapi::writeCreatesFileAndSection() {
    QTemporaryDir tmp;
    const std::string file = Win(tmp.filePath("new.ini"));
    winapi::SetLastError(99);
    QCOMPARE(profileapi::WritePrivateProfileStringA("Paths", "DataPath", "C:\\x\\", file.c_str()), winapi::TRUE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_SUCCESS);
    QCOMPARE(ReadFile(tmp.filePath("new.ini")), QByteArray("[Paths]\r\nDataPath=C:\\x\\\r\n"));
    QVERIFY(profileapi::WritePrivateProfileStringA("Other", "k", "v", file.c_str()));
    QCOMPARE(ReadFile(tmp.filePath("new.ini")), QByteArray("[Paths]\r\nDataPath=C:\\x\\\r\n\r\n[Other]\r\nk=v\r\n"));
    QCOMPARE(GetString("other", "K", "", 255, file).Text(), QByteArray("v"));
    QCOMPARE(Entries(tmp.path()), QStringList{"new.ini"});
}

void tst_profileapi::writeKeepsRestOfFile() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    const std::string file = Win(path);
    WriteFile(path, "; settings\n[A]\none=1\n; note about two\n  two = 2\n\n[B]\nx=y\n");

    QVERIFY(profileapi::WritePrivateProfileStringA("a", "TWO", "22", file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("; settings\n[A]\none=1\n; note about two\ntwo=22\n\n[B]\nx=y\n"));

    // A new key goes after the section's last line, before the blank line that ends it.
    QVERIFY(profileapi::WritePrivateProfileStringA("A", "three", "3", file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("; settings\n[A]\none=1\n; note about two\ntwo=22\nthree=3\n\n[B]\nx=y\n"));

    QVERIFY(profileapi::WritePrivateProfileStringA("C", "k", "v", file.c_str()));
    QCOMPARE(ReadFile(path),
             QByteArray("; settings\n[A]\none=1\n; note about two\ntwo=22\nthree=3\n\n[B]\nx=y\n\n[C]\nk=v\n"));

    QVERIFY(profileapi::WritePrivateProfileStringA("A", "ONE", nullptr, file.c_str()));
    QVERIFY(profileapi::WritePrivateProfileStringA("b", nullptr, nullptr, file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("; settings\n[A]\n; note about two\ntwo=22\nthree=3\n\n[C]\nk=v\n"));
    QCOMPARE(Entries(tmp.path()), QStringList{"p.ini"});
}

void tst_profileapi::writeKeepsCrlfAndMissingFinalBreak() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    const std::string file = Win(path);
    WriteFile(path, "\xEF\xBB\xBF[A]\r\nk=1");
    QCOMPARE(GetString("A", "k", "", 255, file).Text(), QByteArray("1"));
    QVERIFY(profileapi::WritePrivateProfileStringA("A", "m", "2", file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("\xEF\xBB\xBF[A]\r\nk=1\r\nm=2\r\n"));
}

void tst_profileapi::deletingMissingLeavesFileAlone() {
    QTemporaryDir tmp;
    const std::string missing = Win(tmp.filePath("none.ini"));
    QCOMPARE(profileapi::WritePrivateProfileStringA("A", "k", nullptr, missing.c_str()), winapi::TRUE);
    QCOMPARE(profileapi::WritePrivateProfileStringA("A", nullptr, nullptr, missing.c_str()), winapi::TRUE);
    QVERIFY(Entries(tmp.path()).isEmpty());

    const QByteArray original("[A]\nk=1\n");
    WriteFile(tmp.filePath("p.ini"), original);
    const std::string file = Win(tmp.filePath("p.ini"));
    QVERIFY(profileapi::WritePrivateProfileStringA("A", "other", nullptr, file.c_str()));
    QVERIFY(profileapi::WritePrivateProfileStringA("Z", nullptr, nullptr, file.c_str()));
    QCOMPARE(ReadFile(tmp.filePath("p.ini")), original);
}

void tst_profileapi::writeSectionReplacesContents() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    const std::string file = Win(path);
    WriteFile(path, "; top\r\n[A]\r\nold=1\r\n; about old\r\nolder=2\r\n\r\n[B]\r\nx=y\r\n");

    QVERIFY(profileapi::WritePrivateProfileSectionA("a", "n1=v1\0n2=a=b\0", file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("; top\r\n[A]\r\nn1=v1\r\nn2=a=b\r\n\r\n[B]\r\nx=y\r\n"));

    QVERIFY(profileapi::WritePrivateProfileSectionA("B", "", file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("; top\r\n[A]\r\nn1=v1\r\nn2=a=b\r\n\r\n[B]\r\n"));

    QVERIFY(profileapi::WritePrivateProfileSectionA("New", "k=v\0", file.c_str()));
    QCOMPARE(ReadFile(path), QByteArray("; top\r\n[A]\r\nn1=v1\r\nn2=a=b\r\n\r\n[B]\r\n\r\n[New]\r\nk=v\r\n"));
    QCOMPARE(GetString("A", "n2", "", 255, file).Text(), QByteArray("a=b"));
}

void tst_profileapi::writeRefusesUnreadableNames() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    const std::string file = Win(path);
    const QByteArray original("[A]\nk=1\n");
    WriteFile(path, original);
    const struct {
        const char *section, *key, *value;
    } bad[] = {
        {"A", "k", "1\r\n[Evil]\r\nx=y"},
        {"A", "a=b", "v"},
        {"A\n[B", "k", "v"},
        {"A]", "k", "v"},
        {"", "k", "v"},
        {"A", "", "v"},
        {"A", ";k", "v"},
        {"A", "[k]", "v"},
        {nullptr, "k", "v"},
    };
    for (const auto& b : bad) {
        winapi::SetLastError(0);
        QCOMPARE(profileapi::WritePrivateProfileStringA(b.section, b.key, b.value, file.c_str()), winapi::FALSE);
        QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    }
    QCOMPARE(profileapi::WritePrivateProfileSectionA("A", "k=1\nx\0", file.c_str()), winapi::FALSE);
    QCOMPARE(profileapi::WritePrivateProfileSectionA("A", "[B]\0", file.c_str()), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    QCOMPARE(ReadFile(path), original);
}

void tst_profileapi::writeFailures() {
    QTemporaryDir tmp;
    const std::string inMissingFolder = Win(tmp.filePath("nofolder/p.ini"));
    QCOMPARE(profileapi::WritePrivateProfileStringA("A", "k", "v", inMissingFolder.c_str()), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_PATH_NOT_FOUND);
    QCOMPARE(profileapi::WritePrivateProfileSectionA("A", "k=v\0", inMissingFolder.c_str()), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_PATH_NOT_FOUND);

    const QString path = tmp.filePath("ro.ini");
    WriteFile(path, "[A]\nk=1\n");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
    const std::string file = Win(path);
    QCOMPARE(profileapi::WritePrivateProfileStringA("A", "k", "2", file.c_str()), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_ACCESS_DENIED);
    QCOMPARE(profileapi::WritePrivateProfileSectionA("A", "k=2\0", file.c_str()), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_ACCESS_DENIED);
    QCOMPARE(ReadFile(path), QByteArray("[A]\nk=1\n"));

    QVERIFY(QDir(tmp.path()).mkdir("folder.ini"));
    const std::string folder = Win(tmp.filePath("folder.ini"));
    QCOMPARE(profileapi::WritePrivateProfileStringA("A", "k", "2", folder.c_str()), winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_ACCESS_DENIED);

    QCOMPARE(Entries(tmp.path()), (QStringList{"folder.ini", "ro.ini"}));
}

void tst_profileapi::writeDiskFullLeavesFile() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    const QByteArray original("[A]\r\nk=1\r\n[B]\r\nz=2\r\n");
    WriteFile(path, original);
    const std::string file = Win(path);
    const std::string big(64 * 1024, 'v');
    winapi::BOOL ok;
    {
        FileSizeLimit limit(4096);
        ok = profileapi::WritePrivateProfileStringA("A", "k", big.c_str(), file.c_str());
    }
    QCOMPARE(ok, winapi::FALSE);
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_DISK_FULL);
    QCOMPARE(ReadFile(path), original);
    QCOMPARE(Entries(tmp.path()), QStringList{"p.ini"});
}

void tst_profileapi::formatMessage_data() {
    QTest::addColumn<uint>("id");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("2") << 2u << QByteArray("The system cannot find the file specified.\r\n");
    QTest::newRow("3") << 3u << QByteArray("The system cannot find the path specified.\r\n");
    QTest::newRow("5") << 5u << QByteArray("Access is denied.\r\n");
    QTest::newRow("80") << 80u << QByteArray("The file exists.\r\n");
    QTest::newRow("87") << 87u << QByteArray("The parameter is incorrect.\r\n");
    QTest::newRow("112") << 112u << QByteArray("There is not enough space on the disk.\r\n");
    QTest::newRow("122") << 122u << QByteArray("The data area passed to a system call is too small.\r\n");
    QTest::newRow("234") << 234u << QByteArray("More data is available.\r\n");
}

void tst_profileapi::formatMessage() {
    QFETCH(uint, id);
    QFETCH(QByteArray, text);
    char buffer[255];
    std::memset(buffer, '#', sizeof buffer);
    DWORD n = profileapi::FormatMessageA(0x1200, nullptr, id, 0, buffer, sizeof buffer, nullptr);
    QCOMPARE(n, DWORD(text.size()));
    QCOMPARE(QByteArray(buffer, int(n) + 1), text + QByteArray("\0", 1));
}

void tst_profileapi::formatMessageFailures() {
    char buffer[255];
    winapi::SetLastError(0);
    QCOMPARE(profileapi::FormatMessageA(0x1200, nullptr, 99999, 0, buffer, sizeof buffer, nullptr), DWORD(0));
    QCOMPARE(winapi::GetLastError(), profileapi::ERROR_MR_MID_NOT_FOUND);

    QCOMPARE(profileapi::FormatMessageA(0x1200, nullptr, 2, 0, buffer, 10, nullptr), DWORD(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INSUFFICIENT_BUFFER);

    QCOMPARE(profileapi::FormatMessageA(profileapi::FORMAT_MESSAGE_FROM_STRING, "x", 2, 0, buffer, 255, nullptr),
             DWORD(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
}

QTEST_GUILESS_MAIN(tst_profileapi)
#include "tst_profileapi.moc"
