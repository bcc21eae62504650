#include "archive/CodeModule.h"
#include "archive/KTZipFiles.h"
#include "platform/error/Error.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/zipengine/ArchiveTools.h"
#include "platform/zipengine/ZipEngine.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;

namespace {

template <typename F> zel::Error Raised(F f) {
    try {
        f();
    } catch (const zel::Error& e) {
        return e;
    }
    return zel::Error(0, "", "nothing raised");
}

QStringList Listing(const QString& archive) {
    QStringList names = Exec("unzip", {"-Z1", archive}).out.split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

QString Windows(QString path) {
    return path.replace('/', '\\');
}

} // namespace

class tst_KTZipFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { zipengine::ResetReceived(); }

    void newObjectAndTheNameList() {
        KTZipFiles z;
        QCOMPARE(z.ZipFileCount(), 0);
        QCOMPARE(z.RootDirectory(), std::string("\\"));
        QCOMPARE(z.ZipFileName(), std::string());
        QVERIFY(!z.RecurseFolders() && !z.Encrypted() && !z.IncludeSystemFiles() && !z.UpdatingZip());

        z.AddFile("C:\\DATA\\A.MDB");
        zel::Error e = Raised([&] { z.AddFile("c:\\data\\a.mdb"); });
        QCOMPARE(e.Number(), static_cast<std::int32_t>(0x800407D1));
        QCOMPARE(e.Source(), std::string("KTZip::AddFile"));
        QCOMPARE(e.Description(), std::string("File is already in Zip List"));
        QCOMPARE(z.ZipFileCount(), 1);
        QCOMPARE(Raised([&] { z.AddFile("QUERTY"); }).Number(), static_cast<std::int32_t>(0x800407D1));

        e = Raised([&] { z.RemoveFile("never.mdb"); });
        QCOMPARE(e.Number(), static_cast<std::int32_t>(0x800407D2));
        QCOMPARE(e.Source(), std::string("KTZip::RemoveFile"));
        QCOMPARE(e.Description(), std::string("File is not in Zip List"));
        z.RemoveFile("c:\\DATA\\a.mdb");
        QCOMPARE(z.ZipFileCount(), 0);
        z.RemoveFile("querty"); // the seed can go too; the count still leaves one out
        QCOMPARE(z.ZipFileCount(), -1);
    }

    void optionsReachTheEngine() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        KTZipFiles z;
        z.SetZipFileName(S(tmp.filePath("ZEL.ZIP")));
        for (const char* n : {"one", "two", "three"})
            z.AddFile(n);
        z.SetEncrypted(true);
        z.SetIncludeSystemFiles(true);
        QVERIFY(z.Encrypted() && z.IncludeSystemFiles());
        QVERIFY(z.MakeZipFile() != 0); // none of the names exists

        const auto& r = zipengine::LastReceived();
        QCOMPARE(r.calls, (std::vector<std::string>{"ZpInit", "ZpSetOptions", "ZpArchive"}));
        QCOMPARE(r.zclArgc, 4);
        QCOMPARE(r.zclZipFN, std::optional<std::string>(S(tmp.filePath("ZEL.ZIP"))));
        QCOMPARE(r.zclNames, (std::vector<std::optional<std::string>>{"querty", "one", "two", "three"}));
        QCOMPARE(r.zpoptRootDir, std::optional<std::string>("\\"));
        QVERIFY(!r.zpoptDate);
        const zipengine::ZPOPT& o = r.zpopt;
        QCOMPARE(o.fLevel, char(0));
        for (std::int32_t v :
             {o.fJunkDir,       o.fRecurse, o.fUpdate,  o.fFreshen,   o.fEncrypt,     o.fSystem,      o.fNoDirEntries,
              o.fVerbose,       o.fQuiet,   o.fCRLF_LF, o.fLF_CRLF,   o.fGrow,        o.fForce,       o.fMove,
              o.fDeleteEntries, o.fSuffix,  o.fVolume,  o.fExtra,     o.fExcludeDate, o.fIncludeDate, o.fJunkSFX,
              o.fLatestTime,    o.fComment, o.fOffsets, o.fPrivilege, o.fEncryption,  o.fRepair})
            QCOMPARE(v, 0);
        QVERIFY(r.zipFunctions.print == &CodeModule::ZipPrintCallback);
        QVERIFY(r.zipFunctions.password == &CodeModule::ZipPasswordCallback);
        QVERIFY(r.zipFunctions.comment == &CodeModule::ZipCommentCallback);
        QVERIFY(!r.zipFunctions.ServiceApplication);
        // What the engine printed is the last message, and printing pumps events.
        QVERIFY(z.GetLastMessage().find("querty") != std::string::npos);
        QVERIFY(ui.doEventsCalls > 0);

