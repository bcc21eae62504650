#include "archive/CodeModule.h"
#include "support/ScriptedUi.h"

#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

using namespace CodeModule;

class tst_CodeModule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void printCallbacksFillTheSharedLastMessage() {
        ui::ScriptedUi ui;
        auto Buffer = [](std::string text) { // the engines' buffers are larger than what they hold
            text.resize(32801);
            return text;
        };
        LastMessageText.clear();
        QCOMPARE(ZipPrintCallback(Buffer("abc").data(), 3), 0);
        ZipPrintCallback(Buffer("defgh").data(), 3);               // at most length bytes
        ZipPrintCallback(Buffer(std::string("\0x", 2)).data(), 5); // a first zero byte adds nothing
        QCOMPARE(LastMessageText, std::string("abcdef"));
        QCOMPARE(ui.doEventsCalls, 3); // printing keeps the window alive

        // Unzip: a text starting with a line feed becomes one CR LF; the run's text replaces a zip run's.
        UnzipPrintText.clear();
        for (const char* text : {"\n", "\nabc", "abc\n", "x\ny"})
            QCOMPARE(UnzipPrintCallback(Buffer(text).data(), std::uint32_t(std::strlen(text))), 0);
        QCOMPARE(LastMessageText, std::string("\r\n\r\nabc\nx\ny"));
        QCOMPARE(UnzipPrintText, LastMessageText);
    }

    void passwordIsWrittenInsideTheBuffer() {
        ui::ScriptedUi ui;
        SkipPasswordPrompt = 0;
        ui.inputs = {"abc", "0123456789"};
        std::vector<char> buffer(81 + 8, '\x7f');
        QCOMPARE(UnzipPasswordCallback(buffer.data(), 81, "prompt", "entry"), std::int16_t(0));
        QCOMPARE(QByteArray(buffer.data(), 81), QByteArray("abc") + QByteArray(78, '\0'));
        QCOMPARE(buffer[81], '\x7f');
        QVERIFY(ui.boxes.at(0).input);
        // A longer answer is cut to fit, the zero byte included.
        std::vector<char> small(6 + 4, '\x7f');
        QCOMPARE(UnzipPasswordCallback(small.data(), 6, "", ""), std::int16_t(0));
        QCOMPARE(QByteArray(small.data(), 7), QByteArray("01234\0\x7f", 7));
    }

    void replaceShowsAtMost256Characters() {
        ui::ScriptedUi ui;
        ui.answers = {ui::Answer::Yes};
        std::string name(300, 'n');
        QCOMPARE(UnzipReplaceCallback(name.data()), 102);
        QCOMPARE(ui.boxes.at(0).text, "Overwrite " + std::string(256, 'n') + "?");
    }
};

QTEST_GUILESS_MAIN(tst_CodeModule)
#include "tst_CodeModule.moc"
