#pragma once

#include "console/frmFtpTest.h"
#include "support/FtpServer.h"
#include "support/Gui.h"
#include "support/ScriptedUi.h"

#include <QTemporaryDir>

#include <memory>

namespace testsupport {

enum class Product { Tova, Ledgra, LedgraOnline };

// A whole installation for end-to-end runs: a scratch Windows folder whose profile points at a data
// folder, a real FTP server with the account cust01/secret, scripted boxes, and the started main window.
class Session {
public:
    explicit Session(Product product, const QString& user = QStringLiteral("cust01"));
    ~Session();

    QString data() const { return m_Install.root() + QStringLiteral("/data"); } // native, no trailing "/"
    QString qmx() const { return data() + QStringLiteral("/data_qmx"); }
    QString home() const { return m_Install.root() + QStringLiteral("/srv/home/") + m_User; }

    // Starts the window (answering the start-up confirmation) and returns whether it came up.
    bool start();
    // Types the credentials and runs Test Connection.
    void login(const QString& password = QStringLiteral("secret"));
    void click(const char* button);
    QWidget* control(const char* name) const;
    // The status log's entries after "Not connected.".
    QStringList log() const;
    SampleInstall& install() { return m_Install; }

    ModalGuard guard;
    ui::ScriptedUi ui;
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<frmFtpTest> window;

private:
    SampleInstall m_Install;
    QString m_User;
};

} // namespace testsupport
