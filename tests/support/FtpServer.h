#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One account of the test FTP server. The home is a folder inside the server's root (made if missing) where
// the user starts; the root is "/", so absolute paths such as "/home/cust01/ZEL.ZIP" work as on the real server.
struct FtpUser {
    QString name;
    QString password;
    QString home;
};

// A pyftpdlib server on a free loopback port for the lifetime of the object.
//   FtpServer srv(root, {{"cust01", "secret", root + "/home/cust01"}});
//   QVERIFY2(srv.isRunning(), qPrintable(srv.errorString()));
//   ftp.Connect(srv.hostPort().toStdString(), "cust01", "secret");
// Faults can be switched while it runs; each call returns once the server has taken it.
// With `tls` it speaks explicit TLS only ("ftpes://" + hostPort()), with certificates of a CA it makes for the run,
// and refuses data connections that do not reuse the control connection's TLS session.
// Unless the environment says otherwise, the process that starts a server retries at once (ZEL_FTP_RETRY_WAITS).
class FtpServer {
public:
    FtpServer(const QString& root, const QList<FtpUser>& users, bool tls = false);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool isRunning() const;
    QString errorString() const { return m_Error; }
    quint16 port() const { return m_Port; }
    QString hostPort() const; // "127.0.0.1:<port>"
    QString caFile() const;   // the test CA's certificate (TLS servers)

    int loginCount();         // successful logins (one per control connection) since the start or clearLog
    QStringList commandLog(); // every command line received, in order, as sent (passwords included)
    bool clearLog();
    // Faults in the server's own words, ";" between them ("break 200000 3 426;refuse REST"; "clear" ends them
    // all); see ftpserver.py.
    bool setFaults(const QString& faults);

    void stop();

private:
    // Sends one request and waits for its one-line answer; empty on failure.
    QString request(const QString& line);

    std::unique_ptr<QTemporaryDir> m_Certificates;
    QProcess m_Process;
    quint16 m_Port = 0;
    QString m_Error;
};

// A loopback port that refuses connections while the object lives: bound, never listening.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    QString hostPort() const; // "127.0.0.1:<port>"

private:
    int m_Fd;
    quint16 m_Port = 0;
};
