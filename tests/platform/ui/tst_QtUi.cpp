// The real Qt message and input boxes, as the program shows them: buttons, default, Esc, Cancel.
#include "platform/ui/QtUi.h"
#include "support/Gui.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

using namespace testsupport;

namespace {

// Shows a box and does `what` to it: "enter", "esc", or the caption of a button to click.
ui::Answer Answer(ui::Buttons buttons, int defaultButton, const QString& what, QString* shown = nullptr) {
    WhenModal([=](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        QVERIFY(box);
        if (shown)
            *shown = box->windowTitle() + "|" + box->text();
        if (what == "enter" || what == "esc") {
            QTest::keyClick(box, what == "enter" ? Qt::Key_Return : Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* b : box->buttons())
            if (b->text().remove('&') == what)
                return QTest::mouseClick(b, Qt::LeftButton);
        QFAIL(qPrintable("no button " + what));
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
        QTest::newRow("OK: Enter") << int(B::Ok) << 0 << "enter" << int(A::Ok);
        QTest::newRow("OK: Esc is OK") << int(B::Ok) << 0 << "esc" << int(A::Ok);
        QTest::newRow("OK/Cancel: Enter takes the first") << int(B::OkCancel) << 0 << "enter" << int(A::Ok);
        QTest::newRow("OK/Cancel: default Cancel") << int(B::OkCancel) << 1 << "enter" << int(A::Cancel);
        QTest::newRow("OK/Cancel: Esc") << int(B::OkCancel) << 0 << "esc" << int(A::Cancel);
        QTest::newRow("OK/Cancel: Cancel clicked") << int(B::OkCancel) << 0 << "Cancel" << int(A::Cancel);
        QTest::newRow("Yes/No/Cancel: No clicked") << int(B::YesNoCancel) << 0 << "No" << int(A::No);
        QTest::newRow("Yes/No/Cancel: default Yes") << int(B::YesNoCancel) << 0 << "enter" << int(A::Yes);
        QTest::newRow("Yes/No/Cancel: Esc") << int(B::YesNoCancel) << 1 << "esc" << int(A::Cancel);
    }
    void messageBoxButtons() {
        QFETCH(int, buttons);
        QFETCH(int, defaultButton);
        QFETCH(QString, what);
        QFETCH(int, answer);
        QString shown;
        QCOMPARE(int(Answer(ui::Buttons(buttons), defaultButton, what, &shown)), answer);
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
