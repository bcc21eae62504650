#include "platform/ui/QtUi.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTransform>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ui {

QString ToDisplay(const std::string& text) {
    // Server replies arrive padded with NULs; a message goes on after them, so they are dropped rather
    // than taken as the end of the text.
    std::string shown = text;
    std::erase(shown, '\0');
    QString s = QString::fromStdString(shown);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

QtUi::~QtUi() {
    if (m_Busy)
        QApplication::restoreOverrideCursor();
}

Answer QtUi::MsgBox(const std::string& text, Buttons buttons, Icon icon, int defaultButton, const std::string& title) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(title.empty() ? std::string(AppTitle) : title));
    box.setText(ToDisplay(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    QList<QMessageBox::StandardButton> order;
    switch (buttons) {
    case Buttons::Ok:
        order = {QMessageBox::Ok};
        break;
    case Buttons::OkCancel:
        order = {QMessageBox::Ok, QMessageBox::Cancel};
        break;
    case Buttons::YesNoCancel:
        order = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        break;
    }
    for (auto b : order)
        box.addButton(b);
    box.setDefaultButton(order.value(defaultButton, order.front()));
    box.setEscapeButton(buttons == Buttons::Ok ? QMessageBox::Ok : QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

std::string QtUi::InputBox(const std::string& prompt) {
    bool ok = false;
    QString s = QInputDialog::getText(QApplication::activeWindow(), QString::fromLatin1(AppTitle), ToDisplay(prompt),
                                      QLineEdit::Normal, QString(), &ok);
    return ok ? s.toStdString() : std::string();
}

void QtUi::DoEvents() {
    QCoreApplication::processEvents();
}

void QtUi::SetBusy(bool busy) {
    if (busy == m_Busy)
        return;
    m_Busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void QtUi::End() {
    // Stops at once: no handler, destructor or unload processing runs after this.
    std::fflush(nullptr);
    std::_Exit(0);
}

void ShowModal(QDialog* window, QWidget* owner) {
    if (window->parentWidget() != owner)
        window->setParent(owner, window->windowFlags());
    window->exec();
}

void Hide(QWidget* window) {
    window->hide();
}

namespace {
double LogicalDpi(const QWidget* widget) {
    const QScreen* screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}
} // namespace

int Twips(const QWidget* widget, int twips) {
    return static_cast<int>(std::lround(twips * LogicalDpi(widget) / 1440.0));
}

void PlaceTwips(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(Twips(control, left), Twips(control, top), Twips(control, width), Twips(control, height));
}

void SizeTwips(QWidget* window, int width, int height) {
    window->setFixedSize(Twips(window, width), Twips(window, height));
}

void Centre(QWidget* window, const QWidget* owner) {
    QRect area;
    if (owner && owner->isVisible())
        area = owner->frameGeometry();
    else if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x5f, 0xa8));
        p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
        // Two arrows, up and down: sending and receiving.
        p.setBrush(Qt::white);
        QPainterPath up;
        up.moveTo(s * 0.32, s * 0.18);
        up.lineTo(s * 0.52, s * 0.45);
        up.lineTo(s * 0.39, s * 0.45);
        up.lineTo(s * 0.39, s * 0.82);
        up.lineTo(s * 0.25, s * 0.82);
        up.lineTo(s * 0.25, s * 0.45);
        up.lineTo(s * 0.12, s * 0.45);
        up.closeSubpath();
        p.drawPath(up);
        // The same arrow turned about the centre points down.
        p.setBrush(QColor(0xff, 0xd2, 0x4a));
        p.drawPath(QTransform().translate(s, s).rotate(180).map(up));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace ui
