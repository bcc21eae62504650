// The FTP layer against a real server: the WinINet-shaped calls over libcurl, and the cFTP session on top.
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/inet/Inet.h"
#include "support/Files.h"
#include "support/FtpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace inet;
using namespace testsupport;
using winapi::FALSE;

namespace {

// Offsets matter: a shifted or truncated copy differs.
QByteArray Pattern(int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return data;
}

// The extended text as cFTP builds it from a server reply: "\r\n", the reply, one NUL.
std::string WithReply(const std::string& reply) {
    return "\r\n" + reply + std::string(1, '\0');
}

// Lines starting with each of `starts`, in this order, others in between.
bool InOrder(const QStringList& lines, const QStringList& starts) {
    qsizetype at = 0;
    for (const QString& start : starts) {
        while (at < lines.size() && !lines[at].startsWith(start))
            ++at;
        if (at++ == lines.size())
            return false;
    }
    return true;
}

} // namespace

// Expects the call to raise cFTP's error code (2001...) with this source and description, compared byte for byte.
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
    void cleanup();
    void connectAndDisconnect();
    void namesThatWouldStartAnotherCommandAreRefused();
    void hookSeesProgressAndCancels();
    void transfersSurviveAPoorLine_data();
    void transfersSurviveAPoorLine();
    void theHookEndsTheWaitBeforeARetry();
    void verboseOutputHidesThePassword();
    void refusals();
    void sequenceOverOneConnection();
    void failedOperationsReportTheirErrors();
    void uploadsArePublishedWhole_data();
    void uploadsArePublishedWhole();
    void ftpesConnectsOnlySecurely_data();
    void ftpesConnectsOnlySecurely();

private:
    HINTERNET connect();
    // Local names are relative to m_Local.
    BOOL put(HINTERNET conn, const QString& local, const char* remote) {
        return FtpPutFileA(conn, (m_Local + "/" + local).toUtf8().constData(), remote, FTP_TRANSFER_TYPE_BINARY, 0);
    }
    BOOL get(HINTERNET conn, const char* remote, const QString& local) {
        return FtpGetFileA(conn, remote, (m_Local + "/" + local).toUtf8().constData(), FALSE, 0, 2, 0);
    }
    std::string host() const { return m_Server->hostPort().toStdString(); }
    std::string local(const QString& name) const { return (m_Local + "/" + name).toStdString(); }
    QString home() const { return m_Root + "/home/cust01"; }

    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Local;
    std::unique_ptr<FtpServer> m_Server;
    std::unique_ptr<FtpServer> m_TlsServer;
    HINTERNET m_Session = 0;
    std::vector<HINTERNET> m_Open; // closed after each test; closing twice is harmless
    QStringList m_Notices;         // what the notice hook was told during the test
    std::function<void()> m_OnNotice;
};

