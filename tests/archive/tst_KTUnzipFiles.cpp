#include "archive/CodeModule.h"
#include "archive/KTUnzipFiles.h"
#include "platform/error/Error.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/zipengine/ArchiveTools.h"
#include "platform/zipengine/ZipEngine.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

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

// Every DCL flag field, by name, to check that each property lands in its own field.
std::vector<std::int32_t> Flags(const zipengine::DCL& d) {
    return {d.ExtractOnlyNewer,
            d.SpaceToUnderscore,
            d.PromptToOverwrite,
            d.fQuiet,
            d.ncflag,
            d.ntflag,
            d.nvflag,
            d.nfflag,
            d.nzflag,
            d.ndflag,
            d.noflag,
            d.naflag,
            d.nZIflag,
            d.C_flag,
            d.fPrivilege};
}

} // namespace

class tst_KTUnzipFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { zipengine::ResetReceived(); }

    void defaultsReachTheEngine() {
        ui::ScriptedUi ui;
        KTUnzipFiles u;
        QCOMPARE(u.MessageLevel(), 2);
        QVERIFY(u.HonorDirectories() && u.OverWriteFiles() && u.CaseSensitive());
        QVERIFY(!u.ExtractNewer() && !u.SpaceToUnderScore() && !u.PromptOverwrite() && !u.WriteToStdOut() &&
                !u.TestZip() && !u.ExtractOnlyNewer() && !u.DisplayComment() && !u.ConvertCRtoCRLF() && !u.Verbose());
        QCOMPARE(u.ExtractList(), 0);
        QCOMPARE(u.Privilege(), 0);
        QVERIFY(u.ZipFileName().empty() && u.ExtractDir().empty());

        u.SetHonorDirectories(false);
        QVERIFY(u.Unzip() != 0); // no archive named
        const auto& r = zipengine::LastReceived();
        QCOMPARE(r.calls, (std::vector<std::string>{"UzpVersion2", "Wiz_SingleEntryUnzip"}));
        QCOMPARE(r.uzpVerStructlen, 64u);
        QCOMPARE(Flags(r.dcl), (std::vector<std::int32_t>{0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0}));
        QVERIFY(!r.dclZipFN && !r.dclExtractDir); // never set: null texts
        QCOMPARE(r.ifnc, 0);
        QCOMPARE(r.xfnc, 0);
        QVERIFY(r.unzipFunctions.print == &CodeModule::UnzipPrintCallback);
        QVERIFY(r.unzipFunctions.replace == &CodeModule::UnzipReplaceCallback);
        QVERIFY(r.unzipFunctions.password == &CodeModule::UnzipPasswordCallback);
        QVERIFY(r.unzipFunctions.SendApplicationMessage == &CodeModule::UnzipMessageCallback);
        QVERIFY(r.unzipFunctions.ServCallBk == &CodeModule::UnzipServiceCallback);
        QVERIFY(!r.unzipFunctions.sound);
    }

    void eachPropertyLandsInItsField() {
        ui::ScriptedUi ui;
        const std::vector<std::pair<std::function<void(KTUnzipFiles&)>, int>> cases = {
            {[](KTUnzipFiles& u) { u.SetExtractOnlyNewer(true); }, 0},
            {[](KTUnzipFiles& u) { u.SetSpaceToUnderScore(true); }, 1},
            {[](KTUnzipFiles& u) { u.SetPromptOverwrite(true); }, 2},
            {[](KTUnzipFiles& u) { u.SetWriteToStdOut(true); }, 4},
            {[](KTUnzipFiles& u) { u.SetTestZip(true); }, 5},
            {[](KTUnzipFiles& u) { u.SetExtractList(-1); }, 6},
            {[](KTUnzipFiles& u) { u.SetExtractNewer(true); }, 7},
            {[](KTUnzipFiles& u) { u.SetDisplayComment(true); }, 8},
            {[](KTUnzipFiles& u) { u.SetConvertCRtoCRLF(true); }, 11},
            {[](KTUnzipFiles& u) { u.SetVerbose(true); }, 12},
            {[](KTUnzipFiles& u) { u.SetPrivilege(-1); }, 14},
        };
        const std::vector<std::int32_t> base = {0, 0, 0, 2, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0};
        for (const auto& [set, field] : cases) {
            KTUnzipFiles u;
            set(u);
            u.Unzip("/nonexistent/FIXED.ZIP", "/nonexistent/out");
            std::vector<std::int32_t> expected = base;
            expected[static_cast<std::size_t>(field)] = field == 6 || field == 14 ? -1 : 1;
            QCOMPARE(Flags(zipengine::LastReceived().dcl), expected);
        }
        KTUnzipFiles u;
        u.SetMessageLevel(-5);
        u.SetOverWriteFiles(false);
        u.SetCaseSensitive(false);
        u.Unzip("/x.zip");
        QCOMPARE(Flags(zipengine::LastReceived().dcl),
                 (std::vector<std::int32_t>{0, 0, 0, -5, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
    }

    void argumentsAndOverflow() {
        ui::ScriptedUi ui;
        KTUnzipFiles u;
        u.SetZipFileName("/a/FIXED.ZIP");
        u.SetExtractDir("/a/out");
        u.Unzip();
        QCOMPARE(zipengine::LastReceived().dclZipFN, std::optional<std::string>("/a/FIXED.ZIP"));
        u.Unzip("/b/OTHER.ZIP");
        QCOMPARE(u.ZipFileName(), std::string("/b/OTHER.ZIP"));
        QCOMPARE(u.ExtractDir(), std::string("/a/out"));
        QCOMPARE(zipengine::LastReceived().dclExtractDir, std::optional<std::string>("/a/out"));

        for (auto set : {&KTUnzipFiles::SetMessageLevel, &KTUnzipFiles::SetExtractList, &KTUnzipFiles::SetPrivilege}) {
            KTUnzipFiles o;
            (o.*set)(40000);
            zipengine::ResetReceived();
            CodeModule::LastMessageText = "kept";
            zel::Error e = Raised([&] { o.Unzip("/x.zip", "/y"); });
            QCOMPARE(e.Number(), 6);
            QCOMPARE(e.Source(), std::string("KTUnZipFiles::Unzip"));
            QVERIFY(zipengine::LastReceived().calls.empty());
            QCOMPARE(o.GetLastMessage(), std::string("kept"));
        }
        KTUnzipFiles edge;
        edge.SetMessageLevel(-32768);
        edge.Unzip("/x.zip");
        QCOMPARE(zipengine::LastReceived().dcl.fQuiet, -32768);

        zipengine::SimulateMissingLibrary(true);
        zel::Error e = Raised([&] { u.Unzip(); });
        zipengine::SimulateMissingLibrary(false);
        QCOMPARE(e.Number(), 53);
        QCOMPARE(e.Source(), std::string("KTUnZipFiles::Unzip"));
        QVERIFY(e.Description().find("unzip32.dll") != std::string::npos);
    }

    void receiveExtractsFlatAndSharesTheLastMessage() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        WriteFile(tmp.filePath("src/data_qmx/ledgra2.mdb"), QByteArray(40000, 'L'));
        WriteFile(tmp.filePath("src/norvane.mdb"), "N");
        QCOMPARE(Exec("zip", {"-r", "-q", tmp.filePath("FIXED.ZIP"), "."}, tmp.filePath("src")).code, 0);
        CodeModule::LastMessageText = "text of an earlier zip run";
        KTUnzipFiles u;
        u.SetZipFileName(S(tmp.filePath("FIXED.ZIP")));
        u.SetExtractDir(S(tmp.filePath("out\\")));
        u.SetHonorDirectories(false);
        QCOMPARE(u.Unzip("", ""), 0);
        QCOMPARE(Tree(tmp.filePath("out")), (QStringList{"ledgra2.mdb", "norvane.mdb"}));
        QCOMPARE(ReadFile(tmp.filePath("out/ledgra2.mdb")), QByteArray(40000, 'L'));
        QCOMPARE(u.GetLastMessage(), std::string()); // quiet success prints nothing
        QCOMPARE(ui.boxes.size(), std::size_t(0));   // existing files would be overwritten without asking

        // A failure explains itself in the last message.
        QByteArray bytes = ReadFile(tmp.filePath("FIXED.ZIP"));
        bytes.truncate(bytes.size() / 2);
        WriteFile(tmp.filePath("BROKEN.ZIP"), bytes);
        QVERIFY(u.Unzip(S(tmp.filePath("BROKEN.ZIP"))) != 0);
        QVERIFY(u.GetLastMessage().find("BROKEN.ZIP") != std::string::npos);
    }

    void overwriteQuestionsGoToTheUser() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        QVERIFY(MakeZip(tmp.filePath("f.zip"), {{"a", "new"}, {"b", "new"}, {"c", "new"}, {"d", "new"}}));
        for (const char* n : {"a", "b", "c", "d"})
            WriteFile(tmp.filePath(QString("out/") + n), "old");
        KTUnzipFiles u;
        u.SetOverWriteFiles(false);
        ui.answers = {ui::Answer::Yes, ui::Answer::No, ui::Answer::Cancel};
        QCOMPARE(u.Unzip(S(tmp.filePath("f.zip")), S(tmp.filePath("out"))), 0);
        QCOMPARE(ui.boxes.size(), std::size_t(3));
        QCOMPARE(ui.boxes[0].text, "Overwrite " + S(tmp.filePath("out/a")) + "?");
        QCOMPARE(ui.boxes[0].title, std::string("VBUnZip32 - File Already Exists!"));
        QCOMPARE(ReadFile(tmp.filePath("out/a")), QByteArray("new"));
        for (const char* n : {"b", "c", "d"})
            QCOMPARE(ReadFile(tmp.filePath(QString("out/") + n)), QByteArray("old"));
        QCOMPARE(ui.unexpectedBoxes, 0);
    }

    void passwordPromptsPerRun() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        WriteFile(tmp.filePath("src/one.mdb"), QByteArray(3000, '1'));
        WriteFile(tmp.filePath("src/two.mdb"), "2");
        QCOMPARE(Exec("zip", {"-q", "-P", "pw", tmp.filePath("p.zip"), "one.mdb", "two.mdb"}, tmp.filePath("src")).code,
                 0);
        KTUnzipFiles u;
        u.SetZipFileName(S(tmp.filePath("p.zip")));
        ui.inputs = {"bad", "pw"};
        QCOMPARE(u.Unzip("", S(tmp.filePath("ok"))), 0);
        QCOMPARE(ui.boxes.size(), std::size_t(2));
        QCOMPARE(ReadFile(tmp.filePath("ok/one.mdb")), QByteArray(3000, '1'));
        QCOMPARE(ReadFile(tmp.filePath("ok/two.mdb")), QByteArray("2"));

        // Declined: asked once in the run, nothing written, a failure.
        ui.boxes.clear();
        ui.inputs = {""};
        QVERIFY(u.Unzip("", S(tmp.filePath("no"))) != 0);
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QCOMPARE(CodeModule::SkipPasswordPrompt, std::int16_t(1));
        QCOMPARE(Tree(tmp.filePath("no")), QStringList{});

        // The next run asks again.
        ui.inputs = {"pw"};
        QCOMPARE(u.Unzip("", S(tmp.filePath("again"))), 0);
        QCOMPARE(ui.boxes.size(), std::size_t(2));
        QCOMPARE(ui.unexpectedBoxes, 0);
    }
};

QTEST_GUILESS_MAIN(tst_KTUnzipFiles)
#include "tst_KTUnzipFiles.moc"
