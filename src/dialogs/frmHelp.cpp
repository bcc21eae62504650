#include "dialogs/frmHelp.h"

#include "platform/ui/QtUi.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const char* const SupportPhone = "+1 555 0100";
const char* const SupportEmail = "support@quendal.example";
} // namespace

std::string frmHelp::HelpText() {
    const std::string br = "\r\n";
    const std::string q = "\"";
    std::string s;
    s += "ZEL FTP CLIENT v0.1 HELP FILE";
    s += br;
    s += "This program was created to allow customers to connect ";
    s += "to the Vurovavo Zovuzaze Reruduviv File Transfer Protocol Server ";
    s += "so that their files can be sent in for analysis if the program has ";
    s += "encountered errors. ";
    s += br + br;
    s += "To begin, you will need a username and password.  This can be ";
    s += std::string("obtained by calling ") + SupportPhone + " and speaking with technical ";
    s += "support.  Type the username into the ";
    s += q + "Username" + q;
    s += " field and the password into the ";
    s += q + "Password" + q;
    s += " field.  Then click ";
    s += q + "Test Connection" + q;
    s += ".  If you are sending ";
    s += "your files, click ";
    s += q + "Send Files" + q;
    s += ", and to recieve ";
    s += "fixed files, click ";
    s += q + "Recieve Files" + q;
    s += ".  The ";
    s += q + "Status" + q;
    s += " box will show what the program is currently ";
    s += "doing, and the ";
    s += q + "TOVA Directory" + q;
    s += " will show your ";
    s += "current TOVA directory.  If this is not correct, open the TOVA ";
    s += "configuration utility and change your data path.  To open the ";
    s +=
        "TOVA configuration utility, go to Start, Programs, Tovamark, and then TOVA Configuration Utility.  Any other ";
    s += "questions you might have can be addressed by Quendal Software ";
    s += std::string("Solutions Technical Support at ") + SupportPhone + " or " + SupportEmail + " .";
    return s;
}

frmHelp::frmHelp(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      m_Text1(new QPlainTextEdit(this)), m_Command1(new QPushButton(QStringLiteral("&Close"), this)) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("ZEL FTP CLIENT HELP"));
    setWindowIcon(ui::AppIcon());
    ui::SizeTwips(this, 4740, 3465);

    m_Text1->setObjectName(QStringLiteral("Text1"));
    m_Text1->setAccessibleName(QStringLiteral("Help"));
    m_Text1->setReadOnly(true);
    m_Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui::PlaceTwips(m_Text1, 240, 240, 4215, 2655);

    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_Command1->setAutoDefault(false);
    ui::PlaceTwips(m_Command1, 3480, 3000, 975, 375);
    connect(m_Command1, &QPushButton::clicked, this, &frmHelp::Command1_Click);

    setTabOrder(m_Text1, m_Command1);

    // Built once, when the window is first made.
    m_Text = HelpText();
    m_Text1->setPlainText(ui::ToDisplay(m_Text));
    ui::Centre(this);
}

void frmHelp::Command1_Click() {
    ui::Hide(this);
}
