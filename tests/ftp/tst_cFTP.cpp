#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "support/FtpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

std::optional<zel::Error> raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const zel::Error& error) {
        return error;
    }
    return std::nullopt;
}

QByteArray bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string s(const QString& text) {
    return text.toStdString();
}

// The extended text as the class builds it from a server reply: "\r\n", the reply, one NUL.
std::string withReply(const std::string& reply) {
    return "\r\n" + reply + std::string(1, '\0');
}

struct HookGuard {
    explicit HookGuard(zel::ProgressHook hook) { inet::SetProgressHook(std::move(hook)); }
    ~HookGuard() { inet::SetProgressHook({}); }
};

} // namespace

// Expects the call to raise the class's error code (2001...) with this source and description, compared
// byte for byte (NULs and line breaks included).
#define QVERIFY_RAISES(call, code, source, description)                                                                \
    do {                                                                                                               \
        const std::optional<zel::Error> error_ = raised([&] { (void)(call); });                                        \
        QVERIFY2(error_.has_value(), "nothing raised by " #call);                                                      \
        QCOMPARE(error_->Number(), zel::vbObjectError + (code));                                                       \
        QCOMPARE(bytes(error_->Source()), bytes(source));                                                              \
        QCOMPARE(bytes(error_->Description()), bytes(description));                                                    \
    } while (false)

class tst_cFTP : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void loginAcceptedAndRefused();
    void connectFailuresWithoutServerReply();
    void refusalsWhileConnected();
    void refusalsWhileNotConnected();
    void sendAndReceiveOverOneConnection();
    void failedOperationsReportTheirErrors();
    void directoryChange();
    void userNameWithBlankAndOddRemoteNames();
    void commandInjectionRefused();
    void cancelledOrBrokenDownloadKeepsTheOldFile();
    void remoteFileSize();
    void releasingAConnectedObjectLogsOut();

private:
    std::string host() const { return s(m_Server->hostPort()); }
    QString home() const { return m_Root + "/home/cust01"; }

    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Local;
    std::unique_ptr<FtpServer> m_Server;
};

void tst_cFTP::initTestCase() {
    QVERIFY(m_Dir.isValid());
    m_Root = m_Dir.filePath("root");
    m_Local = m_Dir.filePath("local");
    m_Server = std::make_unique<FtpServer>(m_Root, QList<FtpUser>{{"cust01", "secret", m_Root + "/home/cust01"},
                                                                  {"cust 02", "p;w#%d", m_Root + "/home/cust 02"}});
    QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
}

void tst_cFTP::init() {
    QVERIFY(m_Server->clearFaults());
    QVERIFY(m_Server->clearLog());
    QVERIFY(QDir(m_Local).removeRecursively());
    QVERIFY(QDir().mkpath(m_Local));
}

void tst_cFTP::cleanup() {
    inet::SetProgressHook({});
}

void tst_cFTP::loginAcceptedAndRefused() {
    cFTP ftp;
    QVERIFY(!ftp.Connected());
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    QVERIFY(ftp.Connected());
    QCOMPARE(ftp.Host(), host());
    QCOMPARE(ftp.User(), std::string("cust01"));
    QCOMPARE(ftp.Password(), std::string("secret"));
    QVERIFY(ftp.Disconnect());
    QVERIFY(!ftp.Connected());
    QCOMPARE(ftp.Host(), std::string());
    QCOMPARE(ftp.User(), std::string());
    QCOMPARE(ftp.Password(), std::string());
    QCOMPARE(ftp.Directory(), std::string());

    // Message, empty line, the server's reply, the buffer's NUL. The arguments stay stored.
    QVERIFY_RAISES(ftp.Connect(host(), "cust01", "wrong"), 2001, "KTFTP::Connect",
                   "Cannot Connect to " + host() + " using User and Password Parameters\r\n" +
                       withReply("530 Authentication failed.\r\n"));
    QVERIFY(!ftp.Connected());
    QCOMPARE(ftp.Host(), host());
    QCOMPARE(ftp.Password(), std::string("wrong"));

    // Empty arguments leave the stored values in place.
    ftp.SetPassword("secret");
    QVERIFY(ftp.Connect());
    QVERIFY(ftp.Connected());
    QCOMPARE(m_Server->loginCount(), 2);
}

