#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "support/Files.h"
#include "support/FtpServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

using testsupport::ReadFile;
using testsupport::Snapshot;
using testsupport::WriteFile;

namespace {

// The extended text as the class builds it from a server reply: "\r\n", the reply, one NUL.
std::string withReply(const std::string& reply) {
    return "\r\n" + reply + std::string(1, '\0');
}

} // namespace

// Expects the call to raise the class's error code (2001...) with this source and description, compared
// byte for byte (NULs and line breaks included).
#define QVERIFY_RAISES(call, code, source, description)                                                                \
    do {                                                                                                               \
        try {                                                                                                          \
            (void)(call);                                                                                              \
            QFAIL("nothing raised by " #call);                                                                         \
        } catch (const zel::Error& error_) {                                                                           \
            QCOMPARE(error_.Number(), zel::vbObjectError + (code));                                                    \
            QCOMPARE(QByteArray::fromStdString(error_.Source()), QByteArray::fromStdString(source));                   \
            QCOMPARE(QByteArray::fromStdString(error_.Description()), QByteArray::fromStdString(description));         \
        }                                                                                                              \
    } while (false)

class tst_cFTP : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { inet::SetProgressHook({}); }
    void connectAndDisconnect();
    void refusals();
    void sequenceOverOneConnection();
    void failedOperationsReportTheirErrors();
    void remoteFileSize();
    void uploadsArePublishedWhole_data();
    void uploadsArePublishedWhole();
    void ftpesConnectsOnlySecurely_data();
    void ftpesConnectsOnlySecurely();

private:
    std::string host() const { return m_Server->hostPort().toStdString(); }
    std::string local(const QString& name) const { return (m_Local + "/" + name).toStdString(); }
    QString home() const { return m_Root + "/home/cust01"; }

    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Local;
    std::unique_ptr<FtpServer> m_Server;
    std::unique_ptr<FtpServer> m_TlsServer;
};

void tst_cFTP::initTestCase() {
    m_Root = m_Dir.filePath("root");
    m_Local = m_Dir.filePath("local");
    m_Server = std::make_unique<FtpServer>(
        m_Root, QList<FtpUser>{{"cust01", "secret", home()}, {"cust 02", "p;w#%d", m_Root + "/home/cust 02"}});
    QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
    m_TlsServer = std::make_unique<FtpServer>(m_Root, QList<FtpUser>{{"cust01", "secret", home()}}, true);
    QVERIFY2(m_TlsServer->isRunning(), qPrintable(m_TlsServer->errorString()));
}

void tst_cFTP::init() {
    QVERIFY(m_Server->setFaults("clear") && m_Server->clearLog());
    QVERIFY(m_TlsServer->clearLog() && m_TlsServer->setFaults("cert good"));
    QVERIFY(QDir(m_Local).removeRecursively() && QDir().mkpath(m_Local));
}

void tst_cFTP::connectAndDisconnect() {
    int hookCalls = 0;
    inet::SetProgressHook([&](std::uint64_t, std::uint64_t) { return ++hookCalls > 0; });
    {
        cFTP ftp;
        // No host: refused before any network call (the hook runs during every network call).
        QVERIFY_RAISES(ftp.Connect("", "cust01", "secret"), 2007, "cFTP::Connect", "No Host Address Specified!");
        QCOMPARE(hookCalls, 0);
        // Without a server reply the text ends in one line break. Nobody listens on port 1 of the loopback.
        for (const std::string where : {"127.0.0.1:1", "zel-nowhere.invalid"}) {
            QVERIFY_RAISES(ftp.Connect(where), 2001, "KTFTP::Connect",
                           "Cannot Connect to " + where + " using User and Password Parameters\r\n");
            QCOMPARE(ftp.Host(), where);
        }
        // Message, empty line, the server's reply, the buffer's NUL.
        QVERIFY_RAISES(ftp.Connect(host(), "", "wrong"), 2001, "KTFTP::Connect",
                       "Cannot Connect to " + host() + " using User and Password Parameters\r\n" +
                           withReply("530 Authentication failed.\r\n"));
        QCOMPARE(ftp.Password(), std::string("wrong"));
        // Omitted arguments use the stored values, even those of failed attempts.
        ftp.SetPassword("secret");
        QVERIFY(ftp.Connect() && ftp.Connected() && hookCalls > 0);
        QVERIFY(ftp.Disconnect());
        QVERIFY(!ftp.Connected());
        for (const std::string& field : {ftp.Host(), ftp.User(), ftp.Password(), ftp.Directory()})
            QCOMPARE(field, std::string());
        QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    }
    // Releasing a connected object logs out.
    QCOMPARE(m_Server->loginCount(), 2);
    QCOMPARE(m_Server->commandLog().last(), QStringLiteral("QUIT"));
}

