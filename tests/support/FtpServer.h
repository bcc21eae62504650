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

    bool refuseStore(bool on = true); // STOR answered with a two-line 553 reply
    bool dropDataAfter(qint64 bytes); // data connections closed after so many bytes (426); -1 = off
    // The next `times` data connections (0: all) after the next `skip` ones break after so many bytes; `how` is
    // "426" (closed, 426 reply), "reset" (data and control connection reset), "421" (421 reply, both closed) or
    // "stall" (nothing moves any more).
    bool breakData(qint64 bytes, int times, const QString& how, int skip = 0);
    bool refuse(const QString& command);             // such commands answered 502; "off" ends every refusal
    bool throttle(qint64 bytesPerSecond);            // data connections limited; 0 = off
    bool shortenStores(qint64 bytes, int times = 0); // stored files kept so many bytes short, still with 226; 0 = off
    bool flipByte(const QString& command,
                  int times);                    // a byte changed in the next files stored ("STOR") or sent ("RETR")
    bool offerChecksum(const QString& command);  // "HASH", "XMD5" or "XCRC" in FEAT and answered; "off"
    bool useCertificate(const QString& name);    // TLS: "good", "otherhost", "expired", "selfsigned"
    bool close421OnNext(const QString& command); // the next such command ("any" for all): 421, then close
    bool disableSize(bool on = true);            // SIZE answered 502
    bool mute(const QString& command);           // such commands ("any" for all) get no answer; "off" ends it
    bool clearFaults();
    // Faults in the server's own words, ";" between them ("break 200000 3 426;refuse REST"; see ftpserver.py).
    bool setFaults(const QString& faults);

    void stop();

private:
    // Sends one request and waits for its one-line answer; empty on failure.
    QString request(const QString& line);
    bool fault(const QString& name, const QString& value);

    std::unique_ptr<QTemporaryDir> m_Certificates;
    QProcess m_Process;
    quint16 m_Port = 0;
    QString m_Error;
};
