#pragma once

#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

// One account of the test FTP server. A home inside the server's root is the folder the user starts in
// (absolute paths such as "/home/cust01/ZEL.ZIP" then work as on the real server); a home elsewhere
// becomes that user's "/". Missing folders are created. Permissions are pyftpdlib's letters;
// folderPermissions overrides them for folders (and their sub-folders), e.g. {{root + "/ro", "elr"}}.
struct FtpUser {
    QString name;
    QString password;
    QString home;
    QString permissions = QStringLiteral("elradfmwMT");
    QMap<QString, QString> folderPermissions = {};
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
    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_Port; }
    QString hostPort() const; // "127.0.0.1:<port>"

    // Successful logins since the start (or clearLog): one per control connection.
    int loginCount();
    // Every command line received, in order, as sent (passwords included).
    QStringList commandLog();
    // Starts the count of logins and the command log afresh.
    bool clearLog();

    bool refuseStore(bool on = true); // STOR answered with a two-line 553 reply
    bool dropDataAfter(qint64 bytes); // data connections closed after so many bytes (426); -1 = off
    bool close421OnNext(const QString& command = QStringLiteral("any")); // next such command: 421, then close
    bool stallDataAfter(qint64 bytes);    // data connections stop moving after so many bytes; -1 = off
    bool throttle(qint64 bytesPerSecond); // data connections limited; 0 = off
    bool disableSize(bool on = true);     // SIZE answered 502
    bool mute(const QString& command);    // such commands ("any" for all) get no answer; "off" ends it
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