void tst_cFTP::initTestCase() {
    m_Root = m_Dir.filePath("root");
    m_Local = m_Dir.filePath("local");
    m_Server = std::make_unique<FtpServer>(
        m_Root, QList<FtpUser>{{"cust01", "secret", home()}, {"cust 02", "p;w#%d", m_Root + "/home/cust 02"}});
    QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
    m_TlsServer = std::make_unique<FtpServer>(m_Root, QList<FtpUser>{{"cust01", "secret", home()}}, true);
    QVERIFY2(m_TlsServer->isRunning(), qPrintable(m_TlsServer->errorString()));
    m_Session = InternetOpenA("KTFtp Instance", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    QVERIFY(m_Session != 0);
}

void tst_cFTP::init() {
    QVERIFY(m_Server->setFaults("clear") && m_Server->clearLog());
    QVERIFY(m_TlsServer->clearLog() && m_TlsServer->setFaults("cert good"));
    QVERIFY(QDir(m_Local).removeRecursively() && QDir().mkpath(m_Local));
    m_Notices.clear();
    m_OnNotice = nullptr;
    SetNoticeHook([this](const std::string& text, std::chrono::milliseconds) {
        m_Notices << QString::fromStdString(text);
        if (m_OnNotice)
            m_OnNotice();
    });
}

void tst_cFTP::cleanup() {
    SetProgressHook({});
    SetNoticeHook({});
    for (HINTERNET handle : std::exchange(m_Open, {}))
        InternetCloseHandle(handle);
}

HINTERNET tst_cFTP::connect() {
    const HINTERNET handle = InternetConnectA(m_Session, m_Server->hostPort().toUtf8().constData(), 0, "cust01",
                                              "secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    if (handle)
        m_Open.push_back(handle);
    return handle;
}

void tst_cFTP::namesThatWouldStartAnotherCommandAreRefused() {
    // Line breaks anywhere in a remote name are refused before anything is sent, and so is a folder name
    // (curl would list the folder).
    WriteFile(m_Local + "/odd.txt", "odd");
    const HINTERNET conn = connect();
    QVERIFY(conn);
    const qsizetype before = m_Server->commandLog().size();
    const std::function<BOOL()> refused[] = {
        [&] { return FtpDeleteFileA(conn, "odd.txt\r\nDELE /home/cust01/100%.txt"); },
        [&] { return FtpRenameFileA(conn, "a", "b\nDELE x"); },
        [&] { return get(conn, "x\nDELE y", "x"); },
        [&] { return put(conn, "odd.txt", "x\r\nDELE y"); },
        [&] { return get(conn, "/home/cust01/", "x"); },
    };
    for (const auto& call : refused) {
        QVERIFY(!call());
        QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    }
    QCOMPARE(m_Server->commandLog().size(), before);
}

void tst_cFTP::hookSeesProgressAndCancels() {
    const QByteArray old = "the previous data set";
    WriteFile(home() + "/FIXED.ZIP", Pattern(2 << 20));
    WriteFile(m_Local + "/FIXED.ZIP", old);
    WriteFile(m_Local + "/ZEL.ZIP", Pattern(24 << 20)); // more than the loopback's socket buffers hold
    const HINTERNET conn = connect();
    // Slow enough that no transfer can end before the hook acts.
    QVERIFY(conn && m_Server->setFaults("throttle 262144"));
    for (bool upload : {false, true}) {
        const std::uint64_t size = upload ? 24 << 20 : 2 << 20;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
        SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
            seen.emplace_back(done, total);
            return done < 300000;
        });
        QVERIFY(!(upload ? put(conn, "ZEL.ZIP", "ZEL.ZIP") : get(conn, "FIXED.ZIP", "FIXED.ZIP")));
        QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        SetProgressHook({});
        // Values in between show the transfer moving, not only its start and end; none after the cancel.
        QVERIFY(std::is_sorted(seen.begin(), seen.end(), [](auto a, auto b) { return a.first < b.first; }));
        QVERIFY(std::any_of(seen.begin(), seen.end(), [&](auto s) { return s.first > 0 && s.first < size / 2; }));
        QVERIFY(seen.back().first >= 300000 && seen.end()[-2].first < 300000);
        QCOMPARE(seen.back().second, size);
    }
    // The upload stopped at once: the server holds a small part of it.
    QVERIFY(QFileInfo(home() + "/ZEL.ZIP").size() < (8 << 20));
    // Each cancel dropped its connection; the next call logs in again.
    QVERIFY(FtpDeleteFileA(conn, "ZEL.ZIP"));
    QCOMPARE(m_Server->loginCount(), 3);

    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"FIXED.ZIP", old}, {"ZEL.ZIP", Pattern(24 << 20)}}));
}

