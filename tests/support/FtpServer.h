#pragma once

#include <QtCore>
#include <QtNetwork>

#include "support/HostProcess.h"

// One account of the test FTP server. The home is a folder inside the server's root (made if missing) where the
// user starts; the root is "/", so absolute paths such as "/home/cust01/ZEL.ZIP" work as on the real server.
struct FtpUser {
    QString name;
    QString password;
    QString home;
};

// A pyftpdlib server (ftpserver.py) on a free loopback port for the lifetime of the object. With `tls` it speaks
// explicit TLS only ("ftpes://" + hostPort()), with certificates of a CA it makes for the run. Each call returns
// once the server has answered. The process that starts a server retries at once unless ZEL_FTP_RETRY_WAITS is set.
class FtpServer {
public:
    FtpServer(const QString& root, const QList<FtpUser>& users, bool tls = false);
    ~FtpServer();
    Q_DISABLE_COPY(FtpServer)

    bool isRunning() { return m_Port != 0 && m_Process.running(); }
    QString errorString() const { return m_Error; }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(m_Port); }
    // By the name the certificates are issued for: Schannel's check against a CA file (curl's own) matches a host's
    // DNS names only, never its IP address.
    QString hostName() const { return QStringLiteral("localhost:%1").arg(m_Port); }
    QString caFile() const { return m_Certificates.filePath(QStringLiteral("ca.pem")); } // the test CA (TLS)

    int loginCount();         // successful logins (one per control connection) since the start or clearLog
    QStringList commandLog(); // every command line received, in order, as sent (passwords included)
    bool clearLog();
    // Faults in the server's own words, ";" between them ("break 200000 3 426;refuse REST"; "clear" ends them
    // all); see ftpserver.py.
    bool setFaults(const QString& faults);

private:
    QString request(const QString& line); // one line out, its one-line answer back; empty on failure

    QTemporaryDir m_Certificates;
    testsupport::HostProcess m_Process;
    quint16 m_Port = 0;
    QString m_Error;
};

// A loopback port that refuses connections while the object lives: bound, never listening.
class ClosedPort {
public:
    ClosedPort() { m_Socket.bind(QHostAddress::LocalHost); }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(m_Socket.localPort()); }

private:
    QTcpSocket m_Socket;
};
