#include "console/frmChoose.h"

#include "platform/ui/QtUi.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

frmChoose::frmChoose(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      m_Label1(new QLabel(this)), m_Frame1(new QGroupBox(QStringLiteral("Choose Program"), this)),
      m_opLedgra(new QRadioButton(QStringLiteral("Ledgra"), m_Frame1)),
      m_opTova(new QRadioButton(QStringLiteral("TOVA"), m_Frame1)),
      m_Command1(new QPushButton(QStringLiteral("&Ok"), this)),
      m_Command2(new QPushButton(QStringLiteral("&Cancel"), this)) {
    setObjectName(QStringLiteral("frmChoose"));
    setWindowTitle(QStringLiteral("TOVA AND LEDGRA FOUND"));
    setWindowIcon(ui::AppIcon());
    ui::SizeTwips(this, 5160, 1965);

    m_Label1->setObjectName(QStringLiteral("Label1"));
    m_Label1->setWordWrap(true);
    m_Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui::PlaceTwips(m_Label1, 360, 120, 4455, 735);
    m_Label1->setText(QStringLiteral("The program has found both Ledgra and Tovamark files on your computer.  ") +
                      QStringLiteral("Please choose which program you would like to ") +
                      QStringLiteral("Send or Receive."));

    m_Frame1->setObjectName(QStringLiteral("Frame1"));
    ui::PlaceTwips(m_Frame1, 240, 960, 2535, 855);
    QFont optionFont = font();
    optionFont.setPointSizeF(9.75);
    for (QRadioButton* op : {m_opLedgra, m_opTova})
        op->setFont(optionFont);
    m_opLedgra->setObjectName(QStringLiteral("opLedgra"));
    ui::PlaceTwips(m_opLedgra, 240, 360, 1215, 255);
    m_opTova->setObjectName(QStringLiteral("opTova"));
    ui::PlaceTwips(m_opTova, 1320, 360, 1095, 255);

    // Neither button is default or cancel: Enter and Esc mean nothing here.
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_Command1->setAutoDefault(false);
    ui::PlaceTwips(m_Command1, 2880, 1320, 1095, 375);
    m_Command2->setObjectName(QStringLiteral("Command2"));
    m_Command2->setAutoDefault(false);
    ui::PlaceTwips(m_Command2, 4080, 1320, 975, 375);
    connect(m_Command1, &QPushButton::clicked, this, &frmChoose::Command1_Click);
    connect(m_Command2, &QPushButton::clicked, this, &frmChoose::Command2_Click);

    setTabOrder(m_opLedgra, m_opTova);
    setTabOrder(m_opTova, m_Command1);
    setTabOrder(m_Command1, m_Command2);
}

bool frmChoose::TovaSelected() const {
    return m_opTova->isChecked();
}
bool frmChoose::LedgraSelected() const {
    return m_opLedgra->isChecked();
}

void frmChoose::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui::Centre(this);
    // The first control in the tab order takes the focus and is thereby selected.
    if (!m_opTova->isChecked())
        m_opLedgra->setChecked(true);
    m_opLedgra->setFocus();
}

void frmChoose::closeEvent(QCloseEvent* event) {
    // Only Ok and Cancel leave; a close the user asks for through the window is refused.
    if (event->spontaneous())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void frmChoose::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->ignore();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void frmChoose::Command1_Click() {
    ui::Hide(this);
}

void frmChoose::Command2_Click() {
    m_Cancelled = true;
    ui::Current().End();
    ui::Hide(this);
}