void tst_cFTP::transfersSurviveAPoorLine_data() {
    QTest::addColumn<QString>("call");   // "get", "put" or "connect"
    QTest::addColumn<QString>("faults"); // in the server's words; "bigger" grows the remote partial during the wait
    QTest::addColumn<DWORD>("error");    // 0: done, with identical bytes; ~0: failed, however the line broke
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<QStringList>("sent"); // starts of command lines the server must have seen, in this order
    const QString lost = "Connection lost \u2014 trying again (1 of 3)";
    const QString mismatch = "The copy did not match the original \u2014 transferring it again (1 of 3)";
    const auto anyOf = [](int count) { return QStringList(count, QString()); };
    const auto row = [](const char* name, const char* call, const char* faults, DWORD error, QStringList notices,
                        QStringList sent = {}) { QTest::newRow(name) << call << faults << error << notices << sent; };
    // Downloads resume with REST from what the partial file holds.
    row("get: drops three times", "get", "break 200000 3 426", 0,
        {"Connection lost at 19% \u2014 resuming (1 of 3)", "Connection lost at 38% \u2014 resuming (2 of 3)",
         "Connection lost at 57% \u2014 resuming (3 of 3)"},
        {"REST 200000", "REST 400000", "REST 600000"});
    row("get: reset", "get", "break 300000 1 reset", 0, anyOf(1), {"REST "});
    row("get: 421 midway", "get", "break 300000 1 421", 0, anyOf(1), {"REST "});
    row("get: stalls", "get", "break 300000 1 stall", 0, anyOf(1), {"REST "});
    row("get: 421 at RETR", "get", "close421 RETR", 0, {lost});
    row("get: REST refused", "get", "break 300000 1 426;refuse REST", 0, anyOf(1), {"REST 300000"});
    row("get: a byte changed, HASH", "get", "checksum HASH;flip RETR 1", 0, {mismatch}, {"HASH /home/cust01/f.bin"});
    row("get: a byte changed, XMD5", "get", "checksum XMD5;flip RETR 1", 0, {mismatch}, {"XMD5 /home/cust01/f.bin"});
    row("get: without SIZE", "get", "no-size on", 0, {});
    row("get: drops every time", "get", "drop 100000", ERROR_INTERNET_CONNECTION_ABORTED, anyOf(3));
    row("get: no such file", "get", "", ERROR_INTERNET_EXTENDED_ERROR, {});
    // Uploads ask SIZE, then APPE, REST + STOR, or STOR again.
    row("put: drops three times", "put", "break 200000 3 426", 0, anyOf(3), {"SIZE /home/cust01/up.bin", "APPE "});
    row("put: reset", "put", "break 300000 1 reset", 0, anyOf(1), {"APPE "});
    row("put: 421 midway", "put", "break 300000 1 421", 0, anyOf(1), {"APPE "});
    row("put: stalls", "put", "break 300000 1 stall", 0, anyOf(1), {"APPE "});
    row("put: APPE refused", "put", "break 300000 1 426;refuse APPE", 0, anyOf(1), {"APPE ", "REST "});
    row("put: APPE and REST refused", "put", "break 300000 1 426;refuse APPE;refuse REST", 0, anyOf(1),
        {"APPE ", "REST ", "STOR "});
    row("put: remote partial bigger", "put", "break 300000 1 426;bigger", 0, anyOf(1));
    row("put: drops every time", "put", "drop 100000", ~DWORD(0), anyOf(3));
    row("put: stored short once", "put", "shorten 100 1", 0, {mismatch});
    row("put: stored short every time", "put", "shorten 100", ERROR_INTERNET_COPY_MISMATCH, anyOf(3));
    row("put: a byte changed, XCRC", "put", "checksum XCRC;flip STOR 1", 0, {mismatch}, {"XCRC /home/cust01/up.bin"});
    row("put: a byte changed, HASH", "put", "checksum HASH;flip STOR 1", 0, {mismatch}, {"HASH /home/cust01/up.bin"});
    row("put: refused", "put", "refuse-stor on", ERROR_INTERNET_EXTENDED_ERROR, {});
    // A login the server turned away for the moment is tried again; refused ones are in connectFailures.
    row("connect: 421 at login", "connect", "close421 PASS", 0, {lost});
}