void tst_cFTP::connectFailuresWithoutServerReply() {
    FtpServer gone(m_Dir.filePath("gone"), {{"x", "y", m_Dir.filePath("gone")}});
    QVERIFY(gone.isRunning());
    const std::string closedPort = s(gone.hostPort());
    gone.stop();

    cFTP ftp;
    // Failures with no server reply end in a single line break.
    QVERIFY_RAISES(ftp.Connect(closedPort, "cust01", "secret"), 2001, "KTFTP::Connect",
                   "Cannot Connect to " + closedPort + " using User and Password Parameters\r\n");
    QVERIFY_RAISES(ftp.Connect("zel-nowhere.invalid"), 2001, "KTFTP::Connect",
                   "Cannot Connect to zel-nowhere.invalid using User and Password Parameters\r\n");
    QCOMPARE(ftp.Host(), std::string("zel-nowhere.invalid"));
    QCOMPARE(ftp.User(), std::string("cust01"));

    // No host: refused before any network call (the hook runs during every network call).
    int hookCalls = 0;
    HookGuard guard([&](std::uint64_t, std::uint64_t) { return ++hookCalls > 0; });
    cFTP fresh;
    QVERIFY_RAISES(fresh.Connect(), 2007, "cFTP::Connect", "No Host Address Specified!");
    QVERIFY_RAISES(fresh.Connect("", "cust01", "secret"), 2007, "cFTP::Connect", "No Host Address Specified!");
    QCOMPARE(hookCalls, 0);
    QCOMPARE(fresh.User(), std::string("cust01"));

    // After a disconnect the host is gone too.
    QVERIFY(fresh.Connect(host(), "cust01", "secret"));
    QVERIFY(hookCalls > 0);
    QVERIFY(fresh.Disconnect());
    QVERIFY_RAISES(fresh.Connect(), 2007, "cFTP::Connect", "No Host Address Specified!");
}

void tst_cFTP::refusalsWhileConnected() {
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    const std::string text = "You cannot change this property while connected to an FTP server";
    QVERIFY_RAISES(ftp.SetHost("other"), 2007, "KTFTP::Host_Let", text);
    QVERIFY_RAISES(ftp.SetHost(host()), 2007, "KTFTP::Host_Let", text); // even the same value
    QVERIFY_RAISES(ftp.SetUser("other"), 2007, "KTFTP::User_Let", text);
    QVERIFY_RAISES(ftp.SetPassword("other"), 2007, "KTFTP::Password_Let", text);
    QVERIFY_RAISES(ftp.Connect("other", "a", "b"), 2007, "KTFTP::Connect",
                   "You are already connected to FTP Server " + host());
    QCOMPARE(ftp.Host(), host());
    QCOMPARE(ftp.User(), std::string("cust01"));
    QCOMPARE(ftp.Password(), std::string("secret"));

    // The first connection is still the one in use.
    QVERIFY(writeFile(home() + "/still.txt", "x"));
    QVERIFY(ftp.DeleteFile("still.txt"));
    QCOMPARE(m_Server->loginCount(), 1);
}

void tst_cFTP::refusalsWhileNotConnected() {
    cFTP ftp;
    ftp.SetHost("h");
    ftp.SetUser("u");
    ftp.SetPassword("p");
    const std::string text = "Not Connected to FTP Site";
    QVERIFY_RAISES(ftp.Disconnect(), 2005, "KTFTP::Disconnect", text);
    QVERIFY_RAISES(ftp.GetFile("/a", s(m_Local + "/a")), 2005, "KTFTP::GetFile", text);
    QVERIFY_RAISES(ftp.PutFile(s(m_Local + "/a"), "/a"), 2005, "KTFTP::PutFile", text);
    QVERIFY_RAISES(ftp.RenameFile("/a", "/b"), 2005, "KTFTP::RenameFile", text);
    QVERIFY_RAISES(ftp.DeleteFile("/a"), 2005, "KTFTP::DeleteFile", text);
    QVERIFY_RAISES(ftp.SetDirectory("/a"), 2005, "KTFTP::Directory_Let", text);
    std::uint64_t size = 0;
    QVERIFY_RAISES(ftp.RemoteFileSize("/a", size), 2005, "KTFTP::RemoteFileSize", text);
    QCOMPARE(ftp.Host(), std::string("h"));
    QCOMPARE(ftp.User(), std::string("u"));
    QCOMPARE(ftp.Password(), std::string("p"));
    QCOMPARE(ftp.Directory(), std::string());
    QVERIFY(m_Server->commandLog().isEmpty());
}

