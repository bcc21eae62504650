#include "dialogs/dlgHost.h"

#include "platform/ui/QtUi.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

dlgHost::dlgHost(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_Label1(new QLabel(QStringLiteral("Hostname:"), this)), m_txtHostname(new QLineEdit(this)),
      m_OKButton(new QPushButton(QStringLiteral("OK"), this)),
      m_CancelButton(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName(QStringLiteral("dlgHost"));
    setWindowTitle(QStringLiteral("Choose Host"));
    ui::SizeTwips(this, 5040, 1170);

    m_Label1->setObjectName(QStringLiteral("Label1"));
    m_Label1->setBuddy(m_txtHostname);
    ui::PlaceTwips(m_Label1, 120, 120, 855, 255);

    m_txtHostname->setObjectName(QStringLiteral("txtHostname"));
    m_txtHostname->setAccessibleName(QStringLiteral("Hostname:"));
    m_txtHostname->setMaxLength(32767);
    ui::PlaceTwips(m_txtHostname, 1080, 120, 2535, 285);

    // Neither button is the default: Enter in the host box does not close the dialog.
    m_OKButton->setObjectName(QStringLiteral("OKButton"));
    m_OKButton->setAutoDefault(false);
    ui::PlaceTwips(m_OKButton, 3720, 120, 1215, 375);
    m_CancelButton->setObjectName(QStringLiteral("CancelButton"));
    m_CancelButton->setAutoDefault(false);
    ui::PlaceTwips(m_CancelButton, 3720, 600, 1215, 375);

    connect(m_OKButton, &QPushButton::clicked, this, &dlgHost::OKButton_Click);
    connect(m_CancelButton, &QPushButton::clicked, this, &dlgHost::CancelButton_Click);

    setTabOrder(m_OKButton, m_CancelButton);
    setTabOrder(m_CancelButton, m_txtHostname);
}

QString dlgHost::HostText() const {
    return m_txtHostname->text();
}

void dlgHost::reject() {
    CancelButton_Click();
}

void dlgHost::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui::Centre(this, parentWidget());
    m_Accepted = false;
    m_txtHostname->setFocus();
}

void dlgHost::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_txtHostname->setFocus();
}

void dlgHost::OKButton_Click() {
    m_Accepted = true;
    ui::Hide(this);
}

void dlgHost::CancelButton_Click() {
    m_Accepted = false;
    ui::Hide(this);
}