void tst_cFTP::transfersSurviveAPoorLine() {
    QFETCH(QString, call);
    QFETCH(QString, faults);
    QFETCH(DWORD, error);
    QFETCH(QStringList, notices);
    QFETCH(QStringList, sent);
    const QByteArray data = Pattern(1 << 20);
    WriteFile(home() + "/f.bin", data);
    WriteFile(m_Local + "/f.bin", call == "put" ? data : "previous");
    QFile::remove(home() + "/up.bin");
    // The client gives up on a stalled line after two seconds; only those rows can afford so short a limit.
    if (faults.contains("stall"))
        qputenv("ZEL_FTP_TIMEOUT", "2");
    if (faults.contains("bigger"))
        m_OnNotice = [this] { WriteFile(home() + "/up.bin", Pattern(3 << 20)); };
    QVERIFY(m_Server->setFaults(QString(faults).remove("bigger")));
    HINTERNET conn = call == "connect" ? 0 : connect();
    BOOL done = FALSE;
    if (call == "get")
        done = get(conn, error && !faults.contains("drop") ? "/home/cust01/none.bin" : "/home/cust01/f.bin", "f.bin");
    else if (call == "put")
        done = put(conn, "f.bin", "/home/cust01/up.bin");
    else
        done = (conn = connect()) != 0;
    qunsetenv("ZEL_FTP_TIMEOUT");
    if (error != ~DWORD(0))
        QCOMPARE(done ? DWORD(0) : winapi::GetLastError(), error);
    QCOMPARE(bool(done), !error);
    QCOMPARE(m_Notices.size(), notices.size());
    for (qsizetype i = 0; i < notices.size(); ++i) {
        if (!notices[i].isEmpty())
            QCOMPARE(m_Notices[i], notices[i]);
    }
    const QStringList log = m_Server->commandLog();
    QVERIFY2(InOrder(log, sent), qPrintable(log.join(" | ")));
    // The local side: the new file in place, or the old one as it was, and nothing partial beside it.
    const QByteArray local = call == "get" && error ? QByteArray("previous") : data;
    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"f.bin", call == "connect" ? "previous" : local}}));
    if (call == "put" && !error)
        QCOMPARE(ReadFile(home() + "/up.bin"), data);
    if (call == "connect")
        QVERIFY(FtpDeleteFileA(conn, "/home/cust01/f.bin"));
}

void tst_cFTP::theHookEndsTheWaitBeforeARetry() {
    WriteFile(home() + "/f.bin", Pattern(1 << 20));
    WriteFile(m_Local + "/f.bin", "previous");
    const HINTERNET conn = connect();
    QVERIFY(conn);
    // A wait far longer than the test may take: only the hook can end it, by cancelling or by throwing (the
    // exception reaches the caller), and no second attempt is made. Thrown in curl's callback, too.
    qputenv("ZEL_FTP_RETRY_WAITS", "600");
    for (const std::string how : {"cancel", "throw", "throw at once"}) {
        QVERIFY(m_Server->setFaults("clear;break 100000 1 426") && m_Server->clearLog());
        std::chrono::milliseconds announced{0};
        SetNoticeHook([&](const std::string&, std::chrono::milliseconds wait) { announced = wait; });
        int callsWhileWaiting = 0;
        SetProgressHook([&](std::uint64_t, std::uint64_t) {
            if (how != "throw at once" && (announced.count() == 0 || ++callsWhileWaiting < 5))
                return true;
            if (how == "cancel")
                return false;
            throw std::runtime_error("stopped by the window");
        });
        DWORD error = 0;
        try {
            error = get(conn, "/home/cust01/f.bin", "f.bin") ? 0 : winapi::GetLastError();
        } catch (const std::runtime_error&) {
            error = 1;
        }
        QCOMPARE(error, how == "cancel" ? ERROR_INTERNET_OPERATION_CANCELLED : 1);
        if (how != "throw at once") {
            QCOMPARE(announced, std::chrono::milliseconds(600000));
            QCOMPARE(callsWhileWaiting, 5); // the hook ran during the wait
            QCOMPARE(m_Server->commandLog().filter(QRegularExpression("^RETR ")).size(), 1);
        }
        QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"f.bin", "previous"}}));
    }
    qputenv("ZEL_FTP_RETRY_WAITS", "0,0,0");
    // The handle is free again.
    SetProgressHook({});
    QVERIFY(m_Server->setFaults("clear") && get(conn, "/home/cust01/f.bin", "f.bin"));
}

void tst_cFTP::verboseOutputHidesThePassword() {
    QTemporaryFile capture;
    QVERIFY(capture.open());
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    qputenv("ZEL_INET_VERBOSE", "1");
    const HINTERNET conn = connect();
    qunsetenv("ZEL_INET_VERBOSE");
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    QVERIFY(conn && capture.seek(0));
    const QByteArray text = capture.readAll();
    QVERIFY2(text.contains("> USER cust01\n") && text.contains("> PASS ****\n"), text.constData());
    QVERIFY2(!text.contains("secret"), text.constData());
}

