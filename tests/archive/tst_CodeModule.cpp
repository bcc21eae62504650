#include "archive/CodeModule.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/zipengine/ZipEngine.h"

#include <QtTest>

#include <cstring>
#include <vector>

using namespace CodeModule;

class tst_CodeModule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void zipPrintCollectsTextAndPumpsEvents() {
        ui::ScriptedUi ui;
        LastMessageText.clear();
        std::vector<char> buffer(4097, '\0');
        std::strcpy(buffer.data(), "abc");
        QCOMPARE(ZipPrintCallback(buffer.data(), 3), 0);
        std::strcpy(buffer.data(), "defgh");
        ZipPrintCallback(buffer.data(), 3); // at most length bytes
        buffer[0] = '\0';
        buffer[1] = 'x';
        ZipPrintCallback(buffer.data(), 5); // a first zero byte adds nothing
        QCOMPARE(LastMessageText, std::string("abcdef"));
        QCOMPARE(ui.doEventsCalls, 3);
    }

    void unzipPrintAppliesTheLineFeedRule() {
        LastMessageText = "left from a zip run";
        UnzipPrintText.clear();
        auto print = [](const char* text) {
            std::vector<char> buffer(32801, '\0');
            std::strcpy(buffer.data(), text);
            return UnzipPrintCallback(buffer.data(), static_cast<std::uint32_t>(std::strlen(text)));
        };
        QCOMPARE(print("\n"), 0);
        QCOMPARE(LastMessageText, std::string("\r\n"));
        print("\nabc");
        print("abc\n");
        print("x\ny");
        QCOMPARE(LastMessageText, std::string("\r\n\r\nabc\nx\ny"));
        QCOMPARE(UnzipPrintText, LastMessageText);
    }

    void passwordIsWrittenInsideTheBuffer() {
        ui::ScriptedUi ui;
        SkipPasswordPrompt = 0;
        ui.inputs = {"abc", "0123456789", ""};
        std::vector<char> buffer(81 + 8, '\x7f');
        QCOMPARE(UnzipPasswordCallback(buffer.data(), 81, "prompt", "entry"), std::int16_t(0));
        QCOMPARE(QByteArray(buffer.data(), 3), QByteArray("abc"));
        for (int i = 3; i < 81; ++i)
            QCOMPARE(buffer[i], '\0');
        QCOMPARE(buffer[81], '\x7f');
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QVERIFY(ui.boxes[0].input);
        QCOMPARE(ui.boxes[0].text, std::string("Please Enter The Password!"));
        QCOMPARE(ui.boxes[0].title, std::string(ui::AppTitle));

        // An answer longer than the buffer is cut to fit, the zero byte included.
        std::vector<char> small(6 + 4, '\x7f');
        QCOMPARE(UnzipPasswordCallback(small.data(), 6, "", ""), std::int16_t(0));
        QCOMPARE(QByteArray(small.data(), 6), QByteArray("01234\0", 6));
        QCOMPARE(small[6], '\x7f');

        // An empty answer stops the prompts for the rest of the run.
        QCOMPARE(UnzipPasswordCallback(buffer.data(), 81, "", ""), std::int16_t(1));
        QCOMPARE(SkipPasswordPrompt, std::int16_t(1));
        QCOMPARE(UnzipPasswordCallback(buffer.data(), 81, "", ""), std::int16_t(1));
        QCOMPARE(ui.boxes.size(), std::size_t(3));
        QCOMPARE(ui.unexpectedBoxes, 0);
    }

    void replaceAsksTheUser() {
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Yes, ui::Answer::No, ui::Answer::Cancel};
        char name[] = "/data/x.mdb";
        QCOMPARE(UnzipReplaceCallback(name), 102);
        QCOMPARE(UnzipReplaceCallback(name), 100);
        QCOMPARE(UnzipReplaceCallback(name), 104);
        const auto& box = ui.boxes.at(0);
        QCOMPARE(box.text, std::string("Overwrite /data/x.mdb?"));
        QCOMPARE(box.title, std::string("VBUnZip32 - File Already Exists!"));
        QCOMPARE(box.buttons, ui::Buttons::YesNoCancel);
        QCOMPARE(box.icon, ui::Icon::Exclamation);
        QCOMPARE(box.defaultButton, 0);

        std::string longName(300, 'n'); // read up to 256 characters
        ui.answers = {ui::Answer::No};
        UnzipReplaceCallback(longName.data());
        QCOMPARE(ui.boxes.back().text, "Overwrite " + std::string(256, 'n') + "?");
    }

    void otherCallbacksAnswerAsFixed() {
        char buffer[16] = "untouched";
        QCOMPARE(ZipPasswordCallback(buffer, 16, "p", "n"), 1);
        QCOMPARE(QByteArray(buffer), QByteArray("untouched"));
        QCOMPARE(ZipCommentCallback(buffer), buffer);
        QCOMPARE(UnzipServiceCallback("name", 4), 0);
    }

    void zipDriverNeverReportsAnUnrunEngineAsSuccess() {
        ui::ScriptedUi ui;
        zipengine::SimulateMissingLibrary(true);
        ZipNameList names;
        names.s[0] = "querty";
        std::int32_t r = VBZip(1, "/nowhere/ZEL.ZIP", names, 0, 0, 0, 0, "\\", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        zipengine::SimulateMissingLibrary(false);
        QVERIFY(r != 0);
        QVERIFY(LastMessageText.find("zip32.dll") != std::string::npos);
    }
};

QTEST_GUILESS_MAIN(tst_CodeModule)
#include "tst_CodeModule.moc"