void tst_cFTP::refusals() {
    cFTP ftp;
    ftp.SetHost(host());
    const std::string notConnected = "Not Connected to FTP Site";
    QVERIFY_RAISES(ftp.Disconnect(), 2005, "KTFTP::Disconnect", notConnected);
    QVERIFY_RAISES(ftp.GetFile("/a", local("a")), 2005, "KTFTP::GetFile", notConnected);
    QVERIFY_RAISES(ftp.PutFile(local("a"), "/a"), 2005, "KTFTP::PutFile", notConnected);
    QVERIFY_RAISES(ftp.RenameFile("/a", "/b"), 2005, "KTFTP::RenameFile", notConnected);
    QVERIFY_RAISES(ftp.DeleteFile("/a"), 2005, "KTFTP::DeleteFile", notConnected);
    QVERIFY_RAISES(ftp.SetDirectory("/a"), 2005, "KTFTP::Directory_Let", notConnected);
    std::uint64_t size = 0;
    QVERIFY_RAISES(ftp.RemoteFileSize("/a", size), 2005, "KTFTP::RemoteFileSize", notConnected);
    QCOMPARE(ftp.Host(), host());
    QCOMPARE(ftp.Directory(), std::string());
    // Credentials that cannot be sent as they stand are refused before connecting, never sent cut short.
    for (const auto& [user, password] : {std::pair{std::string("cust01\0x", 8), std::string("secret")},
                                         std::pair{std::string("cust01"), std::string("sec\0ret", 7)},
                                         std::pair{std::string("cust01\r\nDELE x"), std::string("secret")},
                                         std::pair{std::string("cust01"), std::string("secret\r")}}) {
        QVERIFY_RAISES(ftp.Connect(host(), user, password), 2001, "KTFTP::Connect",
                       "The user name or the password contains a line break or a NUL character, which cannot be "
                       "sent to the server.");
        QVERIFY(!ftp.Connected());
    }
    QVERIFY(m_Server->commandLog().isEmpty());

    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    const std::string connected = "You cannot change this property while connected to an FTP server";
    QVERIFY_RAISES(ftp.SetHost(host()), 2007, "KTFTP::Host_Let", connected); // even the same value
    QVERIFY_RAISES(ftp.SetUser("other"), 2007, "KTFTP::User_Let", connected);
    QVERIFY_RAISES(ftp.SetPassword("other"), 2007, "KTFTP::Password_Let", connected);
    QVERIFY_RAISES(ftp.Connect("other", "a", "b"), 2007, "KTFTP::Connect",
                   "You are already connected to FTP Server " + host());
    QCOMPARE(ftp.Host() + ftp.User() + ftp.Password(), host() + "cust01secret");
    // The first connection is still the one in use.
    WriteFile(home() + "/still.txt", "x");
    QVERIFY(ftp.DeleteFile("still.txt"));
    QCOMPARE(m_Server->loginCount(), 1);
}