void tst_cFTP::sendAndReceiveOverOneConnection() {
    QByteArray data(1 << 20, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 % 251);
    QVERIFY(writeFile(m_Local + "/ZEL.ZIP", data));
    QVERIFY(writeFile(m_Local + "/FIXED.ZIP", "an older local copy"));

    // The workflows' sequence: connect, transfer, disconnect; nothing logs in twice.
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    QVERIFY(ftp.PutFile(s(m_Local + "/ZEL.ZIP"), "/home/cust01/ZEL.ZIP", 2));
    QCOMPARE(readFile(home() + "/ZEL.ZIP"), data);
    std::uint64_t size = 0;
    QVERIFY(ftp.RemoteFileSize("/home/cust01/ZEL.ZIP", size));
    QCOMPARE(size, std::uint64_t(data.size()));
    QVERIFY(ftp.RenameFile("/home/cust01/ZEL.ZIP", "/home/cust01/FIXED.ZIP"));
    QVERIFY(!QFile::exists(home() + "/ZEL.ZIP"));
    QVERIFY(ftp.GetFile("/home/cust01/FIXED.ZIP", s(m_Local + "/FIXED.ZIP"), 2));
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), data);
    QVERIFY(ftp.DeleteFile("/home/cust01/FIXED.ZIP"));
    QVERIFY(!QFile::exists(home() + "/FIXED.ZIP"));
    QVERIFY(ftp.Disconnect());

    QCOMPARE(m_Server->loginCount(), 1);
    const QStringList log = m_Server->commandLog();
    QVERIFY(log.contains("TYPE I"));
    QCOMPARE(log.last(), QStringLiteral("QUIT"));
    QCOMPARE(QDir(m_Local).entryList(QDir::Files), QStringList({"FIXED.ZIP", "ZEL.ZIP"}));
}

void tst_cFTP::failedOperationsReportTheirErrors() {
    QVERIFY(writeFile(m_Local + "/ZEL.ZIP", "zip"));
    QVERIFY(writeFile(m_Local + "/FIXED.ZIP", "keep me"));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));

    QVERIFY_RAISES(ftp.GetFile("/home/cust01/none.zip", s(m_Local + "/FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File /home/cust01/none.zip from Server");
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), QByteArray("keep me"));

    QVERIFY(m_Server->refuseStore());
    QVERIFY_RAISES(ftp.PutFile(s(m_Local + "/ZEL.ZIP"), "/home/cust01/ZEL.ZIP"), 2003, "KTFTP::PutFile",
                   "Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n" +
                       withReply("553-Could not create file.\r\n553 Quota exceeded.\r\n"));
    QVERIFY(m_Server->clearFaults());
    // A local failure carries no server reply.
    QVERIFY_RAISES(ftp.PutFile(s(m_Local + "/none.zip"), "/home/cust01/ZEL.ZIP"), 2003, "KTFTP::PutFile",
                   std::string("Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n"));

    QVERIFY_RAISES(ftp.RenameFile("/home/cust01/none", "/home/cust01/other"), 2003, "KTFTP::RenameFile",
                   "Couldn't Rename File /home/cust01/none\r\n" + withReply("550 No such file or directory.\r\n"));
    QVERIFY_RAISES(ftp.DeleteFile("/home/cust01/none"), 2004, "KTFTP::DeleteFile",
                   "Couldn't Delete File /home/cust01/none from Server");
    // "%s" in a name is not expanded again.
    QVERIFY_RAISES(ftp.DeleteFile("%s"), 2004, "KTFTP::DeleteFile", "Couldn't Delete File %s from Server");

    // A server that drops the connection: the operation fails, the next one logs in again.
    QVERIFY(writeFile(home() + "/victim.txt", "v"));
    QVERIFY(m_Server->close421OnNext("DELE"));
    QVERIFY_RAISES(ftp.DeleteFile("victim.txt"), 2004, "KTFTP::DeleteFile",
                   "Couldn't Delete File victim.txt from Server");
    QVERIFY(ftp.Connected());
    QVERIFY(ftp.DeleteFile("victim.txt"));
    QCOMPARE(m_Server->loginCount(), 2);
}

