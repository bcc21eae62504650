#include "profile/WLM_CIni.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kNotFound = "The system cannot find the file specified.\r\n";

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

using Strings = std::vector<std::string>;

// A section of `count` entries "kNNNNN=" + value; the last value is `lastExtra` characters longer.
QByteArray BigSection(int count, int valueLength, int lastExtra) {
    QByteArray text("[Big]\r\n");
    for (int i = 0; i < count; ++i) {
        int length = valueLength + (i == count - 1 ? lastExtra : 0);
        text += QByteArray("k") + QByteArray::number(i).rightJustified(5, '0') + "=" +
                QByteArray(length, char('a' + i % 26)) + "\r\n";
    }
    return text + "[After]\r\nx=1\r\n";
}

} // namespace

class tst_WLM_CIni : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyFileNameTouchesNothing();
    void readValue();
    void readSection();
    void readSectionFillingTheBuffer_data();
    void readSectionFillingTheBuffer();
    void readSectionEntryLongerThanBuffer();
    void enumSectionNames();
    void writeValue();
    void writeSection();
    void lastErrorKeptAfterSuccess();
};

void tst_WLM_CIni::emptyFileNameTouchesNothing() {
    QTemporaryDir tmp;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    WLM_CIni ini;
    QCOMPARE(ini.FileName(), std::string());
    QCOMPARE(ini.LastErrorDescription(), std::string());

    std::string value = "kept";
    Strings keys{"k"}, values{"v"}, names{"n"};
    QVERIFY(!ini.ReadValue("A", "k", value));
    QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
    QVERIFY(!ini.ReadSection("A", keys, values));
    QVERIFY(!ini.WriteValue("A", "k", "v"));
    QVERIFY(!ini.WriteSection("A", {"k"}, {"v"}));
    QVERIFY(!ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
    QCOMPARE(value, std::string("kept"));
    QCOMPARE(keys, Strings{"k"});
    QCOMPARE(values, Strings{"v"});
    QCOMPARE(names, Strings{"n"});
    QVERIFY(QDir(tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(QDir::setCurrent(old));
}

void tst_WLM_CIni::readValue() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("ledgra2.ini"),
              "[General Information]\r\ndbpath = C:\\LEDGRA\r\nProgramName=\r\nLong=" + QByteArray(300, 'L') + "\r\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("ledgra2.ini")));
    QCOMPARE(ini.FileName(), Win(tmp.filePath("ledgra2.ini")));

    std::string value = "before";
    QVERIFY(ini.ReadValue("general information", "DBPATH", value));
    QCOMPARE(value, std::string("C:\\LEDGRA"));

    QVERIFY(ini.ReadValue("General Information", "Long", value));
    QCOMPARE(value, std::string(254, 'L'));

    const struct {
        const char *section, *key, *description;
    } misses[] = {
        {"General Information", "Missing", kNotFound},
        {"Missing", "dbpath", kNotFound},
        {"General Information", "ProgramName", "An unknown error has occured"}, // empty value
    };
    for (const auto& m : misses) {
        value = "unchanged";
        QVERIFY(!ini.ReadValue(m.section, m.key, value));
        QCOMPARE(value, std::string("unchanged"));
        QCOMPARE(ini.LastErrorDescription(), std::string(m.description));
    }

    ini.SetFileName(Win(tmp.filePath("tovacfg.ini")));
    QVERIFY(!ini.ReadValue("Paths", "DataPath", value));
    QCOMPARE(value, std::string("unchanged"));
    QCOMPARE(ini.LastErrorDescription(), std::string(kNotFound));
}

void tst_WLM_CIni::readSection() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "[Two]\nfirst = 1\nsecond=a=b\n[Bare]\nx=1\njust a line\ny=2\n[Empty]\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("p.ini")));

    Strings keys{"old"}, values{"old", "older"};
    QVERIFY(ini.ReadSection("two", keys, values));
    QCOMPARE(keys, (Strings{"first", "second"}));
    QCOMPARE(values, (Strings{"1", "a=b"}));

    // An entry without "=" is a key with an empty value, and the entries after it still come.
    QVERIFY(ini.ReadSection("Bare", keys, values));
    QCOMPARE(keys, (Strings{"x", "just a line", "y"}));
    QCOMPARE(values, (Strings{"1", "", "2"}));

    for (const char* section : {"Empty", "Missing"}) {
        QVERIFY(!ini.ReadSection(section, keys, values));
        QCOMPARE(keys, (Strings{"x", "just a line", "y"}));
        QCOMPARE(values, (Strings{"1", "", "2"}));
    }
    QCOMPARE(ini.LastErrorDescription(), std::string(kNotFound));
}

void tst_WLM_CIni::readSectionFillingTheBuffer_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastExtra");
    QTest::addColumn<int>("expected");
    // 258 entries of 126 characters + NUL fill 32766 characters: the list with its final NUL fills the buffer.
    QTest::newRow("exactly full") << 258 << 0 << 258;
    QTest::newRow("one character over") << 258 << 1 << 257;
    QTest::newRow("far over") << 600 << 0 << 257;
}