void tst_cFTP::sequenceOverOneConnection() {
    QByteArray data(1 << 20, '\0'); // every byte value, line breaks included: binary mode only
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 % 251);
    WriteFile(m_Local + "/ZEL.ZIP", data);
    WriteFile(m_Local + "/FIXED.ZIP", "an older local copy");
    const QString home2 = m_Root + "/home/cust 02";
    QVERIFY(QDir().mkpath(home2 + "/data/in"));

    // The workflows' sequence by a user with a blank in the name, odd characters in paths and password.
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust 02", "p;w#%d"));
    QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust 02/ZEL.ZIP", 2));
    QCOMPARE(ReadFile(home2 + "/ZEL.ZIP"), data);
    QVERIFY(ftp.RenameFile("/home/cust 02/ZEL.ZIP", "/home/cust 02/a b;c#d%20e?.ZIP"));
    QVERIFY(ftp.GetFile("/home/cust 02/a b;c#d%20e?.ZIP", local("FIXED.ZIP"), 2));
    QCOMPARE(ReadFile(m_Local + "/FIXED.ZIP"), data);
    QVERIFY(ftp.DeleteFile("/home/cust 02/a b;c#d%20e?.ZIP"));
    QCOMPARE(QDir(home2).entryList(QDir::Files), QStringList());
    // "\" reaches the server as "/" but stays in the property; relative names then land in that folder.
    ftp.SetDirectory("data\\in");
    QCOMPARE(ftp.Directory(), std::string("data\\in"));
    // Empty files work both ways.
    WriteFile(m_Local + "/empty", "");
    QVERIFY(ftp.PutFile(local("empty"), "empty") && ftp.GetFile("empty", local("FIXED.ZIP")));
    QVERIFY(QFile::exists(home2 + "/data/in/empty"));
    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"FIXED.ZIP", ""}, {"ZEL.ZIP", data}, {"empty", ""}}));
    QVERIFY(ftp.Disconnect());

    QCOMPARE(m_Server->loginCount(), 1);
    const QStringList log = m_Server->commandLog();
    for (const char* line : {"USER cust 02", "TYPE I", "CWD data/in"})
        QVERIFY2(log.contains(line), line);
    // Nothing comes between the two halves of a rename.
    const qsizetype rnfr = log.indexOf("RNFR /home/cust 02/ZEL.ZIP");
    QCOMPARE(log.value(rnfr + 1), QStringLiteral("RNTO /home/cust 02/a b;c#d%20e?.ZIP"));
    QCOMPARE(log.last(), QStringLiteral("QUIT"));
}

