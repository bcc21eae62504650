// The archive drivers and the engines' callbacks, over the real engines.
#include "archive/CodeModule.h"
#include "archive/KTUnzipFiles.h"
#include "support/ArchiveTools.h"
#include "support/ScriptedUi.h"
#include "support/TestFiles.h"

#include <QtTest>

using namespace testsupport;
using namespace ziptest;

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
