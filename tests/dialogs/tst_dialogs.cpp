// The help text and the host name dialog on their own.
#include "dialogs/dlgHost.h"
#include "dialogs/frmHelp.h"
#include "platform/ui/ScriptedUi.h"
#include "support/Gui.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

class tst_dialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void helpTextHasItsThreeParagraphs() {
        const std::string text = frmHelp::HelpText();
        const std::string title = "ZEL FTP CLIENT v0.1 HELP FILE\r\n";
        QCOMPARE(text.substr(0, title.size()), title);
        // Purpose sentence ends in a blank, then an empty line.
        const auto gap = text.find("\r\n\r\n");
        QVERIFY(gap != std::string::npos);
        QCOMPARE(text.substr(gap - 20, 20), std::string("encountered errors. "));
        QCOMPARE(text.find("\r\n", gap + 4), std::string::npos); // the instructions are one paragraph
        QVERIFY(text.find("click \"Test Connection\".  If you are sending your files, click \"Send Files\", and to "
                          "recieve fixed files, click \"Recieve Files\".  The \"Status\" box") != std::string::npos);
        QVERIFY(text.find("Type the username into the \"Username\" field and the password into the \"Password\" "
                          "field.  Then click") != std::string::npos);
        QVERIFY(text.find("go to Start, Programs, Tovamark, and then TOVA Configuration Utility.  Any other "
                          "questions") != std::string::npos);
        // The support number appears twice; the text ends with the e-mail address, a blank and a full stop.
        const auto first = text.find("obtained by calling ");
        QVERIFY(first != std::string::npos);
        const std::string phone = text.substr(first + 20, text.find(" and speaking", first) - first - 20);
        QVERIFY(!phone.empty());
        const std::string tail = "Technical Support at " + phone + " or ";
        const auto at = text.find(tail);
        QVERIFY(at != std::string::npos);
        const std::string email = text.substr(at + tail.size(), text.size() - at - tail.size() - 2);
        QVERIFY(email.find('@') != std::string::npos);
        QCOMPARE(text.substr(text.size() - 2), std::string(" ."));
    }

    void helpWindowShowsTheTextAndCloseHides() {
        frmHelp help;
        help.show();
        QCOMPARE(help.findChild<QPlainTextEdit*>("Text1")->toPlainText().toStdString(),
                 QString::fromStdString(frmHelp::HelpText()).replace("\r\n", "\n").toStdString());
        QTest::mouseClick(help.findChild<QAbstractButton*>("Command1"), Qt::LeftButton);
        QVERIFY(!help.isVisible());
    }

    void hostDialogOkAndCancel() {
        dlgHost dlg;
        dlg.show();
        auto* box = dlg.findChild<QLineEdit*>("txtHostname");
        QCOMPARE(box->text(), QString());
        QTest::keyClicks(box, "ftp.example.net");
        QTest::mouseClick(dlg.findChild<QAbstractButton*>("OKButton"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QVERIFY(dlg.Accepted());
        QCOMPARE(dlg.HostText(), QString("ftp.example.net"));

        dlg.show();
        QVERIFY(!dlg.Accepted());
        QCOMPARE(box->text(), QString("ftp.example.net"));
        QTest::mouseClick(dlg.findChild<QAbstractButton*>("CancelButton"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QVERIFY(!dlg.Accepted());
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