void tst_WLM_CIni::readSectionFillingTheBuffer() {
    QFETCH(int, count);
    QFETCH(int, lastExtra);
    QFETCH(int, expected);
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("big.ini"), BigSection(count, 119, lastExtra));
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("big.ini")));
    Strings keys, values;
    QVERIFY(ini.ReadSection("Big", keys, values));
    QCOMPARE(int(keys.size()), expected);
    QCOMPARE(int(values.size()), expected);
    // Only whole entries come back: an entry cut short by the buffer is left out, not returned damaged.
    for (int i = 0; i < expected; ++i) {
        QCOMPARE(keys[i], "k" + QByteArray::number(i).rightJustified(5, '0').toStdString());
        int length = 119 + (i == count - 1 ? lastExtra : 0);
        QCOMPARE(values[i], std::string(length, char('a' + i % 26)));
    }
}

void tst_WLM_CIni::readSectionEntryLongerThanBuffer() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "[S]\nhuge=" + QByteArray(40000, 'h') + "\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("p.ini")));
    Strings keys{"kept"}, values{"kept"};
    QVERIFY(!ini.ReadSection("S", keys, values));
    QCOMPARE(keys, Strings{"kept"});
    QCOMPARE(values, Strings{"kept"});
    QCOMPARE(ini.LastErrorDescription(), std::string("More data is available.\r\n"));
}

void tst_WLM_CIni::enumSectionNames() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "; c\r\n[Zeta]\r\na=1\r\n[alpha]\r\n[ Mid Name ]\r\nb=2\r\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("p.ini")));
    Strings names{"old"};
    QVERIFY(ini.Enum_SectionNames(names));
    QCOMPARE(names, (Strings{"Zeta", "alpha", "Mid Name"}));

    ini.SetFileName(Win(tmp.filePath("none.ini")));
    QVERIFY(!ini.Enum_SectionNames(names));
    QCOMPARE(names, (Strings{"Zeta", "alpha", "Mid Name"}));
    QCOMPARE(ini.LastErrorDescription(), std::string(kNotFound));
}

void tst_WLM_CIni::writeValue() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    WriteFile(path, "; keep me\n[Paths]\nDataPath=old\n");
    WLM_CIni ini;
    ini.SetFileName(Win(path));
    QVERIFY(ini.WriteValue("paths", "datapath", "C:\\NEW\\"));
    QVERIFY(ini.WriteValue("Paths", "Extra", "x=y"));
    QCOMPARE(ReadFile(path), QByteArray("; keep me\n[Paths]\nDataPath=C:\\NEW\\\nExtra=x=y\n"));
    std::string value;
    QVERIFY(ini.ReadValue("Paths", "Extra", value));
    QCOMPARE(value, std::string("x=y"));

    ini.SetFileName(Win(tmp.filePath("nofolder/p.ini")));
    QVERIFY(!ini.WriteValue("Paths", "DataPath", "x"));
    QCOMPARE(ini.LastErrorDescription(), std::string("The system cannot find the path specified.\r\n"));

    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    ini.SetFileName(Win(path));
    QVERIFY(!ini.WriteValue("Paths", "DataPath", "x"));
    QCOMPARE(ini.LastErrorDescription(), std::string("Access is denied.\r\n"));
    QCOMPARE(ReadFile(path), QByteArray("; keep me\n[Paths]\nDataPath=C:\\NEW\\\nExtra=x=y\n"));
}

void tst_WLM_CIni::writeSection() {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("p.ini");
    const QByteArray original("[A]\r\nold=1\r\nolder=2\r\n\r\n[B]\r\nx=y\r\n");
    WriteFile(path, original);
    WLM_CIni ini;
    ini.SetFileName(Win(path));

    QVERIFY(!ini.WriteSection("A", {"k1", "k2"}, {"v1"}));
    QCOMPARE(ini.LastErrorDescription(), std::string("Key array and Value array must be of the same size"));
    QCOMPARE(ReadFile(path), original);
    ini.SetFileName(Win(tmp.filePath("none.ini")));
    QVERIFY(!ini.WriteSection("A", {}, {"v1"}));
    QVERIFY(!QFile::exists(tmp.filePath("none.ini")));

    ini.SetFileName(Win(path));
    QVERIFY(ini.WriteSection("a", {"k1", "k2"}, {"v1", "a=b"}));
    QCOMPARE(ReadFile(path), QByteArray("[A]\r\nk1=v1\r\nk2=a=b\r\n\r\n[B]\r\nx=y\r\n"));
    Strings keys, values;
    QVERIFY(ini.ReadSection("A", keys, values));
    QCOMPARE(keys, (Strings{"k1", "k2"}));
    QCOMPARE(values, (Strings{"v1", "a=b"}));

    QVERIFY(ini.WriteSection("C", {"n"}, {"1"}));
    QVERIFY(ini.WriteSection("B", {}, {}));
    QCOMPARE(ReadFile(path), QByteArray("[A]\r\nk1=v1\r\nk2=a=b\r\n\r\n[B]\r\n\r\n[C]\r\nn=1\r\n"));
}

void tst_WLM_CIni::lastErrorKeptAfterSuccess() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "[A]\nk=v\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("p.ini")));
    std::string value;
    QVERIFY(!ini.ReadValue("A", "missing", value));
    QCOMPARE(ini.LastErrorDescription(), std::string(kNotFound));
    QVERIFY(ini.ReadValue("A", "k", value));
    QVERIFY(ini.WriteValue("A", "k2", "v2"));
    Strings names;
    QVERIFY(ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), std::string(kNotFound));
}

QTEST_GUILESS_MAIN(tst_WLM_CIni)
#include "tst_WLM_CIni.moc"