        z.SetRootDirectory("c:\\data");
        z.SetRecurseFolders(true);
        z.SetUpdatingZip(true);
        z.MakeZipFile();
        QCOMPARE(r.zpoptRootDir, std::optional<std::string>("C:\\DATA"));
        QCOMPARE(r.zpopt.fRecurse, 1);
        QCOMPARE(r.zpopt.fUpdate, 1);
        QCOMPARE(z.RootDirectory(), std::string("c:\\data"));
    }

    void atMostNinetyNineNames() {
        ui::ScriptedUi ui;
        KTZipFiles z;
        for (int i = 1; i <= 99; ++i)
            z.AddFile("f" + std::to_string(i));
        z.MakeZipFile();
        QCOMPARE(zipengine::LastReceived().zclArgc, 100);
        QCOMPARE(zipengine::LastReceived().zclNames.back(), std::optional<std::string>("f99"));

        z.AddFile("f100");
        zipengine::ResetReceived();
        CodeModule::LastMessageText = "previous run";
        zel::Error e = Raised([&] { z.MakeZipFile(); });
        QCOMPARE(e.Number(), 9);
        QCOMPARE(e.Source(), std::string("KTZipFiles::MakeZipFile"));
        QVERIFY(e.Description().find("out of range") != std::string::npos);
        QVERIFY(zipengine::LastReceived().calls.empty());
        QCOMPARE(z.GetLastMessage(), std::string("previous run"));
    }

    void missingEngineIsAFailure() {
        ui::ScriptedUi ui;
        KTZipFiles z;
        z.SetZipFileName("/tmp/never/ZEL.ZIP");
        zipengine::SimulateMissingLibrary(true);
        std::int32_t r = z.MakeZipFile();
        zipengine::SimulateMissingLibrary(false);
        QVERIFY(r != 0);
        QVERIFY(!z.GetLastMessage().empty());
    }

    void sendsOfBothProductsAreReadableByInfoZip() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        // TOVA: every file of the data folder, the archive being written there too.
        const QString tova = tmp.filePath("Tova/");
        WriteFile(tova + "a.dbf", QByteArray(50000, 'a'));
        WriteFile(tova + "b.cdx", "b");
        WriteFile(tova + "ZEL.ZIP", "leftover");
        WriteFile(tova + "deeper/skip.me", "not packed");
        KTZipFiles t;
        t.SetZipFileName(S(Windows(tova + "ZEL.ZIP")));
        t.SetUpdatingZip(false);
        t.AddFile(S(Windows(tova + "*.*")));
        QCOMPARE(t.MakeZipFile(), 0);
        QCOMPARE(Exec("unzip", {"-t", tova + "ZEL.ZIP"}).code, 0);
        const QString p = tova.mid(1);
        QCOMPARE(Listing(tova + "ZEL.ZIP"), (QStringList{p + "a.dbf", p + "b.cdx"}));

        // Ledgra online edition: two databases and the files of data_qmx.
        const QString led = tmp.filePath("Ledgra/");
        WriteFile(led + "norvane.mdb", "n");
        WriteFile(led + "ledgra2.mdb", "l");
        WriteFile(led + "other.mdb", "o");
        WriteFile(led + "data_qmx/q1.qmx", "q1");
        WriteFile(led + "data_qmx/Q2.QMX", "q2");
        KTZipFiles l;
        l.SetZipFileName(S(Windows(led + "ZEL.ZIP")));
        for (const char* n : {"norvane.mdb", "ledgra2.mdb", "data_qmx\\*.*"})
            l.AddFile(S(Windows(led)) + n);
        QCOMPARE(l.MakeZipFile(), 0);
        const QString q = led.mid(1);
        QCOMPARE(Listing(led + "ZEL.ZIP"),
                 (QStringList{q + "data_qmx/Q2.QMX", q + "data_qmx/q1.qmx", q + "ledgra2.mdb", q + "norvane.mdb"}));
        QCOMPARE(Exec("unzip", {"-p", led + "ZEL.ZIP", q + "data_qmx/Q2.QMX"}).out, QString("q2"));
    }
};

QTEST_GUILESS_MAIN(tst_KTZipFiles)
#include "tst_KTZipFiles.moc"