void tst_cFTP::failedOperationsReportTheirErrors() {
    WriteFile(m_Local + "/ZEL.ZIP", "zip");
    WriteFile(m_Local + "/FIXED.ZIP", "keep me");
    WriteFile(home() + "/victim.txt", "v");
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));

    QVERIFY_RAISES(ftp.GetFile("/home/cust01/none.zip", local("FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File /home/cust01/none.zip from Server");
    // A download that never arrives as the server holds it says so.
    QVERIFY(m_Server->setFaults("checksum XCRC;flip RETR 4"));
    QVERIFY_RAISES(ftp.GetFile("/home/cust01/victim.txt", local("FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File /home/cust01/victim.txt from Server\r\nThe copy differs from the original in "
                   "size or checksum, also after it was transferred again.");
    QCOMPARE(ReadFile(m_Local + "/FIXED.ZIP"), QByteArray("keep me"));
    QVERIFY(m_Server->setFaults("refuse-stor on"));
    QVERIFY_RAISES(ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP"), 2003, "KTFTP::PutFile",
                   "Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n" +
                       withReply("553-Could not create file.\r\n553 Quota exceeded.\r\n"));
    // A local failure carries no server reply.
    QVERIFY_RAISES(ftp.PutFile(local("none.zip"), "/home/cust01/ZEL.ZIP"), 2003, "KTFTP::PutFile",
                   std::string("Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n"));
    QVERIFY_RAISES(ftp.RenameFile("/home/cust01/none", "/home/cust01/other"), 2003, "KTFTP::RenameFile",
                   "Couldn't Rename File /home/cust01/none\r\n" + withReply("550 No such file or directory.\r\n"));
    // "%s" in a name is not expanded again.
    QVERIFY_RAISES(ftp.DeleteFile("%s"), 2004, "KTFTP::DeleteFile", "Couldn't Delete File %s from Server");
    // A NUL would cut the name short and name another file.
    const std::string cut("victim.txt\0.bak", 15);
    QVERIFY_RAISES(ftp.DeleteFile(cut), 2004, "KTFTP::DeleteFile", "Couldn't Delete File " + cut + " from Server");
    QVERIFY(QFile::exists(home() + "/victim.txt"));

    ftp.SetDirectory("/home/cust01");
    QVERIFY_RAISES(ftp.SetDirectory("\\home\\cust01\\none"), 2002, "KTFTP::Directory[Let]",
                   "Cannot Change Directory to /home/cust01/none. It either doesn't exist, or is protected");
    QCOMPARE(ftp.Directory(), std::string("/home/cust01"));
    QVERIFY(ftp.Connected());
}

void tst_cFTP::remoteFileSize() {
    WriteFile(home() + "/ZEL.ZIP", QByteArray(4221, 's'));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    std::uint64_t size = 0;
    QVERIFY(ftp.RemoteFileSize("/home/cust01/ZEL.ZIP", size));
    QCOMPARE(size, std::uint64_t(4221));

    // No answer is no size, and no error either: false, with the size left alone.
    size = 7;
    QVERIFY(!ftp.RemoteFileSize("/home/cust01/none.bin", size));
    QVERIFY(m_Server->setFaults("no-size on"));
    QVERIFY(!ftp.RemoteFileSize("/home/cust01/ZEL.ZIP", size));
    QCOMPARE(size, std::uint64_t(7));
    QVERIFY(ftp.Connected());
}

void tst_cFTP::uploadsArePublishedWhole_data() {
    QTest::addColumn<QString>("faults");       // in the server's words
    QTest::addColumn<QString>("failure");      // the description's start; empty: the upload succeeds
    QTest::addColumn<QByteArray>("remaining"); // what the server then holds as ZEL.ZIP ("" for nothing)
    QTest::addColumn<QStringList>("sent");     // starts of command lines, in this order
    const QString put = "Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n";
    const QByteArray old = "an older upload";
    const QByteArray fresh = "new"; // stands for the file sent
    QTest::newRow("plain") << ""
                           << "" << fresh
                           << QStringList{"STOR /home/cust01/ZEL.ZIP.zel~", "RNFR /home/cust01/ZEL.ZIP.zel~",
                                          "RNTO /home/cust01/ZEL.ZIP"};
    QTest::newRow("line drops once") << "break 300000 1 426"
                                     << "" << fresh
                                     << QStringList{"STOR /home/cust01/ZEL.ZIP.zel~", "APPE /home/cust01/ZEL.ZIP.zel~",
                                                    "RNTO /home/cust01/ZEL.ZIP"};
    QTest::newRow("rename refused") << "refuse RNFR"
                                    << "" << fresh
                                    << QStringList{"RNFR ", "DELE /home/cust01/ZEL.ZIP.zel~",
                                                   "STOR /home/cust01/ZEL.ZIP"};
    QTest::newRow("line always drops") << "drop 100000" << put << old
                                       << QStringList{"STOR /home/cust01/ZEL.ZIP.zel~",
                                                      "DELE /home/cust01/ZEL.ZIP.zel~"};
    QTest::newRow("stored short") << "shorten 100"
                                  << put + "\r\nThe server holds 1048476 bytes of "
                                           "/home/cust01/ZEL.ZIP, but 1048576 bytes were sent. Please "
                                           "send again."
                                  << old << QStringList{"STOR /home/cust01/ZEL.ZIP.zel~"};
    // Without rename the target's name itself is written, so a failure there removes what arrived.
    QTest::newRow("rename refused, line always drops")
        << "refuse RNFR;break 100000 0 426 1" << put << QByteArray()
        << QStringList{"RNFR ", "STOR /home/cust01/ZEL.ZIP", "DELE /home/cust01/ZEL.ZIP"};
}

void tst_cFTP::uploadsArePublishedWhole() {
    QFETCH(QString, faults);
    QFETCH(QString, failure);
    QFETCH(QByteArray, remaining);
    QFETCH(QStringList, sent);
    QByteArray data(1 << 20, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 13 % 253);
    WriteFile(m_Local + "/ZEL.ZIP", data);
    QVERIFY(QDir(home()).removeRecursively());
    WriteFile(home() + "/ZEL.ZIP", "an older upload");
    // Whenever the upload waits for a retry, the target's name still holds the older upload whole.
    QByteArray seenDuringRetry;
    inet::SetNoticeHook([&](const std::string&, std::chrono::milliseconds) {
        if (seenDuringRetry.isEmpty())
            seenDuringRetry = ReadFile(home() + "/ZEL.ZIP");
    });
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    QVERIFY(m_Server->setFaults(faults));
    try {
        QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP", 2));
        QVERIFY2(failure.isEmpty(), "the upload succeeded");
    } catch (const zel::Error& error) {
        QVERIFY2(!failure.isEmpty() && QString::fromStdString(error.Description()).startsWith(failure),
                 error.Description().c_str());
        QCOMPARE(error.Number(), zel::vbObjectError + 2003);
        QCOMPARE(error.Source(), std::string("KTFTP::PutFile"));
    }
    inet::SetNoticeHook({});
    // (Unless the server cannot rename: then the target's name is all there is.)
    QVERIFY(seenDuringRetry.isEmpty() || seenDuringRetry == "an older upload" || faults.contains("RNFR"));
    // Nothing beside the target: the temporary is renamed or deleted.
    const QMap<QString, QByteArray> there = Snapshot(home());
    QCOMPARE(there.keys(), remaining.isEmpty() ? QStringList() : QStringList{"ZEL.ZIP"});
    if (!remaining.isEmpty())
        QCOMPARE(there["ZEL.ZIP"], remaining == "new" ? data : remaining);
    QCOMPARE(ReadFile(m_Local + "/ZEL.ZIP"), data);
    // In this order, other commands in between.
    const QStringList log = m_Server->commandLog();
    qsizetype at = 0;
    for (const QString& start : sent) {
        while (at < log.size() && !log[at].startsWith(start))
            ++at;
        QVERIFY2(at < log.size(), qPrintable(start + " missing in order from " + log.join(" | ")));
    }
}

void tst_cFTP::ftpesConnectsOnlySecurely_data() {
    QTest::addColumn<QString>("certificate"); // "" for the plain server
    QTest::addColumn<QString>("caFile");      // "test" for the test CA
    QTest::addColumn<QString>("reason");      // empty: connects, and transfers work
    QTest::newRow("trusted") << "good"
                             << "test"
                             << "";
    QTest::newRow("no AUTH TLS")
        << ""
        << "test"
        << "the server does not offer TLS (it refused AUTH TLS), and the connection is not made "
           "without it.";
    QTest::newRow("another host") << "otherhost"
                                  << "test"
                                  << "the server's certificate was issued for another host name.";
    QTest::newRow("expired") << "expired"
                             << "test"
                             << "the server's certificate has expired or is not valid yet.";
    QTest::newRow("self-signed") << "selfsigned"
                                 << "test"
                                 << "the server's certificate is self-signed, so nobody vouches for it.";
    QTest::newRow("unknown authority") << "good"
                                       << ""
                                       << "the server's certificate was issued by an authority this computer does "
                                          "not trust.";
    QTest::newRow("CA file missing") << "good" << m_Dir.filePath("none.pem")
                                     << "the CA file named by ZEL_FTP_CAFILE cannot be read.";
}

void tst_cFTP::ftpesConnectsOnlySecurely() {
    QFETCH(QString, certificate);
    QFETCH(QString, caFile);
    QFETCH(QString, reason);
    FtpServer& server = certificate.isEmpty() ? *m_Server : *m_TlsServer;
    if (!certificate.isEmpty())
        QVERIFY(server.setFaults("cert " + certificate));
    qputenv("ZEL_FTP_CAFILE", (caFile == "test" ? m_TlsServer->caFile() : caFile).toUtf8());
    const std::string where = "ftpes://" + server.hostPort().toStdString();
    cFTP ftp;
    bool connected = false;
    try {
        connected = ftp.Connect(where, "cust01", "secret");
    } catch (const zel::Error& error) {
        QCOMPARE(QString::fromStdString(error.Description()),
                 QString::fromStdString("Cannot Connect to " + where + " securely: ") + reason);
        QCOMPARE(error.Number(), zel::vbObjectError + 2001);
    }
    qunsetenv("ZEL_FTP_CAFILE");
    const QStringList log = server.commandLog();
    QCOMPARE(log.value(0), QStringLiteral("AUTH TLS"));
    if (!reason.isEmpty()) {
        // Not a word more in clear, and never the password.
        QVERIFY2(!connected && log.filter("PASS").isEmpty(), qPrintable(log.join(" | ")));
        return;
    }
    QVERIFY(connected);
    for (const char* line : {"PBSZ 0", "PROT P", "PASS secret"})
        QVERIFY2(log.contains(line), line);
    // Data connections resume the control connection's session, as this server insists.
    QByteArray data(300000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 % 251);
    WriteFile(m_Local + "/ZEL.ZIP", data);
    QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP") &&
            ftp.GetFile("/home/cust01/ZEL.ZIP", local("back")));
    QCOMPARE(ReadFile(m_Local + "/back"), data);
    QCOMPARE(ReadFile(home() + "/ZEL.ZIP"), data);
}

QTEST_GUILESS_MAIN(tst_cFTP)
#include "tst_cFTP.moc"
