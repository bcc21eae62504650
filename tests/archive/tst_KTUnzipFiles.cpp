#include "archive/CodeModule.h"
#include "archive/KTUnzipFiles.h"
#include "platform/zipengine/ArchiveTools.h"
#include "support/EngineRecorder.h"
#include "support/ScriptedUi.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;

class tst_KTUnzipFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::EngineRecorder> m_Engine;

private Q_SLOTS:
    void init() { m_Engine = std::make_unique<testsupport::EngineRecorder>(); }
    void cleanup() { m_Engine.reset(); }

    void defaultsReachTheEngineThatMustBeThere() {
        ui::ScriptedUi ui;
        KTUnzipFiles u;
        QVERIFY(u.Unzip() != 0); // no archive named
        const auto& r = (*m_Engine);
        QCOMPARE(r.calls, (std::vector<std::string>{"UzpVersion2", "Wiz_SingleEntryUnzip"}));
        QCOMPARE(r.uzpVerStructlen, 64u);
        QVERIFY(!r.dclZipFN && !r.dclExtractDir); // never set: null texts
        QVERIFY(r.ifnc == 0 && r.xfnc == 0 && !r.unzipFunctions.sound);
        QVERIFY(r.unzipFunctions.print == &CodeModule::UnzipPrintCallback); // replace and password: see below
        QVERIFY(r.unzipFunctions.SendApplicationMessage == &CodeModule::UnzipMessageCallback);
        QVERIFY(r.unzipFunctions.ServCallBk == &CodeModule::UnzipServiceCallback);
        QString missing;
        {
            testsupport::EngineRecorder unloadable(true);
            missing = Failure([&] { u.Unzip(); });
        }
        QVERIFY2(missing.startsWith("53 KTUnZipFiles::Unzip: ") && missing.contains("unzip32.dll"),
                 qPrintable(missing));
    }

    void eachPropertyLandsInItsFieldWithin16Bits() {
        ui::ScriptedUi ui;
        const QStringList defaults = QString("0 0 0 2 0 0 0 0 0 1 1 0 0 1 0").split(' ');
        auto check = [&](int field, const QString& value, auto set) {
            KTUnzipFiles u;
            set(u);
            u.Unzip("/nonexistent/FIXED.ZIP", "/nonexistent/out");
            const zipengine::DCL& d = (*m_Engine).dcl;
            QStringList got, expected = defaults;
            for (std::int32_t f :
                 {d.ExtractOnlyNewer, d.SpaceToUnderscore, d.PromptToOverwrite, d.fQuiet, d.ncflag, d.ntflag, d.nvflag,
                  d.nfflag, d.nzflag, d.ndflag, d.noflag, d.naflag, d.nZIflag, d.C_flag, d.fPrivilege})
                got << QString::number(f);
            expected[field] = value;
            QCOMPARE(got, expected);
        };
        using K = KTUnzipFiles;
        const std::pair<void (K::*)(bool), int> flags[] = {
            {&K::SetExtractOnlyNewer, 0}, {&K::SetSpaceToUnderScore, 1}, {&K::SetPromptOverwrite, 2},
            {&K::SetWriteToStdOut, 4},    {&K::SetTestZip, 5},           {&K::SetExtractNewer, 7},
            {&K::SetDisplayComment, 8},   {&K::SetHonorDirectories, 9},  {&K::SetOverWriteFiles, 10},
            {&K::SetConvertCRtoCRLF, 11}, {&K::SetVerbose, 12},          {&K::SetCaseSensitive, 13}};
        for (auto [set, field] : flags) // each flag turned from its default
            check(field, defaults[field] == "0" ? "1" : "0",
                  [&, set = set, field = field](K& u) { (u.*set)(defaults[field] == "0"); });
        const std::pair<void (K::*)(std::int32_t), int> numbers[] = {
            {&K::SetMessageLevel, 3}, {&K::SetExtractList, 6}, {&K::SetPrivilege, 14}};
        for (auto [set, field] : numbers) {
            for (std::int32_t value : {-1, -32768, 32767})
                check(field, QString::number(value), [&, set = set](K& u) { (u.*set)(value); });
            K u; // beyond 16 bits: overflow, and the engine is not called
            (u.*set)(40000);
            m_Engine->Reset();
            CodeModule::LastMessageText = "kept";
            QVERIFY(Failure([&] { u.Unzip("/x.zip", "/y"); }).startsWith("6 KTUnZipFiles::Unzip: "));
            QVERIFY((*m_Engine).calls.empty());
            QCOMPARE(u.GetLastMessage(), std::string("kept"));
        }
    }

    void overwriteQuestionsGoToTheUser() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        const QString out = tmp.filePath("out");
        QVERIFY(MakeZip(tmp.filePath("f.zip"),
                        {{"a", "new a"}, {"b", "new b"}, {"c", "new c"}, {"d", "new d"}, {"n", "new n"}}));
        WriteAll(out, {{"a", "old"}, {"b", "old"}, {"c", "old"}, {"d", "old"}});
        KTUnzipFiles u;
        u.SetOverWriteFiles(false);
        ui.answers = {ui::Answer::No, ui::Answer::Yes, ui::Answer::Cancel}; // 100, 102, 104: no more questions
        QCOMPARE(u.Unzip(tmp.filePath("f.zip").toStdString(), out.toStdString()), 0);
        QCOMPARE(Snapshot(out), (Files{{"a", "old"}, {"b", "new b"}, {"c", "old"}, {"d", "old"}, {"n", "new n"}}));
        QCOMPARE(ui.boxes.size(), std::size_t(3));
        const auto& box = ui.boxes[0];
        QCOMPARE(box.text, "Overwrite " + out.toStdString() + "/a?");
        QCOMPARE(box.title, std::string("VBUnZip32 - File Already Exists!"));
        QVERIFY(box.buttons == ui::Buttons::YesNoCancel && box.icon == ui::Icon::Exclamation && !box.defaultButton);
        QCOMPARE(ui.unexpectedBoxes, 0);
    }

    // A receive: flat into the data folder, overwriting, asking for the password in each run until right.
    void passwordsAreAskedInEachRunAndTheLastMessageIsShared() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        const Files files{{"data_qmx/ledgra2.mdb", QByteArray(40000, 'L')}, {"norvane.mdb", "N"}};
        WriteAll(tmp.filePath("src"), files);
        QCOMPARE(Exec("zip", {"-r", "-q", "-P", "pw", tmp.filePath("FIXED.ZIP"), "."}, tmp.filePath("src")).first, 0);
        WriteFile(tmp.filePath("out/norvane.mdb"), "old");
        CodeModule::LastMessageText = "text of an earlier zip run";
        KTUnzipFiles u;
        u.SetZipFileName(tmp.filePath("FIXED.ZIP").toStdString());
        u.SetExtractDir(tmp.filePath("out\\").toStdString());
        u.SetHonorDirectories(false);
        ui.inputs = {"", "bad", "pw"};
        QVERIFY(u.Unzip() != 0); // declined: asked once in the run, nothing written
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QCOMPARE(ui.boxes[0].text, std::string("Please Enter The Password!"));
        QCOMPARE(ui.boxes[0].title, std::string(ui::AppTitle));
        QCOMPARE(Snapshot(tmp.filePath("out")), (Files{{"norvane.mdb", "old"}}));
        QVERIFY(u.GetLastMessage().find("needs a password") != std::string::npos);
        QVERIFY(u.GetLastMessage().find("earlier") == std::string::npos);
        QCOMPARE(u.Unzip("", ""), 0); // the next run asks again; the right password serves every entry
        QCOMPARE(ui.boxes.size(), std::size_t(3));
        QCOMPARE(Snapshot(tmp.filePath("out")),
                 (Files{{"ledgra2.mdb", files["data_qmx/ledgra2.mdb"]}, {"norvane.mdb", "N"}}));
        QCOMPARE(ui.unexpectedBoxes, 0);
    }
};

QTEST_GUILESS_MAIN(tst_KTUnzipFiles)
#include "tst_KTUnzipFiles.moc"
