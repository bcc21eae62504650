// The real Qt message and input boxes, as the program shows them: buttons, default, Esc, Cancel.
#include "platform/ui/QtUi.h"
#include "support/Gui.h"

#include <QtTest>
#include <QtWidgets>

using namespace testsupport;

namespace {

// Shows a box and does `what` to it: "enter", "esc", or the caption of a button to click (Esc when there is none).
// What the box showed lands in `shown`.
ui::Answer Answer(ui::Buttons buttons, int defaultButton, const QString& what, QString& shown) {
    WhenModal([&shown, what](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        shown = box ? box->windowTitle() + "|" + box->text() : "not a message box";
        QAbstractButton* button = nullptr;
        for (QAbstractButton* b : box ? box->buttons() : QList<QAbstractButton*>())
            button = b->text().remove('&') == what ? b : button;
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QTest::keyClick(w, what == "enter" ? Qt::Key_Return : Qt::Key_Escape);
    });
    using namespace std::string_literals;
    return ui::QtUi().MsgBox("first line\r\nsecond\0 line"s, buttons, ui::Icon::None, defaultButton, "");
}

} // namespace

class tst_QtUi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void messageBoxButtons_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("answer");
        using B = ui::Buttons;
        using A = ui::Answer;
        const auto row = [](const char* name, B buttons, int defaultButton, const char* what, A answer) {
            QTest::newRow(name) << int(buttons) << defaultButton << what << int(answer);
        };
        row("OK: Enter", B::Ok, 0, "enter", A::Ok);
        row("OK: Esc is OK", B::Ok, 0, "esc", A::Ok);
        row("OK/Cancel: Enter takes the first", B::OkCancel, 0, "enter", A::Ok);
        row("OK/Cancel: default Cancel", B::OkCancel, 1, "enter", A::Cancel);
        row("OK/Cancel: Esc", B::OkCancel, 0, "esc", A::Cancel);
        row("OK/Cancel: Cancel clicked", B::OkCancel, 0, "Cancel", A::Cancel);
        row("Yes/No/Cancel: No clicked", B::YesNoCancel, 0, "No", A::No);
        row("Yes/No/Cancel: default Yes", B::YesNoCancel, 0, "enter", A::Yes);
        row("Yes/No/Cancel: Esc", B::YesNoCancel, 1, "esc", A::Cancel);
    }
    void messageBoxButtons() {
        QFETCH(int, buttons);
        QFETCH(int, defaultButton);
        QFETCH(QString, what);
        QFETCH(int, answer);
        QString shown;
        QCOMPARE(int(Answer(ui::Buttons(buttons), defaultButton, what, shown)), answer);
        // No title given: the program's; line breaks as lines, and nothing lost after a NUL.
        QCOMPARE(shown, QString("ZEL FTP CLIENT|first line\nsecond line"));
    }

    void inputBoxGivesTheTextOrNothing() {
        for (const bool cancel : {false, true}) {
            WhenModal([cancel](QWidget* w) {
                QTest::keyClicks(w->findChild<QLineEdit*>(), "s3cret");
                QTest::keyClick(w, cancel ? Qt::Key_Escape : Qt::Key_Return);
            });
            QCOMPARE(ui::QtUi().InputBox("Please Enter The Password!"), cancel ? std::string() : "s3cret");
        }
    }
};

QTEST_MAIN(tst_QtUi)
#include "tst_QtUi.moc"