void tst_cFTP::directoryChange() {
    QVERIFY(QDir().mkpath(home() + "/data/in"));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));

    ftp.SetDirectory("data\\in");
    QCOMPARE(ftp.Directory(), std::string("data\\in"));
    QVERIFY(m_Server->commandLog().contains("CWD data/in"));
    // Relative names now land in that folder.
    QVERIFY(writeFile(m_Local + "/f.txt", "f"));
    QVERIFY(ftp.PutFile(s(m_Local + "/f.txt"), "f.txt"));
    QVERIFY(QFile::exists(home() + "/data/in/f.txt"));

    QVERIFY_RAISES(ftp.SetDirectory("\\home\\cust01\\none"), 2002, "KTFTP::Directory[Let]",
                   "Cannot Change Directory to /home/cust01/none. It either doesn't exist, or is protected");
    QCOMPARE(ftp.Directory(), std::string("data\\in"));
    QVERIFY(ftp.Connected());

    ftp.SetDirectory("/home/cust01");
    QCOMPARE(ftp.Directory(), std::string("/home/cust01"));
    QVERIFY(ftp.Disconnect());
    QCOMPARE(ftp.Directory(), std::string());
}

void tst_cFTP::userNameWithBlankAndOddRemoteNames() {
    QVERIFY(writeFile(m_Local + "/ZEL.ZIP", "odd"));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust 02", "p;w#%d"));
    QVERIFY(m_Server->commandLog().contains("USER cust 02"));
    const std::string remote = "/home/cust 02/a b;c#d%20e.ZIP";
    QVERIFY(ftp.PutFile(s(m_Local + "/ZEL.ZIP"), remote));
    QCOMPARE(readFile(m_Root + "/home/cust 02/a b;c#d%20e.ZIP"), QByteArray("odd"));
    QVERIFY(ftp.GetFile(remote, s(m_Local + "/back.zip")));
    QCOMPARE(readFile(m_Local + "/back.zip"), QByteArray("odd"));
    QVERIFY(ftp.RenameFile(remote, "/home/cust 02/x y.ZIP"));
    QVERIFY(ftp.DeleteFile("/home/cust 02/x y.ZIP"));
    QVERIFY(QDir(m_Root + "/home/cust 02").isEmpty());
}

