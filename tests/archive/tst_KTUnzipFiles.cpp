#include "archive/CodeModule.h"
#include "archive/KTUnzipFiles.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/zipengine/ArchiveTools.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;

namespace {

// The DCL's flag fields in order.
QString Flags() {
    const zipengine::DCL& d = zipengine::LastReceived().dcl;
    QStringList v;
    for (std::int32_t f :
         {d.ExtractOnlyNewer, d.SpaceToUnderscore, d.PromptToOverwrite, d.fQuiet, d.ncflag, d.ntflag, d.nvflag,
          d.nfflag, d.nzflag, d.ndflag, d.noflag, d.naflag, d.nZIflag, d.C_flag, d.fPrivilege})
        v << QString::number(f);
    return v.join(' ');
}

} // namespace

class tst_KTUnzipFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { zipengine::ResetReceived(); }

    void defaultsReachTheEngine() {
        ui::ScriptedUi ui;
        KTUnzipFiles u;
        QVERIFY(u.Unzip() != 0); // no archive named
        const auto& r = zipengine::LastReceived();
        QCOMPARE(r.calls, (std::vector<std::string>{"UzpVersion2", "Wiz_SingleEntryUnzip"}));
        QCOMPARE(r.uzpVerStructlen, 64u);
        QCOMPARE(Flags(), QString("0 0 0 2 0 0 0 0 0 1 1 0 0 1 0"));
        QVERIFY(!r.dclZipFN && !r.dclExtractDir); // never set: null texts
        QVERIFY(r.ifnc == 0 && r.xfnc == 0 && !r.unzipFunctions.sound);
        QVERIFY(r.unzipFunctions.print == &CodeModule::UnzipPrintCallback);
        QVERIFY(r.unzipFunctions.replace == &CodeModule::UnzipReplaceCallback);
        QVERIFY(r.unzipFunctions.password == &CodeModule::UnzipPasswordCallback);
        QVERIFY(r.unzipFunctions.SendApplicationMessage == &CodeModule::UnzipMessageCallback);
        QVERIFY(r.unzipFunctions.ServCallBk == &CodeModule::UnzipServiceCallback);
    }

    void eachPropertyLandsInItsField() {
        ui::ScriptedUi ui;
        const struct {
            int field;
            void (*set)(KTUnzipFiles&);
            const char* value;
        } cases[] = {
            {0, [](KTUnzipFiles& u) { u.SetExtractOnlyNewer(true); }, "1"},
            {1, [](KTUnzipFiles& u) { u.SetSpaceToUnderScore(true); }, "1"},
            {2, [](KTUnzipFiles& u) { u.SetPromptOverwrite(true); }, "1"},
            {3, [](KTUnzipFiles& u) { u.SetMessageLevel(-5); }, "-5"},
            {3, [](KTUnzipFiles& u) { u.SetMessageLevel(-32768); }, "-32768"},
            {4, [](KTUnzipFiles& u) { u.SetWriteToStdOut(true); }, "1"},
            {5, [](KTUnzipFiles& u) { u.SetTestZip(true); }, "1"},
            {6, [](KTUnzipFiles& u) { u.SetExtractList(-1); }, "-1"},
            {7, [](KTUnzipFiles& u) { u.SetExtractNewer(true); }, "1"},
            {8, [](KTUnzipFiles& u) { u.SetDisplayComment(true); }, "1"},
            {9, [](KTUnzipFiles& u) { u.SetHonorDirectories(false); }, "0"},
            {10, [](KTUnzipFiles& u) { u.SetOverWriteFiles(false); }, "0"},
            {11, [](KTUnzipFiles& u) { u.SetConvertCRtoCRLF(true); }, "1"},
            {12, [](KTUnzipFiles& u) { u.SetVerbose(true); }, "1"},
            {13, [](KTUnzipFiles& u) { u.SetCaseSensitive(false); }, "0"},
            {14, [](KTUnzipFiles& u) { u.SetPrivilege(-1); }, "-1"},
        };
        for (const auto& c : cases) {
            KTUnzipFiles u;
            c.set(u);
            u.Unzip("/nonexistent/FIXED.ZIP", "/nonexistent/out");
            QStringList expected = QString("0 0 0 2 0 0 0 0 0 1 1 0 0 1 0").split(' ');
            expected[c.field] = c.value;
            QCOMPARE(Flags(), expected.join(' '));
        }
    }

    void argumentsAndFailures() {
        ui::ScriptedUi ui;
        KTUnzipFiles u;
        u.SetZipFileName("/a/FIXED.ZIP");
        u.SetExtractDir("/a/out");
        u.Unzip("/b/OTHER.ZIP"); // an empty argument keeps what was set
        QCOMPARE(zipengine::LastReceived().dclZipFN, std::optional<std::string>("/b/OTHER.ZIP"));
        QCOMPARE(zipengine::LastReceived().dclExtractDir, std::optional<std::string>("/a/out"));
        for (auto set : {&KTUnzipFiles::SetMessageLevel, &KTUnzipFiles::SetExtractList, &KTUnzipFiles::SetPrivilege}) {
            KTUnzipFiles o;
            (o.*set)(40000);
            zipengine::ResetReceived();
            CodeModule::LastMessageText = "kept";
            QVERIFY(Failure([&] { o.Unzip("/x.zip", "/y"); }).startsWith("6 KTUnZipFiles::Unzip: "));
            QVERIFY(zipengine::LastReceived().calls.empty());
            QCOMPARE(o.GetLastMessage(), std::string("kept"));
        }
        zipengine::SimulateMissingLibrary(true);
        const QString missing = Failure([&] { u.Unzip(); });
        zipengine::SimulateMissingLibrary(false);
        QVERIFY2(missing.startsWith("53 KTUnZipFiles::Unzip: ") && missing.contains("unzip32.dll"),
                 qPrintable(missing));
    }

    // A receive: flat into the data folder, overwriting, asking for the password in each run until right.
    void receiveAsksThroughTheUserAndSharesTheLastMessage() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        const Files files{{"data_qmx/ledgra2.mdb", QByteArray(40000, 'L')}, {"norvane.mdb", "N"}};
        WriteAll(tmp.filePath("src"), files);
        QCOMPARE(Exec("zip", {"-r", "-q", "-P", "pw", tmp.filePath("FIXED.ZIP"), "."}, tmp.filePath("src")).first, 0);
        WriteFile(tmp.filePath("out/norvane.mdb"), "old");
        CodeModule::LastMessageText = "text of an earlier zip run";
        KTUnzipFiles u;
        u.SetZipFileName(S(tmp.filePath("FIXED.ZIP")));
        u.SetExtractDir(S(tmp.filePath("out\\")));
        u.SetHonorDirectories(false);
        ui.inputs = {"", "bad", "pw"};
        QVERIFY(u.Unzip() != 0); // declined: asked once in the run, nothing written
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QCOMPARE(Snapshot(tmp.filePath("out")), (Files{{"norvane.mdb", "old"}}));
        QVERIFY(u.GetLastMessage().find("needs a password") != std::string::npos);
        QVERIFY(u.GetLastMessage().find("earlier") == std::string::npos);
        QCOMPARE(u.Unzip("", ""), 0); // the next run asks again
        QCOMPARE(ui.boxes.size(), std::size_t(3));
        QCOMPARE(Snapshot(tmp.filePath("out")),
                 (Files{{"ledgra2.mdb", files["data_qmx/ledgra2.mdb"]}, {"norvane.mdb", "N"}}));
        QCOMPARE(ui.unexpectedBoxes, 0);
    }
};

QTEST_GUILESS_MAIN(tst_KTUnzipFiles)
#include "tst_KTUnzipFiles.moc"
