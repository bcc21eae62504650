#include "profile/WLM_CIni.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;
using Strings = std::vector<std::string>;

namespace {

const std::string kNotFound = "The system cannot find the file specified.\r\n";

std::string Key(int i) {
    return QString::asprintf("k%05d", i).toStdString();
}
// The value of entry i of a section of `count` entries, the last one `lastExtra` characters longer.
std::string Value(int i, int count, int lastExtra) {
    return std::string(119 + (i == count - 1 ? lastExtra : 0), char('a' + i % 26));
}

} // namespace

class tst_WLM_CIni : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyFileNameTouchesNothing();
    void readValue();
    void readSectionAndNames();
    void readSectionFillingTheBuffer_data();
    void readSectionFillingTheBuffer();
    void writes();
};

void tst_WLM_CIni::emptyFileNameTouchesNothing() {
    QTemporaryDir tmp;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    WLM_CIni ini;
    QCOMPARE(ini.LastErrorDescription(), std::string());
    std::string value = "kept";
    Strings keys{"k"}, values{"v"}, names{"n"};
    QVERIFY(!ini.ReadValue("A", "k", value));
    QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
    QVERIFY(!ini.ReadSection("A", keys, values) && !ini.WriteValue("A", "k", "v"));
    QVERIFY(!ini.WriteSection("A", {"k"}, {"v"}) && !ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
    QCOMPARE(value + keys[0] + values[0] + names[0], std::string("keptkvn"));
    QCOMPARE(keys.size() + values.size() + names.size(), std::size_t(3));
    QVERIFY(Entries(tmp.path()).isEmpty());
    QVERIFY(QDir::setCurrent(old));
}

void tst_WLM_CIni::readValue() {
    QTemporaryDir tmp;
    const std::string file = Win(tmp.filePath("ledgra2.ini"));
    WriteFile(tmp.filePath("ledgra2.ini"),
              "[General Information]\r\ndbpath = C:\\LEDGRA\r\nProgramName=\r\nLong=" + QByteArray(300, 'L') + "\r\n");
    WLM_CIni ini;
    ini.SetFileName(file);
    std::string value;
    QVERIFY(ini.ReadValue("general information", "DBPATH", value));
    QCOMPARE(value, std::string("C:\\LEDGRA"));
    QVERIFY(ini.ReadValue("General Information", "Long", value));
    QCOMPARE(value, std::string(254, 'L'));

    const struct {
        std::string file;
        const char *section, *key, *description;
    } misses[] = {
        {file, "General Information", "Missing", kNotFound.c_str()},
        {file, "Missing", "dbpath", kNotFound.c_str()},
        {file, "General Information", "ProgramName", "An unknown error has occured"}, // an empty value
        {Win(tmp.filePath("tovacfg.ini")), "Paths", "DataPath", kNotFound.c_str()},
    };
    for (const auto& m : misses) {
        ini.SetFileName(m.file);
        value = "unchanged";
        QVERIFY(!ini.ReadValue(m.section, m.key, value));
        QCOMPARE(value, std::string("unchanged"));
        QCOMPARE(ini.LastErrorDescription(), std::string(m.description));
    }
}

void tst_WLM_CIni::readSectionAndNames() {
    QTemporaryDir tmp;
    WriteFile(tmp.filePath("p.ini"), "; c\n[ Two ]\nfirst = 1\nsecond=a=b\n[Bare]\nx=1\njust a line\ny=2\n[empty]\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("p.ini")));
    Strings keys{"old"}, values{"old", "older"}, names{"old"};
    QVERIFY(ini.ReadSection("two", keys, values));
    QCOMPARE(keys, (Strings{"first", "second"}));
    QCOMPARE(values, (Strings{"1", "a=b"}));
    // An entry without "=" is a key with an empty value, and the entries after it still come.
    QVERIFY(ini.ReadSection("Bare", keys, values));
    QCOMPARE(keys, (Strings{"x", "just a line", "y"}));
    QCOMPARE(values, (Strings{"1", "", "2"}));
    QVERIFY(ini.Enum_SectionNames(names));
    QCOMPARE(names, (Strings{"Two", "Bare", "empty"}));

    // Nothing found leaves the arrays as they were.
    QVERIFY(!ini.ReadSection("Empty", keys, values) && !ini.ReadSection("Missing", keys, values));
    ini.SetFileName(Win(tmp.filePath("none.ini")));
    QVERIFY(!ini.Enum_SectionNames(names));
    QCOMPARE(keys, (Strings{"x", "just a line", "y"}));
    QCOMPARE(values, (Strings{"1", "", "2"}));
    QCOMPARE(names, (Strings{"Two", "Bare", "empty"}));
    QCOMPARE(ini.LastErrorDescription(), kNotFound);
}

void tst_WLM_CIni::readSectionFillingTheBuffer_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastExtra");
    QTest::addColumn<int>("expected");
    // 258 entries of 126 characters + NUL fill 32766 characters: the list with its final NUL fills the buffer.
    QTest::newRow("exactly full") << 258 << 0 << 258;
    QTest::newRow("one character over") << 258 << 1 << 257;
    QTest::newRow("far over") << 600 << 0 << 257;
    QTest::newRow("one entry longer than the buffer") << 1 << 40000 << 0;
}

void tst_WLM_CIni::readSectionFillingTheBuffer() {
    QFETCH(int, count);
    QFETCH(int, lastExtra);
    QFETCH(int, expected);
    QTemporaryDir tmp;
    QByteArray text("[Big]\r\n");
    for (int i = 0; i < count; ++i)
        text += QByteArray::fromStdString(Key(i) + "=" + Value(i, count, lastExtra) + "\r\n");
    WriteFile(tmp.filePath("big.ini"), text + "[After]\r\nx=1\r\n");
    WLM_CIni ini;
    ini.SetFileName(Win(tmp.filePath("big.ini")));
    Strings keys{"kept"}, values{"kept"};
    QCOMPARE(ini.ReadSection("Big", keys, values), expected > 0);
    if (expected == 0) {
        QCOMPARE(keys.front() + values.front(), std::string("keptkept"));
        QCOMPARE(ini.LastErrorDescription(), std::string("More data is available.\r\n"));
    }
    QCOMPARE(int(keys.size()), qMax(expected, 1));
    QCOMPARE(int(values.size()), qMax(expected, 1));
    // Only whole entries come back: an entry cut short by the buffer is left out, not returned damaged.
    for (int i = 0; i < expected; ++i) {
        QCOMPARE(keys[i], Key(i));
        QCOMPARE(values[i], Value(i, count, lastExtra));
    }
}

void tst_WLM_CIni::writes() {
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
    QCOMPARE(ReadFile(path), written);
    QVERIFY(ini.WriteSection("b", {"k1", "k2"}, {"v1", "a=b"}));
    QCOMPARE(ReadFile(path), written.left(written.indexOf("[B]")) + "[B]\r\nk1=v1\r\nk2=a=b\r\n");

    ini.SetFileName(Win(tmp.filePath("nofolder/p.ini")));
    QVERIFY(!ini.WriteValue("Paths", "DataPath", "x"));
    QCOMPARE(ini.LastErrorDescription(), std::string("The system cannot find the path specified.\r\n"));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    ini.SetFileName(Win(path));
    const QByteArray before = ReadFile(path);
    QVERIFY(!ini.WriteValue("Paths", "DataPath", "x") && !ini.WriteSection("B", {"k"}, {"v"}));
    QCOMPARE(ini.LastErrorDescription(), std::string("Access is denied.\r\n"));
    QCOMPARE(ReadFile(path), before);

    // Later successes keep the last failure's text.
    std::string value;
    Strings names;
    QVERIFY(ini.ReadValue("Paths", "Extra", value) && ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), std::string("Access is denied.\r\n"));
    QCOMPARE(Entries(tmp.path()), QStringList{"p.ini"});
}

QTEST_GUILESS_MAIN(tst_WLM_CIni)
#include "tst_WLM_CIni.moc"
