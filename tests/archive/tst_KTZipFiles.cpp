#include "archive/CodeModule.h"
#include "archive/KTZipFiles.h"
#include "platform/zipengine/ArchiveTools.h"
#include "support/EngineRecorder.h"
#include "support/ScriptedUi.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;

class tst_KTZipFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::EngineRecorder> m_Engine;

private Q_SLOTS:
    void init() { m_Engine = std::make_unique<testsupport::EngineRecorder>(); }
    void cleanup() { m_Engine.reset(); }

    void theNameListIgnoresCaseAndHoldsAtMost99Names() {
        ui::ScriptedUi ui;
        KTZipFiles z;
        z.AddFile("C:\\DATA\\A.MDB");
        const QString listed = "-2147219503 KTZip::AddFile: File is already in Zip List"; // vbObjectError + 2001
        QCOMPARE(Failure([&] { z.AddFile("c:\\data\\a.mdb"); }), listed);
        QCOMPARE(Failure([&] { z.AddFile("QUERTY"); }), listed); // the seed entry
        QCOMPARE(Failure([&] { z.RemoveFile("never.mdb"); }), "-2147219502 KTZip::RemoveFile: File is not in Zip List");
        QCOMPARE(z.ZipFileCount(), 1);
        z.RemoveFile("c:\\DATA\\a.mdb");
        z.RemoveFile("querty"); // the seed can go too; the count still leaves one out
        QCOMPARE(z.ZipFileCount(), -1);

        z.AddFile("querty");
        for (int i = 1; i <= 99; ++i) // the engine takes 100 names, the seed entry first
            z.AddFile("f" + std::to_string(i));
        z.MakeZipFile();
        QCOMPARE((*m_Engine).zclArgc, 100);
        QCOMPARE((*m_Engine).zclNames.back(), std::optional<std::string>("f99"));
        z.AddFile("f100");
        m_Engine->Reset();
        CodeModule::LastMessageText = "previous run";
        QVERIFY(Failure([&] { z.MakeZipFile(); }).startsWith("9 KTZipFiles::MakeZipFile: Subscript out of range"));
        QVERIFY((*m_Engine).calls.empty());
        QCOMPARE(z.GetLastMessage(), std::string("previous run"));
    }

    void optionsReachTheEngineThatMustRun() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        KTZipFiles z;
        z.SetZipFileName(tmp.filePath("ZEL.ZIP").toStdString());
        for (const char* n : {"one", "two", "three"})
            z.AddFile(n);
        z.SetEncrypted(true); // kept by the object, never handed over
        z.SetIncludeSystemFiles(true);
        QVERIFY(z.MakeZipFile() != 0); // none of the names exists
        const auto& r = (*m_Engine);
        QCOMPARE(r.calls, (std::vector<std::string>{"ZpInit", "ZpSetOptions", "ZpArchive"}));
        QCOMPARE(r.zclArgc, 4);
        QCOMPARE(r.zclZipFN, std::optional<std::string>(tmp.filePath("ZEL.ZIP").toStdString()));
        QCOMPARE(r.zclNames, (std::vector<std::optional<std::string>>{"querty", "one", "two", "three"}));
        QCOMPARE(r.zpoptRootDir, std::optional<std::string>("\\"));
        const zipengine::ZPOPT& o = r.zpopt;
        QVERIFY(!r.zpoptDate && !o.fLevel);
        for (std::int32_t v :
             {o.fJunkDir,       o.fRecurse, o.fUpdate,  o.fFreshen,   o.fEncrypt,     o.fSystem,      o.fNoDirEntries,
              o.fVerbose,       o.fQuiet,   o.fCRLF_LF, o.fLF_CRLF,   o.fGrow,        o.fForce,       o.fMove,
              o.fDeleteEntries, o.fSuffix,  o.fVolume,  o.fExtra,     o.fExcludeDate, o.fIncludeDate, o.fJunkSFX,
              o.fLatestTime,    o.fComment, o.fOffsets, o.fPrivilege, o.fEncryption,  o.fRepair})
            QCOMPARE(v, 0);
        QVERIFY(r.zipFunctions.print == &CodeModule::ZipPrintCallback && !r.zipFunctions.ServiceApplication);
        QVERIFY(r.zipFunctions.password == &CodeModule::ZipPasswordCallback);
        QVERIFY(r.zipFunctions.comment == &CodeModule::ZipCommentCallback);
        QVERIFY(z.GetLastMessage().find("querty") != std::string::npos); // what the engine printed

        z.SetRootDirectory("c:\\data");
        z.SetRecurseFolders(true);
        z.SetUpdatingZip(true);
        z.MakeZipFile();
        QCOMPARE(r.zpoptRootDir, std::optional<std::string>("C:\\DATA"));
        QVERIFY(r.zpopt.fRecurse == 1 && r.zpopt.fUpdate == 1);

        std::int32_t result = 0;
        {
            testsupport::EngineRecorder unloadable(true);
            result = z.MakeZipFile();
        }
        QVERIFY(result != 0); // an engine that cannot run is never a success
        QVERIFY(z.GetLastMessage().find("zip32.dll") != std::string::npos);
    }
};

QTEST_GUILESS_MAIN(tst_KTZipFiles)
#include "tst_KTZipFiles.moc"
