#include "support/Session.h"

#include <QtTest>
#include <QtWidgets>

namespace testsupport {

Session::Session(Product product, const QString& user) : m_User(user) {
    QDir().mkpath(data());
    if (product == Product::Tova)
        m_Install.writeTova(data() + "\\");
    else
        m_Install.writeLedgra(data(), product == Product::LedgraOnline ? "PALVEX.EXE" : "LEDGRA.EXE");
    QDir().mkpath(home());
    server = std::make_unique<FtpServer>(m_Install.root() + "/srv", QList<FtpUser>{{user, "secret", home()}});
    qputenv("ZEL_FTP_HOST", server->hostPort().toUtf8());
}

Session::~Session() {
    window.reset();
    qunsetenv("ZEL_FTP_HOST");
}

bool Session::start() {
    if (!server->isRunning())
        return false;
    ui.answers.push_back(ui::Answer::Ok);
    window = std::make_unique<frmFtpTest>();
    if (!window->Load())
        return false;
    window->show();
    ui.boxes.clear();
    return true;
}

QWidget* Session::control(const char* name) const {
    return window->findChild<QWidget*>(name);
}

void Session::click(const char* button) {
    QTest::mouseClick(control(button), Qt::LeftButton);
}

void Session::login(const QString& password) {
    static_cast<QLineEdit*>(control("txtUser"))->setText(m_User);
    static_cast<QLineEdit*>(control("txtPassword"))->setText(password);
    click("cmdTest");
}

QStringList Session::log() const {
    QStringList lines = QString::fromStdString(window->StatusText()).split("\r\n- ");
    lines.removeFirst(); // the empty first line
    lines.removeFirst(); // "Not connected."
    return lines;
}

} // namespace testsupport
