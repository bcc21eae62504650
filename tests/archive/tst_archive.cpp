// The archive drivers and the engines' callbacks, over the real engines.
#include "archive/CodeModule.h"
#include "archive/KTUnzipFiles.h"
#include "archive/KTZipFiles.h"
#include "support/ArchiveTools.h"
#include "support/ScriptedUi.h"
#include "support/TestFiles.h"

#include <QtTest>

#include <cstring>
#include <functional>
#include <vector>

using namespace testsupport;
using namespace ziptest;

using ZipSetup = std::function<void(KTZipFiles&)>;
using UnzipSetup = std::function<void(KTUnzipFiles&)>;
Q_DECLARE_METATYPE(ZipSetup)
Q_DECLARE_METATYPE(UnzipSetup)

namespace {

const QString AlreadyListed = "2001 KTZip::AddFile: File is already in Zip List"; // vbObjectError + 2001
const QString NotListed = "2002 KTZip::RemoveFile: File is not in Zip List";

} // namespace

class tst_archive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void printCallbacksFillTheSharedLastMessage() {
        ui::ScriptedUi ui;
        auto buffer = [](std::string text) { // the engines' buffers are larger than what they hold
            text.resize(32801);
            return text;
        };
        CodeModule::LastMessageText.clear();
        CodeModule::ZipPrintCallback(buffer("abc").data(), 3);
        CodeModule::ZipPrintCallback(buffer("defgh").data(), 3);               // at most length bytes
        CodeModule::ZipPrintCallback(buffer(std::string("\0x", 2)).data(), 5); // a first zero byte adds nothing
        QCOMPARE(CodeModule::LastMessageText, std::string("abcdef"));
        QCOMPARE(ui.doEventsCalls, 3); // printing keeps the window alive
        // Unzip: a text starting with a line feed becomes one CR LF; the run's text replaces a zip run's.
        CodeModule::UnzipPrintText.clear();
        for (const char* text : {"\n", "\nabc", "abc\n", "x\ny"})
            CodeModule::UnzipPrintCallback(buffer(text).data(), std::uint32_t(std::strlen(text)));
        QCOMPARE(CodeModule::LastMessageText, std::string("\r\n\r\nabc\nx\ny"));
    }

    void thePasswordIsWrittenWithinTheBuffer() {
        ui::ScriptedUi ui;
        CodeModule::SkipPasswordPrompt = 0;
        ui.inputs = {"0123456789"};
        std::vector<char> small(6 + 4, '\x7f');
        QCOMPARE(CodeModule::UnzipPasswordCallback(small.data(), 6, "", ""), std::int16_t(0));
        QCOMPARE(QByteArray(small.data(), 7), QByteArray("01234\0\x7f", 7)); // cut to fit, the zero byte included
    }

    void replaceQuestions() {
        // Cancel answers for the files after it too; a long name is shown cut.
        for (const auto& [answer, length, code, shown] : {std::tuple{ui::Answer::Yes, 10, 102, 10},
                                                          {ui::Answer::No, 10, 100, 10},
                                                          {ui::Answer::Cancel, 10, 104, 10},
                                                          {ui::Answer::Yes, 300, 102, 256}}) {
            ui::ScriptedUi ui;
            ui.answers = {answer};
            std::string name(std::size_t(length), 'n');
            QCOMPARE(CodeModule::UnzipReplaceCallback(name.data()), code);
            QCOMPARE(ui.boxes.size(), std::size_t(1));
            QCOMPARE(ui.boxes[0].text, "Overwrite " + std::string(std::size_t(shown), 'n') + "?");
            QCOMPARE(ui.boxes[0].title, std::string("VBUnZip32 - File Already Exists!"));
            QVERIFY(ui.boxes[0].buttons == ui::Buttons::YesNoCancel && ui.boxes[0].icon == ui::Icon::Exclamation);
        }
    }

    // The zip list: names compared without regard to case, the seed entry "querty" first, the count leaving it
    // out. "+name" adds, "-name" removes; the names listed then go to the engine, relative to the root.
    void theZipList_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("raised"); // by the last step that raised
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("packed");
        QTest::newRow("names are packed")
            << QStringList{"+a.txt", "+b.txt"} << "" << 2 << QStringList{"a.txt", "b.txt"};
        QTest::newRow("a name listed in another case")
            << QStringList{"+a.txt", "+A.TXT"} << AlreadyListed << 1 << QStringList{"a.txt"};
        QTest::newRow("the seed entry is listed") << QStringList{"+QUERTY"} << AlreadyListed << 0 << QStringList{};
        QTest::newRow("a name removed in another case")
            << QStringList{"+a.txt", "+b.txt", "+c.txt", "-B.TXT"} << "" << 2 << QStringList{"a.txt", "c.txt"};
        QTest::newRow("the seed entry removed") << QStringList{"-querty", "+a.txt"} << "" << 0 << QStringList{"a.txt"};
        QTest::newRow("a name not listed") << QStringList{"+a.txt", "-b.txt"} << NotListed << 1 << QStringList{"a.txt"};
    }
    void theZipList() {
        QFETCH(QStringList, steps);
        QFETCH(QString, raised);
        QFETCH(int, count);
        QFETCH(QStringList, packed);
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        WriteTree(tmp.filePath("d"), {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
        KTZipFiles z;
        z.SetZipFileName(Win(tmp.filePath("ZEL.ZIP")));
        z.SetRootDirectory(Windows(tmp.filePath("d")));
        QString last;
        for (const QString& step : steps) {
            const std::string name = step.mid(1).toStdString();
            if (const QString r = Raised([&] { step.startsWith('+') ? z.AddFile(name) : z.RemoveFile(name); });
                !r.isEmpty())
                last = r;
        }
        QCOMPARE(last, raised);
        QCOMPARE(z.ZipFileCount(), count);
        QCOMPARE(z.MakeZipFile(), packed.isEmpty() ? 12 : 0);
        QCOMPARE(packed.isEmpty() ? QStringList{} : Listing(tmp.filePath("ZEL.ZIP")), packed);
    }

    void theZipListHoldsAtMost99Names() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        KTZipFiles z;
        z.SetZipFileName(Win(tmp.filePath("ZEL.ZIP")));
        for (int i = 1; i <= 99; ++i) // the engine takes 100 names, the seed entry first
            z.AddFile("f" + std::to_string(i));
        QCOMPARE(z.MakeZipFile(), 12); // none of them exists: nothing to do
        QVERIFY(z.GetLastMessage().find("name not matched: f99") != std::string::npos);
        z.AddFile("f100");
        CodeModule::LastMessageText = "previous run";
        QVERIFY(Raised([&] { z.MakeZipFile(); }).startsWith("9 KTZipFiles::MakeZipFile: Subscript out of range"));
        QCOMPARE(z.GetLastMessage(), std::string("previous run")); // the engine was not called
    }

    // What the zip options change in the archive of the pattern "*" of a folder (<d> its path as an entry stores it).
    // Every run replaces a leftover archive, never adds to it.
    void zipOptions_data() {
        QTest::addColumn<ZipSetup>("setup");
        QTest::addColumn<QStringList>("packed");
        QTest::newRow("defaults: the folder's visible files") << ZipSetup([](KTZipFiles&) {}) << QStringList{"a.txt"};
        QTest::newRow("RecurseFolders") << ZipSetup([](KTZipFiles& z) { z.SetRecurseFolders(true); })
                                        << QStringList{"a.txt", "sub/b.txt"};
        QTest::newRow("RootDirectory the top: entries with their whole path")
            << ZipSetup([](KTZipFiles& z) { z.SetRootDirectory("\\"); }) << QStringList{"<d>/a.txt"};
        QTest::newRow("IncludeSystemFiles is never handed over")
            << ZipSetup([](KTZipFiles& z) { z.SetIncludeSystemFiles(true); }) << QStringList{"a.txt"};
        QTest::newRow("Encrypted is never handed over")
            << ZipSetup([](KTZipFiles& z) { z.SetEncrypted(true); }) << QStringList{"a.txt"};
        QTest::newRow("UpdatingZip: still a fresh archive")
            << ZipSetup([](KTZipFiles& z) { z.SetUpdatingZip(true); }) << QStringList{"a.txt"};
    }
    void zipOptions() {
        QFETCH(ZipSetup, setup);
        QFETCH(QStringList, packed);
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        const QString d = tmp.filePath("d"), archive = tmp.filePath("ZEL.ZIP");
        WriteTree(d, {{"a.txt", "a"}, {".hidden", "h"}, {"sub/b.txt", "b"}});
        QVERIFY(MakeZip(archive, {{"leftover.txt", "x"}}));
        KTZipFiles z;
        z.SetZipFileName(Win(archive));
        z.SetRootDirectory(Windows(d));
        z.AddFile(Win(d + "/*"));
        setup(z);
        QCOMPARE(z.MakeZipFile(), 0);
        packed.replaceInStrings("<d>", StoredName(d));
        QCOMPARE(Listing(archive), packed);
    }

    // What the unzip options change: the archive holds old.txt and new.txt (both also in the folder, old.txt older
    // and new.txt newer than in the archive), extra.txt and "sub/c d.txt", and a comment. A replace question is
    // answered yes, then no.
    void unzipOptions_data() {
        QTest::addColumn<UnzipSetup>("setup");
        QTest::addColumn<Files>("folder"); // afterwards
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("shown");    // in the message
        QTest::addColumn<QString>("notShown"); // not in the message
        const Files all{{"old.txt", "new old"}, {"new.txt", "new new"}, {"extra.txt", "e"}, {"sub/c d.txt", "cd"}};
        const Files untouched{{"old.txt", "old"}, {"new.txt", "kept"}};
        const auto with = [](Files files, const Files& changes) {
            for (auto it = changes.cbegin(); it != changes.cend(); ++it)
                it.value().isNull() ? void(files.remove(it.key())) : void(files.insert(it.key(), it.value()));
            return files;
        };
        const auto row = [](const char* name, const Files& folder, int questions, const QString& shown,
                            const QString& notShown, const UnzipSetup& setup) {
            QTest::newRow(name) << setup << folder << questions << shown << notShown;
        };
        const QString inflating = "inflating:";
        row("defaults: folders kept, files replaced", all, 0, {}, inflating, [](KTUnzipFiles&) {});
        row("HonorDirectories off", with(all, {{"sub/c d.txt", {}}, {"c d.txt", "cd"}}), 0, {}, inflating,
            [](KTUnzipFiles& u) { u.SetHonorDirectories(false); });
        row("SpaceToUnderScore", with(all, {{"sub/c d.txt", {}}, {"sub/c_d.txt", "cd"}}), 0, {}, inflating,
            [](KTUnzipFiles& u) { u.SetSpaceToUnderScore(true); });
        row("ExtractNewer: older files only", with(untouched, {{"old.txt", "new old"}}), 0, {}, inflating,
            [](KTUnzipFiles& u) { u.SetExtractNewer(true); });
        row("ExtractOnlyNewer: not over newer files", with(all, {{"new.txt", "kept"}}), 0, {}, inflating,
            [](KTUnzipFiles& u) { u.SetExtractOnlyNewer(true); });
        row("OverWriteFiles off: the user is asked", with(all, {{"new.txt", "kept"}}), 2, {}, inflating,
            [](KTUnzipFiles& u) { u.SetOverWriteFiles(false); });
        row("TestZip: checked, nothing written", untouched, 0, "    testing: old.txt   OK", inflating,
            [](KTUnzipFiles& u) { u.SetTestZip(true), u.SetMessageLevel(0); });
        row("ExtractList: listed, nothing written", untouched, 0, {},
            "testing:", [](KTUnzipFiles& u) { u.SetExtractList(1), u.SetMessageLevel(0); });
        row("DisplayComment", all, 0, "the archive's comment", inflating,
            [](KTUnzipFiles& u) { u.SetDisplayComment(true); });
        row("MessageLevel 0: every file shown", all, 0, "  inflating: ", {},
            [](KTUnzipFiles& u) { u.SetMessageLevel(0); });
        // Kept by the object and handed over; the engine does nothing with them.
        for (const auto& [name, setup] : std::initializer_list<std::pair<const char*, UnzipSetup>>{
                 {"PromptOverwrite", [](KTUnzipFiles& u) { u.SetPromptOverwrite(true); }},
                 {"WriteToStdOut", [](KTUnzipFiles& u) { u.SetWriteToStdOut(true); }},
                 {"ConvertCRtoCRLF", [](KTUnzipFiles& u) { u.SetConvertCRtoCRLF(true); }},
                 {"Verbose", [](KTUnzipFiles& u) { u.SetVerbose(true); }},
                 {"CaseSensitive off", [](KTUnzipFiles& u) { u.SetCaseSensitive(false); }},
                 {"Privilege", [](KTUnzipFiles& u) { u.SetPrivilege(1); }}})
            row(name, all, 0, {}, inflating, setup);
    }
    void unzipOptions() {
        QFETCH(UnzipSetup, setup);
        QFETCH(Files, folder);
        QFETCH(int, questions);
        QFETCH(QString, shown);
        QFETCH(QString, notShown);
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Yes, ui::Answer::No};
        QTemporaryDir tmp;
        const QString archive = tmp.filePath("FIXED.ZIP"), out = tmp.filePath("out");
        QVERIFY(MakeZip(archive,
                        {{"old.txt", "new old"}, {"new.txt", "new new"}, {"extra.txt", "e"}, {"sub/c d.txt", "cd"}}));
        QByteArray bytes = ReadFile(archive); // the comment follows the end record, whose last field is its length
        const QByteArray comment = "the archive's comment";
        bytes[bytes.size() - 2] = char(comment.size());
        WriteFile(archive, bytes + comment);
        WriteTree(out, {{"old.txt", "old"}, {"new.txt", "kept"}});
        QFile old(out + "/old.txt"); // the archive's entries are of 1980
        QVERIFY(old.open(QIODevice::ReadWrite) &&
                old.setFileTime(QDateTime(QDate(1975, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
        old.close();
        KTUnzipFiles u;
        setup(u);
        QCOMPARE(u.Unzip(Win(archive), Win(out)), 0);
        QCOMPARE(Snapshot(out), folder);
        QCOMPARE(int(ui.boxes.size()), questions);
        const QString message = QString::fromStdString(u.GetLastMessage());
        QVERIFY2(message.contains(shown) && (notShown.isEmpty() || !message.contains(notShown)), qPrintable(message));
    }

    // Numbers go to the engine in 16 bits: beyond, the run is refused before the engine is called.
    void numbersBeyond16Bits() {
        for (const auto& [setup, refused] : std::initializer_list<std::pair<UnzipSetup, bool>>{
                 {[](KTUnzipFiles& u) { u.SetMessageLevel(32768); }, true},
                 {[](KTUnzipFiles& u) { u.SetExtractList(-32769); }, true},
                 {[](KTUnzipFiles& u) { u.SetPrivilege(40000); }, true},
                 {[](KTUnzipFiles& u) { u.SetPrivilege(-32768); }, false}}) {
            ui::ScriptedUi ui;
            KTUnzipFiles u;
            setup(u);
            CodeModule::LastMessageText = "kept";
            QCOMPARE(Raised([&] { u.Unzip("/nonexistent/FIXED.ZIP", "/nonexistent/out"); }),
                     refused ? QString("6 KTUnZipFiles::Unzip: Overflow") : QString());
            QCOMPARE(u.GetLastMessage() == "kept", refused);
        }
    }

    // A receive: flat into the data folder, overwriting, asking for the password in each run until right.
    void passwordsAreAskedInEachRun() {
        ui::ScriptedUi ui;
        QTemporaryDir tmp;
        const Files files{{"data_qmx/ledgra2.mdb", QByteArray(40000, 'L')}, {"norvane.mdb", "N"}};
        WriteTree(tmp.filePath("src"), files);
        QCOMPARE(Exec("zip", {"-r", "-q", "-P", "pw", tmp.filePath("FIXED.ZIP"), "."}, tmp.filePath("src")).first, 0);
        WriteFile(tmp.filePath("out/norvane.mdb"), "old");
        CodeModule::LastMessageText = "text of an earlier zip run";
        KTUnzipFiles u;
        QVERIFY(u.Unzip() != 0); // no archive named
        u.SetZipFileName(tmp.filePath("FIXED.ZIP").toStdString());
        u.SetExtractDir(tmp.filePath("out\\").toStdString());
        u.SetHonorDirectories(false);
        ui.inputs = {"", "bad", "pw"};
        QVERIFY(u.Unzip() != 0); // declined: asked once in the run, nothing written
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QCOMPARE(ui.boxes[0].text, std::string("Please Enter The Password!"));
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

QTEST_GUILESS_MAIN(tst_archive)
#include "tst_archive.moc"
