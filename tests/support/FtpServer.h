#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

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
class FtpServer {
public:
    FtpServer(const QString& root, const QList<FtpUser>& users);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool isRunning() const;
    QString errorString() const { return m_Error; }
    quint16 port() const { return m_Port; }
    QString hostPort() const; // "127.0.0.1:<port>"

    int loginCount();         // successful logins (one per control connection) since the start or clearLog
    QStringList commandLog(); // every command line received, in order, as sent (passwords included)
    bool clearLog();

    bool refuseStore(bool on = true);            // STOR answered with a two-line 553 reply
    bool dropDataAfter(qint64 bytes);            // data connections closed after so many bytes (426); -1 = off
    bool throttle(qint64 bytesPerSecond);        // data connections limited; 0 = off
    bool shortenStores(qint64 bytes);            // stored files kept so many bytes short, still with 226; 0 = off
    bool close421OnNext(const QString& command); // the next such command ("any" for all): 421, then close
    bool disableSize(bool on = true);            // SIZE answered 502
    bool mute(const QString& command);           // such commands ("any" for all) get no answer; "off" ends it
    bool clearFaults();

    void stop();

private:
    // Sends one request and waits for its one-line answer; empty on failure.
    QString request(const QString& line);
    bool fault(const QString& name, const QString& value);

    QProcess m_Process;
    quint16 m_Port = 0;
    QString m_Error;
};