void tst_cFTP::connectAndDisconnect() {
    int hookCalls = 0;
    SetProgressHook([&](std::uint64_t, std::uint64_t) { return ++hookCalls > 0; });
    const ClosedPort closed;
    {
        cFTP ftp;
        // No host: refused before any network call (the hook runs during every network call).
        QVERIFY_RAISES(ftp.Connect("", "cust01", "secret"), 2007, "cFTP::Connect", "No Host Address Specified!");
        QCOMPARE(hookCalls, 0);
        // Nobody there, or no such host: without a server reply the text ends in one line break, and a server
        // that is not there is not tried again.
        for (const std::string& where : {closed.hostPort().toStdString(), std::string("zel-nowhere.invalid"),
                                        std::string("127.0.0.1:99999"), std::string("evil.example/x@y")}) {
            QVERIFY_RAISES(ftp.Connect(where), 2001, "KTFTP::Connect",
                           "Cannot Connect to " + where + " using User and Password Parameters\r\n");
            QCOMPARE(ftp.Host(), where);
        }
        QCOMPARE(m_Notices, QStringList());
        // Message, empty line, the server's reply, the buffer's NUL.
        QVERIFY_RAISES(ftp.Connect(host(), "", "wrong"), 2001, "KTFTP::Connect",
                       "Cannot Connect to " + host() + " using User and Password Parameters\r\n" +
                           WithReply("530 Authentication failed.\r\n"));
        QCOMPARE(ftp.Password(), std::string("wrong"));
        // Omitted arguments use the stored values, even those of failed attempts.
        ftp.SetPassword("secret");
        QVERIFY(ftp.Connect() && ftp.Connected() && hookCalls > 0);
        // A server that no longer answers holds up a logout for a moment, not for the minute a reply may take.
        QVERIFY(m_Server->setFaults("mute QUIT"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(ftp.Disconnect());
        QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!ftp.Connected());
        QCOMPARE(ftp.Host() + ftp.User() + ftp.Password() + ftp.Directory(), std::string());
        QVERIFY(m_Server->setFaults("clear") && ftp.Connect(host(), "cust01", "secret"));
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
    std::uint64_t size = 0;
    QVERIFY_RAISES(ftp.RemoteFileSize("/a", size), 2005, "KTFTP::RemoteFileSize", notConnected);
    QCOMPARE(ftp.Host(), host());
    // Credentials that cannot be sent as they stand are refused before connecting, never sent cut short.
    for (const auto& [user, password] : {std::pair{std::string("cust01\0x", 8), std::string("secret")},
                                         std::pair{std::string("cust01"), std::string("sec\0ret", 7)},
                                         std::pair{std::string("cust01\r\nDELE x"), std::string("secret")},
                                         std::pair{std::string("cust01"), std::string("secret\r")}}) {
        QVERIFY_RAISES(ftp.Connect(host(), user, password), 2001, "KTFTP::Connect",
                       "The user name or the password contains a line break or a NUL character, which cannot be "
                       "sent to the server.");
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
    QCOMPARE(m_Server->loginCount(), 1); // the first connection is still the one in use
}

void tst_cFTP::sequenceOverOneConnection() {
    const QByteArray data = Pattern(1 << 20); // every byte value, line breaks included: binary mode only
    WriteFile(m_Local + "/ZEL.ZIP", data);
    WriteFile(m_Local + "/FIXED.ZIP", "an older local copy");
    WriteFile(m_Local + "/empty", "");
    // The workflows' sequence by a user with a blank in the name, odd characters in paths and password.
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust 02", "p;w#%d"));
    QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust 02/a b;c#d%20e?.ZIP", 2));
    QVERIFY(ftp.GetFile("/home/cust 02/a b;c#d%20e?.ZIP", local("FIXED.ZIP"), 2));
    // Empty files work both ways.
    QVERIFY(ftp.PutFile(local("empty"), "/home/cust 02/empty") && ftp.GetFile("/home/cust 02/empty", local("back")));
    QCOMPARE(Snapshot(m_Local),
             (QMap<QString, QByteArray>{{"FIXED.ZIP", data}, {"ZEL.ZIP", data}, {"back", ""}, {"empty", ""}}));
    QCOMPARE(Snapshot(m_Root + "/home/cust 02"),
             (QMap<QString, QByteArray>{{"a b;c#d%20e?.ZIP", data}, {"empty", ""}}));
    QVERIFY(ftp.Disconnect());
    QCOMPARE(m_Server->loginCount(), 1);
    const QStringList log = m_Server->commandLog();
    QVERIFY(log.contains("USER cust 02") && log.contains("TYPE I") && log.last() == "QUIT");
}

void tst_cFTP::failedOperationsReportTheirErrors() {
    WriteFile(m_Local + "/ZEL.ZIP", "zip");
    WriteFile(m_Local + "/FIXED.ZIP", "keep me");
    WriteFile(home() + "/ZEL.ZIP", QByteArray(4221, 's'));
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));

    QVERIFY_RAISES(ftp.GetFile("/home/cust01/none.zip", local("FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File /home/cust01/none.zip from Server");
    // A NUL would cut the name short and name another file; "%s" in a name is not expanded again.
    const std::string cut("/home/cust01/ZEL.ZIP\0%s", 23);
    QVERIFY_RAISES(ftp.GetFile(cut, local("FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File " + cut + " from Server");
    // A download that never arrives as the server holds it says so.
    QVERIFY(m_Server->setFaults("checksum XCRC;flip RETR 4"));
    QVERIFY_RAISES(ftp.GetFile("/home/cust01/ZEL.ZIP", local("FIXED.ZIP")), 2006, "KTFTP::GetFile",
                   "Couldn't Get File /home/cust01/ZEL.ZIP from Server\r\nThe copy differs from the original in "
                   "size or checksum, also after it was transferred again.");
    QCOMPARE(ReadFile(m_Local + "/FIXED.ZIP"), QByteArray("keep me"));
    QVERIFY(m_Server->setFaults("clear;refuse-stor on"));
    QVERIFY_RAISES(ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP"), 2003, "KTFTP::PutFile",
                   "Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n" +
                       WithReply("553-Could not create file.\r\n553 Quota exceeded.\r\n"));
    // A local failure carries no server reply.
    QVERIFY_RAISES(ftp.PutFile(local("none.zip"), "/home/cust01/ZEL.ZIP"), 2003, "KTFTP::PutFile",
                   std::string("Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n"));

    // The size the server tells; no answer is no size, and no error either: false, with the size left alone.
    std::uint64_t size = 7;
    QVERIFY(!ftp.RemoteFileSize("/home/cust01/none.bin", size));
    QVERIFY(ftp.RemoteFileSize("/home/cust01/ZEL.ZIP", size));
    QCOMPARE(size, std::uint64_t(4221));
    QVERIFY(m_Server->setFaults("no-size on"));
    size = 7;
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
    const QString temporary = "/home/cust01/ZEL.ZIP.zel~";
    const QByteArray old = "an older upload", fresh = "new"; // "new" stands for the file sent
    const auto row = [](const char* name, const char* faults, const QString& failure, const QByteArray& remaining,
                        const QStringList& sent) { QTest::newRow(name) << faults << failure << remaining << sent; };
    row("plain", "", "", fresh, {"STOR " + temporary, "RNFR " + temporary, "RNTO /home/cust01/ZEL.ZIP"});
    row("line drops once", "break 300000 1 426", "", fresh,
        {"STOR " + temporary, "APPE " + temporary, "RNTO /home/cust01/ZEL.ZIP"});
    row("rename refused", "refuse RNFR", "", fresh, {"RNFR ", "DELE " + temporary, "STOR /home/cust01/ZEL.ZIP"});
    row("line always drops", "drop 100000", put, old, {"STOR " + temporary, "DELE " + temporary});
    row("stored short", "shorten 100",
        put + "\r\nThe server holds 1048476 bytes of /home/cust01/ZEL.ZIP, but 1048576 bytes were sent. Please send "
              "again.",
        old, {"STOR " + temporary});
    // Without rename the target's name itself is written, so a failure there removes what arrived.
    row("rename refused, line always drops", "refuse RNFR;break 100000 0 426 1", put, QByteArray(),
        {"RNFR ", "STOR /home/cust01/ZEL.ZIP", "DELE /home/cust01/ZEL.ZIP"});
}

void tst_cFTP::uploadsArePublishedWhole() {
    QFETCH(QString, faults);
    QFETCH(QString, failure);
    QFETCH(QByteArray, remaining);
    QFETCH(QStringList, sent);
    const QByteArray data = Pattern(1 << 20);
    WriteFile(m_Local + "/ZEL.ZIP", data);
    QVERIFY(QDir(home()).removeRecursively());
    WriteFile(home() + "/ZEL.ZIP", "an older upload");
    // Whenever the upload waits for a retry, the target's name still holds the older upload whole.
    QByteArray seenDuringRetry;
    m_OnNotice = [&] {
        if (seenDuringRetry.isEmpty())
            seenDuringRetry = ReadFile(home() + "/ZEL.ZIP");
    };
    cFTP ftp;
    QVERIFY(ftp.Connect(host(), "cust01", "secret"));
    QVERIFY(m_Server->setFaults(faults));
    QString raised;
    try {
        ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP", 2);
    } catch (const zel::Error& error) {
        raised = QString::fromStdString(error.Description());
        QCOMPARE(error.Number(), zel::vbObjectError + 2003);
        QCOMPARE(error.Source(), std::string("KTFTP::PutFile"));
    }
    QVERIFY2(failure.isEmpty() ? raised.isEmpty() : raised.startsWith(failure), qPrintable(raised));
    // (Unless the server cannot rename: then the target's name is all there is.)
    QVERIFY(seenDuringRetry.isEmpty() || seenDuringRetry == "an older upload" || faults.contains("RNFR"));
    // Nothing beside the target: the temporary is renamed or deleted.
    const QMap<QString, QByteArray> there = Snapshot(home());
    QCOMPARE(there.keys(), remaining.isEmpty() ? QStringList() : QStringList{"ZEL.ZIP"});
    if (!remaining.isEmpty())
        QCOMPARE(there["ZEL.ZIP"], remaining == "new" ? data : remaining);
    const QStringList log = m_Server->commandLog();
    QVERIFY2(InOrder(log, sent), qPrintable(log.join(" | ")));
}

void tst_cFTP::ftpesConnectsOnlySecurely_data() {
    QTest::addColumn<QString>("certificate"); // "" for the plain server
    QTest::addColumn<QString>("caFile");      // "test" for the test CA
    QTest::addColumn<QString>("reason");      // empty: connects, and transfers work
    QTest::newRow("trusted") << "good"
                             << "test"
                             << "";
    QTest::newRow("no AUTH TLS") << ""
                                 << "test"
                                 << "the server does not offer TLS (it refused AUTH TLS), and the connection is not "
                                    "made without it.";
    QTest::newRow("another host") << "otherhost"
                                  << "test"
                                  << "the server's certificate was issued for another host name.";
    QTest::newRow("expired") << "expired"
                             << "test"
                             << "the server's certificate has expired or is not valid yet.";
    QTest::newRow("self-signed") << "selfsigned"
                                 << "test"
                                 << "the server's certificate is self-signed, so nobody vouches for it.";
    QTest::newRow("unknown authority")
        << "good"
        << ""
        << "the server's certificate was issued by an authority this computer does not trust.";
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
    QString raised;
    try {
        ftp.Connect(where, "cust01", "secret");
    } catch (const zel::Error& error) {
        raised = QString::fromStdString(error.Description());
    }
    qunsetenv("ZEL_FTP_CAFILE");
    QCOMPARE(raised, reason.isEmpty() ? QString()
                                      : QString::fromStdString("Cannot Connect to " + where + " securely: ") + reason);
    const QStringList log = server.commandLog();
    QCOMPARE(log.value(0), QStringLiteral("AUTH TLS"));
    // Not a word more in clear, and never the password.
    QVERIFY2(reason.isEmpty() ? log.contains("PROT P") && log.contains("PASS secret") : log.filter("PASS").isEmpty(),
             qPrintable(log.join(" | ")));
    if (reason.isEmpty()) {
        // Data connections resume the control connection's session, as this server insists.
        WriteFile(m_Local + "/ZEL.ZIP", Pattern(300000));
        QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP") &&
                ftp.GetFile("/home/cust01/ZEL.ZIP", local("back")));
        QCOMPARE(ReadFile(m_Local + "/back"), Pattern(300000));
    }
}

QTEST_GUILESS_MAIN(tst_cFTP)
#include "tst_cFTP.moc"
