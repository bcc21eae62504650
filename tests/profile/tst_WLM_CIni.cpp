#include "profile/WLM_CIni.h"
#include "support/Files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;
using Strings = std::vector<std::string>;

const std::string kNotFound = "The system cannot find the file specified.\r\n", kDenied = "Access is denied.\r\n";

class tst_WLM_CIni : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyFileNameTouchesNothing();
    void reads();
    void readSectionFillingTheBuffer_data();
    void readSectionFillingTheBuffer();
    void writes();
};

void tst_WLM_CIni::emptyFileNameTouchesNothing() {
    QTemporaryDir tmp;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    WLM_CIni ini;
    std::string value = "kept";
    Strings keys{"k"}, values{"v"}, names{"n"};
    QVERIFY(!ini.ReadValue("A", "k", value) && !ini.ReadSection("A", keys, values) && !ini.WriteValue("A", "k", "v"));
    QVERIFY(!ini.WriteSection("A", {"k"}, {"v"}) && !ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), std::string("No filename specified"));
    QCOMPARE(value, std::string("kept"));
    QVERIFY(keys == Strings{"k"} && values == Strings{"v"} && names == Strings{"n"});
    QVERIFY(Entries(tmp.path()).isEmpty());
    QVERIFY(QDir::setCurrent(old));
}

void tst_WLM_CIni::reads() {
    QTemporaryDir tmp;
    const std::string file = Win(tmp.filePath("p.ini"));
    const QByteArray text(
        "; c\r\n[ Two ]\r\nfirst = 1\r\nsecond=a=b\r\n[Bare]\r\nx=1\r\njust a line\r\ny=2\r\n[empty]\r\n");
    WriteFile(tmp.filePath("p.ini"), text + "[Values]\r\nEmpty=\r\nLong=" + QByteArray(300, 'L') + "\r\n");
    WLM_CIni ini;
    ini.SetFileName(file);
    std::string value;
    QVERIFY(ini.ReadValue("two", "FIRST", value));
    QCOMPARE(value, std::string("1"));
    QVERIFY(ini.ReadValue("Values", "Long", value));
    QCOMPARE(value, std::string(254, 'L'));
    Strings keys{"old"}, values{"old", "older"}, names{"old"};
    QVERIFY(ini.ReadSection("two", keys, values));
    QVERIFY(keys == (Strings{"first", "second"}) && values == (Strings{"1", "a=b"}));
    // An entry without "=" is a key with an empty value, and the entries after it still come.
    QVERIFY(ini.ReadSection("Bare", keys, values));
    QVERIFY(keys == (Strings{"x", "just a line", "y"}) && values == (Strings{"1", "", "2"}));
    QVERIFY(ini.Enum_SectionNames(names));
    QCOMPARE(names, (Strings{"Two", "Bare", "empty", "Values"}));

    // Nothing found leaves the outputs as they were.
    auto missed = [&](const char* section, const char* key, const std::string& description) {
        value = "unchanged";
        return !ini.ReadValue(section, key, value) && value == "unchanged" && ini.LastErrorDescription() == description;
    };
    QVERIFY(missed("Two", "Missing", kNotFound) && missed("Missing", "first", kNotFound));
    QVERIFY(missed("Values", "Empty", "An unknown error has occured"));
    ini.SetFileName(Win(tmp.filePath("none.ini")));
    QVERIFY(missed("Two", "first", kNotFound));
    QVERIFY(!ini.Enum_SectionNames(names) && !ini.ReadSection("Two", keys, values));
    ini.SetFileName(file);
    QVERIFY(!ini.ReadSection("empty", keys, values) && !ini.ReadSection("Missing", keys, values));
    QVERIFY(keys == (Strings{"x", "just a line", "y"}) && values == (Strings{"1", "", "2"}));
    QCOMPARE(names, (Strings{"Two", "Bare", "empty", "Values"}));
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
    // Only whole entries come back: an entry cut short by the buffer is left out, not returned damaged.
    QVERIFY(expected ? keys == wantKeys && values == wantValues : keys == values && values == Strings{"kept"});
    QCOMPARE(ini.LastErrorDescription(), std::string(expected ? "" : "More data is available.\r\n"));
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

    QVERIFY(MakeReadOnly(path));
    const QByteArray before = ReadFile(path);
    QVERIFY(!ini.WriteValue("Paths", "DataPath", "x") && !ini.WriteSection("B", {"k"}, {"v"}));
    QCOMPARE(ini.LastErrorDescription(), kDenied);
    QCOMPARE(ReadFile(path), before);
    // Later successes keep the last failure's text.
    std::string value;
    Strings names;
    QVERIFY(ini.ReadValue("Paths", "Extra", value) && value == "x=y" && ini.Enum_SectionNames(names));
    QCOMPARE(ini.LastErrorDescription(), kDenied);
    QCOMPARE(Entries(tmp.path()), QStringList{"p.ini"});
}

QTEST_GUILESS_MAIN(tst_WLM_CIni)
#include "tst_WLM_CIni.moc"