void tst_cFTP::commandInjectionRefused() {
    QVERIFY(writeFile(home() + "/victim.txt", "v"));
    QVERIFY(writeFile(home() + "/other.txt", "o"));
    QVERIFY(writeFile(m_Local + "/ZEL.ZIP", "zip"));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    QVERIFY(m_Server->clearLog());

    QVERIFY_RAISES(ftp.DeleteFile("other.txt\r\nDELE victim.txt"), 2004, "KTFTP::DeleteFile",
                   "Couldn't Delete File other.txt\r\nDELE victim.txt from Server");
    QVERIFY_RAISES(ftp.RenameFile("other.txt", "x\nDELE victim.txt"), 2003, "KTFTP::RenameFile",
                   std::string("Couldn't Rename File other.txt\r\n"));
    QVERIFY_RAISES(ftp.SetDirectory("data\rDELE victim.txt"), 2002, "KTFTP::Directory[Let]",
                   "Cannot Change Directory to data\rDELE victim.txt. It either doesn't exist, or is protected");
    QVERIFY_RAISES(ftp.GetFile("x\nDELE victim.txt", s(m_Local + "/x")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File x\nDELE victim.txt from Server");
    QVERIFY_RAISES(ftp.PutFile(s(m_Local + "/ZEL.ZIP"), "x\r\nDELE victim.txt"), 2003, "KTFTP::PutFile",
                   "Couldn't Send File x\r\nDELE victim.txt to Server\r\n");
    // A NUL would cut the name short and name another file.
    const std::string cut("victim.txt\0.bak", 15);
    QVERIFY_RAISES(ftp.DeleteFile(cut), 2004, "KTFTP::DeleteFile", "Couldn't Delete File " + cut + " from Server");

    QVERIFY(m_Server->commandLog().isEmpty());
    QVERIFY(QFile::exists(home() + "/victim.txt"));
    QVERIFY(QFile::exists(home() + "/other.txt"));
    QVERIFY(ftp.Disconnect());

    QVERIFY_RAISES(ftp.Connect(host(), "cust01\r\nDELE victim.txt", "secret"), 2001, "KTFTP::Connect",
                   "Cannot Connect to " + host() + " using User and Password Parameters\r\n");
    QCOMPARE(m_Server->loginCount(), 0);
}

void tst_cFTP::cancelledOrBrokenDownloadKeepsTheOldFile() {
    QByteArray data(3 << 20, 'z');
    QVERIFY(writeFile(home() + "/FIXED.ZIP", data));
    const QByteArray old = "yesterday's data set";
    QVERIFY(writeFile(m_Local + "/FIXED.ZIP", old));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));

    // The server drops the data connection half-way.
    QVERIFY(m_Server->dropDataAfter(500000));
    QVERIFY_RAISES(ftp.GetFile("/home/cust01/FIXED.ZIP", s(m_Local + "/FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File /home/cust01/FIXED.ZIP from Server");
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), old);
    QCOMPARE(QDir(m_Local).entryList(QDir::Files | QDir::Hidden), QStringList{"FIXED.ZIP"});

    // The user cancels while the server has stopped sending.
    QVERIFY(m_Server->stallDataAfter(100000));
    QElapsedTimer timer;
    timer.start();
    {
        HookGuard guard([&](std::uint64_t done, std::uint64_t) { return done < 100000 && timer.elapsed() < 500; });
        QVERIFY_RAISES(ftp.GetFile("/home/cust01/FIXED.ZIP", s(m_Local + "/FIXED.ZIP")), 2006, "KTFTP::GetFile",
                       "Couldn't Get File /home/cust01/FIXED.ZIP from Server");
    }
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), old);
    QCOMPARE(QDir(m_Local).entryList(QDir::Files | QDir::Hidden), QStringList{"FIXED.ZIP"});

    // Still connected as far as the caller is concerned, and it works.
    QVERIFY(m_Server->clearFaults());
    QVERIFY(ftp.Connected());
    QVERIFY(ftp.GetFile("/home/cust01/FIXED.ZIP", s(m_Local + "/FIXED.ZIP")));
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), data);
    QVERIFY(ftp.Disconnect());
}

void tst_cFTP::remoteFileSize() {
    QVERIFY(writeFile(home() + "/sized.bin", QByteArray(4321, 's')));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    std::uint64_t size = 0;
    QVERIFY(ftp.RemoteFileSize("/home/cust01/sized.bin", size));
    QCOMPARE(size, std::uint64_t(4321));
    size = 7;
    QVERIFY(!ftp.RemoteFileSize("/home/cust01/none.bin", size));
    QVERIFY(m_Server->disableSize());
    QVERIFY(!ftp.RemoteFileSize("/home/cust01/sized.bin", size));
    QCOMPARE(size, std::uint64_t(7));
    QVERIFY(ftp.Connected());
}

void tst_cFTP::releasingAConnectedObjectLogsOut() {
    {
        cFTP ftp;
        QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    }
    QCOMPARE(m_Server->commandLog().last(), QStringLiteral("QUIT"));
}

QTEST_GUILESS_MAIN(tst_cFTP)
#include "tst_cFTP.moc"
