// The FTP layer against a real server, through the cFTP session the program uses: logins, transfers on a poor
// line with their retries, the atomic publish of an upload, FTPS, the hooks and the error texts.
#include "ftp/cFTP.h"
#include "platform/inet/Inet.h"
#include "support/FtpServer.h"
#include "support/TestFiles.h"

#include <QtTest>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include <unistd.h>

using namespace testsupport;
using Tree = QMap<QString, QByteArray>;

namespace {

// Lines starting with each of `starts`, in this order, others in between; a start "!line" names a line that must not
// be there at all.
bool Sent(const QStringList& lines, const QStringList& starts) {
    qsizetype at = 0;
    for (const QString& start : starts) {
        if (start.startsWith('!')) {
            if (lines.contains(start.mid(1)))
                return false;
            continue;
        }
        while (at < lines.size() && !lines[at].startsWith(start))
            ++at;
        if (at++ == lines.size())
            return false;
    }
    return true;
}

} // namespace

class tst_cFTP : public QObject {
    Q_OBJECT

    std::string host() const { return m_Server->hostPort().toStdString(); }
    std::string local(const QString& name) const { return (m_Local + "/" + name).toStdString(); }
    QString home() const { return m_Root + "/home/cust01"; }

    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Local;
    std::unique_ptr<FtpServer> m_Server;
    std::unique_ptr<FtpServer> m_TlsServer;
    QStringList m_Notices; // what the notice hook was told during the test
    std::function<void()> m_OnNotice;

private Q_SLOTS:
    void initTestCase() {
        m_Root = m_Dir.filePath("root");
        m_Local = m_Dir.filePath("local");
        m_Server = std::make_unique<FtpServer>(
            m_Root, QList<FtpUser>{{"cust01", "secret", home()}, {"cust 02", "p;w#%d", m_Root + "/home/cust 02"}});
        QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
        m_TlsServer = std::make_unique<FtpServer>(m_Root, QList<FtpUser>{{"cust01", "secret", home()}}, true);
        QVERIFY2(m_TlsServer->isRunning(), qPrintable(m_TlsServer->errorString()));
    }
    void init() {
        QVERIFY(m_Server->setFaults("clear") && m_Server->clearLog());
        QVERIFY(m_TlsServer->clearLog() && m_TlsServer->setFaults("cert good"));
        QVERIFY(QDir(m_Local).removeRecursively() && QDir().mkpath(m_Local));
        QVERIFY(QDir(home()).removeRecursively() && QDir().mkpath(home()));
        m_Notices.clear();
        m_OnNotice = nullptr;
        inet::SetNoticeHook([this](const std::string& text, std::chrono::milliseconds) {
            m_Notices << QString::fromStdString(text);
            if (m_OnNotice)
                m_OnNotice();
        });
    }
    void cleanup() {
        inet::SetProgressHook({});
        inet::SetNoticeHook({});
        // What a test that failed half-way set must not slow down the next.
        qputenv("ZEL_FTP_RETRY_WAITS", "0,0,0");
        qunsetenv("ZEL_FTP_TIMEOUT");
    }
    void connectAndDisconnect() {
        int hookCalls = 0;
        inet::SetProgressHook([&](std::uint64_t, std::uint64_t) { return ++hookCalls > 0; });
        const ClosedPort closed;
        {
            cFTP ftp;
            // Refused before any network call (the hook runs during every one).
            QCOMPARE(Raised([&] { ftp.Connect("", "cust01", "secret"); }),
                     "2007 cFTP::Connect: No Host Address Specified!");
            QCOMPARE(hookCalls, 0);
            // Without a server reply the text ends in one line break; a server that is not there is not retried.
            for (const std::string& where : {closed.hostPort().toStdString(), std::string("zel-nowhere.invalid"),
                                             std::string("127.0.0.1:99999"), std::string("evil.example/x@y")}) {
                QCOMPARE(Raised([&] { ftp.Connect(where); }),
                         QString::fromStdString("2001 KTFTP::Connect: Cannot Connect to " + where +
                                                " using User and Password Parameters\r\n"));
                QCOMPARE(ftp.Host(), where);
            }
            QCOMPARE(m_Notices, QStringList());
            // Message, empty line, the server's reply, the buffer's NUL.
            QCOMPARE(
                Raised([&] { ftp.Connect(host(), "", "wrong"); }),
                QString::fromStdString("2001 KTFTP::Connect: Cannot Connect to " + host() +
                                       " using User and Password Parameters\r\n\r\n530 Authentication failed.\r\n") +
                    QChar(0));
            // Omitted arguments use the stored values, even those of failed attempts.
            ftp.SetPassword("secret");
            QVERIFY(ftp.Connect() && ftp.Connected() && hookCalls > 0);
            // A server that no longer answers holds up a logout for a moment, not for the minute a reply may take.
            QVERIFY(m_Server->setFaults("mute QUIT"));
            QElapsedTimer timer;
            timer.start();
            QVERIFY(ftp.Disconnect() && !ftp.Connected());
            QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
            QCOMPARE(ftp.Host() + ftp.User() + ftp.Password() + ftp.Directory(), std::string());
            QVERIFY(m_Server->setFaults("clear") && ftp.Connect(host(), "cust01", "secret"));
        }
        QCOMPARE(m_Server->loginCount(), 2);
        QCOMPARE(m_Server->commandLog().last(), QStringLiteral("QUIT")); // released while connected
        // Credentials that cannot be sent as they stand are refused before connecting, never sent cut short.
        QVERIFY(m_Server->clearLog());
        cFTP ftp;
        for (const auto& credentials : {std::pair{std::string("cust01\0x", 8), std::string("secret")},
                                        std::pair{std::string("cust01"), std::string("sec\0ret", 7)},
                                        std::pair{std::string("cust01\r\nDELE x"), std::string("secret")},
                                        std::pair{std::string("cust01"), std::string("secret\r")}}) {
            QCOMPARE(Raised([&] { ftp.Connect(host(), credentials.first, credentials.second); }),
                     "2001 KTFTP::Connect: The user name or the password contains a line break or a NUL character, "
                     "which cannot be sent to the server.");
        }
        QVERIFY(m_Server->commandLog().isEmpty());
    }
    void sequenceOverOneConnection() {
        const QByteArray data = Noise(1 << 20); // every byte value, line breaks included: binary mode only
        WriteFile(m_Local + "/ZEL.ZIP", data);
        WriteFile(m_Local + "/FIXED.ZIP", "an older local copy");
        WriteFile(m_Local + "/empty", "");
        // The workflows' sequence by a user with a blank in the name, odd characters in paths and password.
        cFTP ftp;
        QVERIFY(ftp.Connect(host(), "cust 02", "p;w#%d"));
        QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust 02/a b;c#d%20e?.ZIP", 2));
        QVERIFY(ftp.GetFile("/home/cust 02/a b;c#d%20e?.ZIP", local("FIXED.ZIP"), 2));
        QVERIFY(ftp.PutFile(local("empty"), "/home/cust 02/empty") &&
                ftp.GetFile("/home/cust 02/empty", local("back")));
        QCOMPARE(Snapshot(m_Local), (Tree{{"FIXED.ZIP", data}, {"ZEL.ZIP", data}, {"back", ""}, {"empty", ""}}));
        // The server's side as the server sees it (under Wine no Windows program can open a name with "?").
        QCOMPARE(HostSnapshot(m_Root + "/home/cust 02"), (Tree{{"a b;c#d%20e?.ZIP", data}, {"empty", ""}}));
        QVERIFY(ftp.Disconnect());
        QCOMPARE(m_Server->loginCount(), 1);
        QVERIFY(m_Server->commandLog().contains("TYPE I"));
    }
    void failedOperationsReportTheirErrors() {
        WriteFile(m_Local + "/FIXED.ZIP", "keep me");
        WriteFile(home() + "/ZEL.ZIP", QByteArray(4221, 's'));
        cFTP ftp;
        QVERIFY(ftp.Connect(host(), "cust01", "secret"));

        QCOMPARE(Raised([&] { ftp.GetFile("/home/cust01/none.zip", local("FIXED.ZIP")); }),
                 "2006 KTFTP::GetFile: Couldn't Get File /home/cust01/none.zip from Server");
        // A download that never arrives as the server holds it says so.
        QVERIFY(m_Server->setFaults("checksum XCRC;flip RETR 4"));
        QCOMPARE(Raised([&] { ftp.GetFile("/home/cust01/ZEL.ZIP", local("FIXED.ZIP")); }),
                 "2006 KTFTP::GetFile: Couldn't Get File /home/cust01/ZEL.ZIP from Server\r\nThe copy differs from "
                 "the original in size or checksum, also after it was transferred again.");
        QCOMPARE(ReadFile(m_Local + "/FIXED.ZIP"), QByteArray("keep me"));
        // A local failure carries no server reply.
        QCOMPARE(Raised([&] { ftp.PutFile(local("none.zip"), "/home/cust01/ZEL.ZIP"); }),
                 "2003 KTFTP::PutFile: Couldn't Send File /home/cust01/ZEL.ZIP to Server\r\n");

        // The size the server tells; no answer is no size, and no error either: false, with the size left alone.
        std::uint64_t size = 7;
        QVERIFY(!ftp.RemoteFileSize("/home/cust01/none.bin", size));
        QVERIFY(ftp.RemoteFileSize("/home/cust01/ZEL.ZIP", size));
        QCOMPARE(size, std::uint64_t(4221));
        QVERIFY(m_Server->setFaults("clear;refuse SIZE"));
        QVERIFY(!ftp.RemoteFileSize("/home/cust01/ZEL.ZIP", size) && size == 4221 && ftp.Connected());
    }
    void membersActOnWhatTheyNameOrRefuse_data() {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QStringList>("call"); // the member and its arguments
        QTest::addColumn<QString>("raised");   // empty: done; <host> the server's
        // Starts of command lines, in this order; "!line": no such line. Nothing at all is sent unconnected.
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<Tree>("after");        // the home folder afterwards
        QTest::addColumn<QString>("directory"); // what Directory reads afterwards
        const Tree before{{"a.txt", "A"}, {"b.txt", "B"}, {"sub/a.txt", "S"}};
        const auto row = [&](const char* name, bool connected, const QStringList& call, const QString& raised,
                             const QStringList& sent = {}, const Tree& after = {}, const QString& directory = {}) {
            QTest::newRow(name) << connected << call << raised << sent << (after.isEmpty() ? before : after)
                                << directory;
        };
        // Each names the server's file as given; a directory given with backslashes is asked for with slashes and
        // reads back as given, and relative names then mean files there.
        row("RenameFile", true, {"RenameFile", "/home/cust01/a.txt", "/home/cust01/c.txt"}, "",
            {"RNFR /home/cust01/a.txt", "RNTO /home/cust01/c.txt"},
            {{"b.txt", "B"}, {"c.txt", "A"}, {"sub/a.txt", "S"}});
        row("RenameFile: no such file", true, {"RenameFile", "/home/cust01/none", "/home/cust01/c.txt"},
            QStringLiteral("2003 KTFTP::RenameFile: Couldn't Rename File /home/cust01/none\r\n\r\n550 No such file or "
                           "directory.\r\n") +
                QChar(0),
            {"RNFR /home/cust01/none", "!RNTO /home/cust01/c.txt"});
        row("DeleteFile", true, {"DeleteFile", "/home/cust01/a.txt"}, "", {"DELE /home/cust01/a.txt"},
            {{"b.txt", "B"}, {"sub/a.txt", "S"}});
        row("DeleteFile: no such file", true, {"DeleteFile", "/home/cust01/none"},
            "2004 KTFTP::DeleteFile: Couldn't Delete File /home/cust01/none from Server");
        row("Directory, then a relative name", true, {"SetDirectory", "\\home\\cust01\\sub", "a.txt"}, "",
            {"CWD /home/cust01/sub", "DELE a.txt"}, {{"a.txt", "A"}, {"b.txt", "B"}}, "\\home\\cust01\\sub");
        row("Directory: no such folder", true, {"SetDirectory", "\\home\\cust01\\none"},
            "2002 KTFTP::Directory[Let]: Cannot Change Directory to /home/cust01/none. It either doesn't exist, or is "
            "protected",
            {"CWD /home/cust01/none"});
        // Refused as things stand, before anything is sent; a connection stays open.
        for (const QString member : {"RenameFile", "DeleteFile", "GetFile", "PutFile", "RemoteFileSize", "Disconnect"})
            row(qPrintable(member + ": not connected"), false, {member, "/home/cust01/a.txt", "<local>/a.txt"},
                "2005 KTFTP::" + member + ": Not Connected to FTP Site");
        row("Directory: not connected", false, {"SetDirectory", "/home/cust01"},
            "2005 KTFTP::Directory_Let: Not Connected to FTP Site");
        for (const QString member : {"Host", "User", "Password"})
            row(qPrintable(member + ": while connected"), true, {"Set" + member, "other"},
                "2007 KTFTP::" + member + "_Let: You cannot change this property while connected to an FTP server");
        row("Connect: while connected", true, {"Connect", "other"},
            "2007 KTFTP::Connect: You are already connected to FTP Server <host>");
    }
    void membersActOnWhatTheyNameOrRefuse() {
        QFETCH(bool, connected);
        QFETCH(QStringList, call);
        QFETCH(QString, raised);
        QFETCH(QStringList, sent);
        QFETCH(Tree, after);
        QFETCH(QString, directory);
        WriteTree(home(), {{"a.txt", "A"}, {"b.txt", "B"}, {"sub/a.txt", "S"}});
        cFTP ftp;
        QVERIFY(!connected || ftp.Connect(host(), "cust01", "secret"));
        QVERIFY(m_Server->clearLog());
        const auto arg = [&](int i) { return call.value(i).replace("<local>", m_Local).toStdString(); };
        std::uint64_t size = 0;
        const std::map<QString, std::function<void()>> members{
            {"RenameFile", [&] { ftp.RenameFile(arg(1), arg(2)); }},
            {"DeleteFile", [&] { ftp.DeleteFile(arg(1)); }},
            {"SetDirectory",
             [&] {
                 ftp.SetDirectory(arg(1));
                 if (call.size() > 2)
                     ftp.DeleteFile(arg(2));
             }},
            {"GetFile", [&] { ftp.GetFile(arg(1), arg(2)); }},
            {"PutFile", [&] { ftp.PutFile(arg(2), arg(1)); }},
            {"RemoteFileSize", [&] { ftp.RemoteFileSize(arg(1), size); }},
            {"Disconnect", [&] { ftp.Disconnect(); }},
            {"SetHost", [&] { ftp.SetHost(arg(1)); }},
            {"SetUser", [&] { ftp.SetUser(arg(1)); }},
            {"SetPassword", [&] { ftp.SetPassword(arg(1)); }},
            {"Connect", [&] { ftp.Connect(arg(1)); }},
        };
        QCOMPARE(Raised(members.at(call[0])), QString(raised).replace("<host>", QString::fromStdString(host())));
        const QStringList log = m_Server->commandLog();
        QVERIFY2(connected ? Sent(log, sent) : log.isEmpty(), qPrintable(log.join(" | ")));
        QCOMPARE(Snapshot(home()), after);
        QCOMPARE(QString::fromStdString(ftp.Directory()), directory);
        QCOMPARE(ftp.Connected(), connected);
    }
    void hookSeesProgressAndCancels() {
        WriteFile(home() + "/FIXED.ZIP", Noise(2 << 20));
        WriteFile(m_Local + "/FIXED.ZIP", "the previous data set");
        WriteFile(m_Local + "/ZEL.ZIP", Noise(24 << 20)); // more than the loopback's socket buffers hold
        const Tree before = Snapshot(m_Local);
        cFTP ftp;
        QVERIFY(ftp.Connect(host(), "cust01", "secret"));
        // Slow enough that no transfer can end before the hook acts.
        QVERIFY(m_Server->setFaults("throttle 262144"));
        for (bool upload : {false, true}) {
            const std::uint64_t size = upload ? 24 << 20 : 2 << 20;
            std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
            inet::SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
                seen.emplace_back(done, total);
                return done < 300000;
            });
            QVERIFY(!Raised([&] {
                         if (upload)
                             ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP");
                         else
                             ftp.GetFile("/home/cust01/FIXED.ZIP", local("FIXED.ZIP"));
                     }).isEmpty());
            QVERIFY(upload || winapi::GetLastError() == inet::ERROR_INTERNET_OPERATION_CANCELLED);
            // Values in between show the transfer moving, not only its start and end; it stopped at the cancel. After
            // it, the upload's tidying up on the server moves no data.
            const auto cancel = std::find_if(seen.begin(), seen.end(), [](auto s) { return s.first >= 300000; });
            QVERIFY(cancel != seen.end() && cancel - seen.begin() > 1);
            QVERIFY(std::is_sorted(seen.begin(), cancel + 1, [](auto a, auto b) { return a.first < b.first; }));
            QVERIFY(std::any_of(seen.begin(), cancel, [&](auto s) { return s.first > 0 && s.first < size / 2; }));
            QCOMPARE(cancel->second, size);
            QVERIFY(std::all_of(cancel + 1, seen.end(), [](auto s) { return s.first == 0; }));
        }
        inet::SetProgressHook({});
        QCOMPARE(QDir(home()).entryList({"ZEL.ZIP*"}), QStringList());
        QCOMPARE(Snapshot(m_Local), before);
        // Each cancel dropped its connection; the next call logs in again.
        std::uint64_t size = 0;
        QVERIFY(ftp.RemoteFileSize("/home/cust01/FIXED.ZIP", size));
        QCOMPARE(m_Server->loginCount(), 3);
    }
    void theHookEndsTheWaitBeforeARetry() {
        WriteFile(home() + "/f.bin", Noise(1 << 20));
        WriteFile(m_Local + "/f.bin", "previous");
        cFTP ftp;
        QVERIFY(ftp.Connect(host(), "cust01", "secret"));
        // A wait far longer than the test may take: only the hook can end it, by cancelling or by throwing (the
        // exception reaches the caller), and no second attempt is made. Thrown in curl's callback, too.
        qputenv("ZEL_FTP_RETRY_WAITS", "600");
        for (const std::string how : {"cancel", "throw", "throw at once"}) {
            QVERIFY(m_Server->setFaults("clear;break 100000 1 426") && m_Server->clearLog());
            std::chrono::milliseconds announced{0};
            inet::SetNoticeHook([&](const std::string&, std::chrono::milliseconds wait) { announced = wait; });
            int callsWhileWaiting = 0;
            inet::SetProgressHook([&](std::uint64_t, std::uint64_t) {
                if (how != "throw at once" && (announced.count() == 0 || ++callsWhileWaiting < 5))
                    return true;
                if (how == "cancel")
                    return false;
                throw std::runtime_error("stopped by the window");
            });
            const QString raised = Raised([&] { ftp.GetFile("/home/cust01/f.bin", local("f.bin")); });
            QCOMPARE(raised, how == "cancel" ? "2006 KTFTP::GetFile: Couldn't Get File /home/cust01/f.bin from Server"
                                             : "2006 cFTP::GetFile: stopped by the window");
            if (how != "throw at once") {
                QCOMPARE(announced, std::chrono::milliseconds(600000));
                QCOMPARE(callsWhileWaiting, 5); // the hook ran during the wait
                QCOMPARE(m_Server->commandLog().filter(QRegularExpression("^RETR ")).size(), 1);
            }
            QCOMPARE(Snapshot(m_Local), (Tree{{"f.bin", "previous"}}));
        }
        inet::SetProgressHook({}); // the session is free again
        QVERIFY(m_Server->setFaults("clear") && ftp.GetFile("/home/cust01/f.bin", local("f.bin")));
    }
    void transfersSurviveAPoorLine_data() {
        // "get" f.bin, "put" f.bin as up.bin ("put, cancelled" or "put, the hook throws" once 300000 bytes are done),
        // or "connect"
        QTest::addColumn<QString>("call");
        // In the server's words; "bigger" grows the remote partial during the wait, "leftovers" puts temporaries of
        // earlier sends and files of similar names beside up.bin.
        QTest::addColumn<QString>("faults");
        QTest::addColumn<QString>("failure"); // the start of the error's text; empty: done, with identical bytes
        QTest::addColumn<QStringList>("notices");
        // Starts of command lines, in this order (<tmp>: the upload's temporary); "!line": no such line.
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("remote"); // what up.bin holds after a put: "new", "old" or nothing
        const QString lost = "Connection lost \u2014 trying again (1 of 3)";
        const QString mismatch = "The copy did not match the original \u2014 transferring it again (1 of 3)";
        const QString getFailed = "2006 KTFTP::GetFile: Couldn't Get File /home/cust01/f.bin from Server",
                      putFailed = "2003 KTFTP::PutFile: Couldn't Send File /home/cust01/up.bin";
        const auto anyOf = [](int count) { return QStringList(count, QString()); };
        const auto row = [](const char* name, const char* call, const char* faults, const QString& failure,
                            const QStringList& notices, const QStringList& sent = {}, const char* remote = "new") {
            QTest::newRow(name) << call << faults << failure << notices << sent << (failure.isEmpty() ? remote : "old");
        };
        // Downloads resume with REST from what the partial file holds.
        row("get: drops three times", "get", "break 200000 3 426", "",
            {"Connection lost at 19% \u2014 resuming (1 of 3)", "Connection lost at 38% \u2014 resuming (2 of 3)",
             "Connection lost at 57% \u2014 resuming (3 of 3)"},
            {"REST 200000", "REST 400000", "REST 600000"});
        row("get: reset", "get", "break 300000 1 reset", "", anyOf(1), {"REST "});
        row("get: 421 midway", "get", "break 300000 1 421", "", anyOf(1), {"REST "});
        row("get: stalls", "get", "break 300000 1 stall", "", anyOf(1), {"REST "});
        row("get: 421 at RETR", "get", "close421 RETR", "", {lost});
        row("get: REST refused", "get", "break 300000 1 426;refuse REST", "", anyOf(1), {"REST 300000"});
        row("get: a byte changed, HASH", "get", "checksum HASH;flip RETR 1", "", {mismatch},
            {"HASH /home/cust01/f.bin"});
        row("get: a byte changed, XMD5", "get", "checksum XMD5;flip RETR 1", "", {mismatch},
            {"XMD5 /home/cust01/f.bin"});
        row("get: without SIZE", "get", "refuse SIZE", "", {});
        // A resumed download needs the server's size or checksum to be trusted; without, it starts from zero.
        row("get: REST ignored, without SIZE", "get", "break 300000 1 426;refuse SIZE;ignore REST", "", anyOf(1),
            {"!REST 300000"});
        row("get: REST ignored, checksum refused", "get",
            "break 300000 1 426;refuse SIZE;ignore REST;checksum XCRC;refuse XCRC", "", anyOf(1), {"REST 300000"});
        row("get: without SIZE, with a checksum", "get", "break 300000 1 426;refuse SIZE;checksum XMD5", "", anyOf(1),
            {"REST 300000", "XMD5 "});
        row("get: drops every time", "get", "break 100000 0 426", getFailed, anyOf(3));
        // Uploads go to a temporary beside the target, renamed once whole: they ask SIZE, then APPE, REST + STOR, or
        // STOR again; the target's name holds the older upload until then.
        row("put", "put", "", "", {}, {"STOR <tmp>", "RNFR <tmp>", "RNTO /home/cust01/up.bin"});
        row("put: drops three times", "put", "break 200000 3 426", "", anyOf(3),
            {"SIZE <tmp>", "APPE <tmp>", "RNTO /home/cust01/up.bin"});
        row("put: reset", "put", "break 300000 1 reset", "", anyOf(1), {"APPE "});
        row("put: 421 midway", "put", "break 300000 1 421", "", anyOf(1), {"APPE "});
        row("put: stalls", "put", "break 300000 1 stall", "", anyOf(1), {"APPE "});
        row("put: APPE refused", "put", "break 300000 1 426;refuse APPE", "", anyOf(1), {"APPE ", "REST "});
        row("put: APPE and REST refused", "put", "break 300000 1 426;refuse APPE;refuse REST", "", anyOf(1),
            {"APPE ", "REST ", "STOR "});
        row("put: remote partial bigger", "put", "break 300000 1 426;bigger", "", anyOf(1));
        row("put: stored short once", "put", "shorten 100 1", "", {mismatch});
        row("put: a byte changed, XCRC", "put", "checksum XCRC;flip STOR 1", "", {mismatch}, {"XCRC <tmp>"});
        row("put: a byte changed, HASH", "put", "checksum HASH;flip STOR 1", "", {mismatch}, {"HASH <tmp>"});
        row("put: rename refused", "put", "refuse RNFR", "", {}, {"RNFR ", "DELE <tmp>", "STOR /home/cust01/up.bin"});
        // A server that will not rename onto an existing file (IIS): the older upload goes first, then the rename
        // again. Nothing is sent again, so a line that drops later breaks nothing.
        row("put: RNTO over the file refused", "put", "noclobber", "", {},
            {"RNFR <tmp>", "RNTO /home/cust01/up.bin", "DELE /home/cust01/up.bin", "RNFR <tmp>",
             "RNTO /home/cust01/up.bin", "!STOR /home/cust01/up.bin"});
        row("put: RNTO over the file refused, line always drops later", "put", "noclobber;break 100000 0 426 1", "",
            {});
        row("put: RNTO over the file refused, line lost after the DELE", "put", "noclobber;close421 RNFR 1", "", {},
            {"DELE /home/cust01/up.bin", "RNFR <tmp>", "RNFR <tmp>", "RNTO /home/cust01/up.bin",
             "!STOR /home/cust01/up.bin"});
        // What a failed or cancelled upload left goes, over a new connection where the line went with it; so do the
        // temporaries earlier sends left, and nothing else.
        row("put: drops every time", "put", "break 100000 0 426", putFailed, anyOf(3), {"STOR <tmp>", "DELE <tmp>"});
        row("put: drops every time, line lost at DELE", "put", "break 100000 0 426;close421 DELE", putFailed, anyOf(3),
            {"STOR <tmp>", "DELE <tmp>", "DELE <tmp>"});
        row("put: cancelled", "put, cancelled", "throttle 1048576", putFailed, {}, {"STOR <tmp>", "DELE <tmp>"});
        row("put: the hook throws", "put, the hook throws", "throttle 1048576",
            "5 cFTP::PutFile: stopped by the window", {}, {"STOR <tmp>", "DELE <tmp>"});
        row("put: leftovers of earlier sends", "put", "leftovers", "", {},
            {"NLST /home/cust01", "DELE /home/cust01/up.bin.zel~0a1b2z", "STOR <tmp>"});
        row("put: stored short every time", "put", "shorten 100",
            putFailed + " to Server\r\n\r\nThe server holds 1048476 bytes of /home/cust01/up.bin, but 1048576 bytes "
                        "were sent. Please send again.",
            anyOf(3));
        // A reply of several lines is kept whole.
        row("put: refused", "put", "refuse STOR",
            putFailed + " to Server\r\n\r\n553-Could not create file.\r\n553 Quota exceeded.\r\n", {},
            {"STOR <tmp>", "STOR /home/cust01/up.bin"});
        row("put: without SIZE", "put", "refuse SIZE", "", {});
        // Without rename the target's name itself is written, so a failure there removes what arrived.
        QTest::newRow("put: rename refused, line always drops")
            << "put"
            << "refuse RNFR;break 100000 0 426 1" << putFailed << anyOf(3)
            << QStringList{"RNFR ", "STOR /home/cust01/up.bin", "DELE /home/cust01/up.bin"} << "";
        // A login the server turned away for the moment is tried again.
        row("connect: 421 at login", "connect", "close421 PASS", "", {lost});
    }
    void transfersSurviveAPoorLine() {
        QFETCH(QString, call);
        QFETCH(QString, faults);
        QFETCH(QString, failure);
        QFETCH(QStringList, notices);
        QFETCH(QStringList, sent);
        QFETCH(QString, remote);
        const QByteArray data = Noise(1 << 20), old = "an older upload";
        const bool put = call.startsWith("put");
        WriteFile(home() + "/f.bin", data);
        WriteFile(home() + "/up.bin", old);
        WriteFile(m_Local + "/f.bin", put ? data : "previous");
        const Tree similar{{"up.bin.zel~AB12CD", "1"},
                           {"up.bin.zel~ab12cd.txt", "2"},
                           {"up.bin.zel~ab12c", "3"},
                           {"up.bin.zel~ab-2cd", "4"},
                           {"other.bin.zel~ab12cd", "5"}};
        if (faults.contains("leftovers")) {
            WriteTree(home(), similar);
            WriteFile(home() + "/up.bin.zel~0a1b2z", "an earlier send's");
        }
        // The client gives up on a stalled line after two seconds; only those rows can afford so short a limit.
        if (faults.contains("stall"))
            qputenv("ZEL_FTP_TIMEOUT", "2");
        QByteArray seenDuringRetry;
        m_OnNotice = [&] {
            if (seenDuringRetry.isEmpty())
                seenDuringRetry = ReadFile(home() + "/up.bin");
            for (const QString& partial : QDir(home()).entryList({"up.bin.zel~*"}))
                if (faults.contains("bigger"))
                    WriteFile(home() + "/" + partial, Noise(3 << 20));
        };
        QVERIFY(m_Server->setFaults(QString(faults).remove("bigger").remove("leftovers")));
        bool stopped = false; // as the window's Cancel: once pressed, the hook says so at every call
        inet::SetProgressHook([&](std::uint64_t done, std::uint64_t) {
            stopped = stopped || (call.startsWith("put, ") && done >= 300000);
            if (stopped && call.endsWith("throws"))
                throw std::runtime_error("stopped by the window");
            return !stopped;
        });
        cFTP ftp;
        const QString raised = Raised([&] {
            ftp.Connect(host(), "cust01", "secret");
            if (call == "get")
                ftp.GetFile("/home/cust01/f.bin", local("f.bin"));
            else if (put)
                ftp.PutFile(local("f.bin"), "/home/cust01/up.bin");
        });
        inet::SetProgressHook({});
        QVERIFY2(failure.isEmpty() ? raised.isEmpty() : raised.startsWith(failure), qPrintable(raised));
        QCOMPARE(m_Notices.size(), notices.size());
        for (qsizetype i = 0; i < notices.size(); ++i) {
            if (!notices[i].isEmpty())
                QCOMPARE(m_Notices[i], notices[i]);
        }
        const QStringList log = m_Server->commandLog();
        QVERIFY2(Sent(log, sent.replaceInStrings("<tmp>", "/home/cust01/up.bin.zel~")), qPrintable(log.join(" | ")));
        // The local side: the new file in place, or the old one as it was, and nothing partial beside it.
        const bool received = call == "get" && failure.isEmpty();
        QCOMPARE(Snapshot(m_Local), (Tree{{"f.bin", received || put ? data : "previous"}}));
        if (!put)
            return;
        // The server's side: the upload or the older one, nothing beside it (but others' files); the older one whole
        // while retrying.
        Tree there = Snapshot(home());
        there.remove("f.bin");
        Tree expected = remote.isEmpty() ? Tree() : Tree{{"up.bin", remote == "new" ? data : old}};
        if (faults.contains("leftovers"))
            expected.insert(similar);
        QCOMPARE(there, expected);
        QVERIFY(seenDuringRetry.isEmpty() || seenDuringRetry == old || faults.contains("RNFR"));
    }
    void ftpesConnectsOnlySecurely_data() {
        QTest::addColumn<QString>("certificate"); // "" for the plain server
        QTest::addColumn<QString>("caFile");      // "test" for the test CA
        QTest::addColumn<QString>("reason");      // empty: connects, and transfers work
        QTest::addColumn<QString>("faults");      // refusals after the login, which went over TLS
        const auto row = [](const char* name, const char* certificate, const QString& caFile, const char* reason,
                            const char* faults = "") {
            QTest::newRow(name) << certificate << caFile << reason << faults;
        };
        row("trusted", "good", "test", "");
        row("no AUTH TLS", "", "test",
            "the server does not offer TLS (it refused AUTH TLS), and the connection is not made without it.");
        row("PBSZ refused", "good", "test",
            "the server refused to prepare the protection of the data connection (it refused PBSZ), and no file is "
            "transferred without it.",
            "refuse PBSZ");
        row("PROT P refused", "good", "test",
            "the server refused to protect the data connection (it refused PROT P), and no file is transferred without "
            "it.",
            "refuse PROT");
        row("another host", "otherhost", "test", "the server's certificate was issued for another host name.");
        row("expired", "expired", "test", "the server's certificate has expired or is not valid yet.");
        // Windows' own TLS (the Windows build's) does not tell a self-signed certificate from one whose authority
        // is not trusted.
#ifdef _WIN32
        const bool schannel = true;
#else
        const bool schannel = false;
#endif
        row("self-signed", "selfsigned", "test",
            schannel ? "the server's certificate was issued by an authority this computer does not trust."
                     : "the server's certificate is self-signed, so nobody vouches for it.");
        row("unknown authority", "good", "",
            "the server's certificate was issued by an authority this computer does not trust.");
        row("CA file missing", "good", m_Dir.filePath("none.pem"),
            "the CA file named by ZEL_FTP_CAFILE cannot be read.");
    }
    void ftpesConnectsOnlySecurely() {
        QFETCH(QString, certificate);
        QFETCH(QString, caFile);
        QFETCH(QString, reason);
        QFETCH(QString, faults);
        FtpServer& server = certificate.isEmpty() ? *m_Server : *m_TlsServer;
        if (!certificate.isEmpty())
            QVERIFY(server.setFaults("clear;cert " + certificate + ";" + faults));
        if (caFile.isEmpty() && UnderWine())
            QSKIP("Wine's Schannel accepts every server certificate when the system's store is to check it (it never "
                  "checks the chain in the handshake, as Windows does), so an untrusted authority cannot be refused "
                  "here");
        qputenv("ZEL_FTP_CAFILE", (caFile == "test" ? m_TlsServer->caFile() : caFile).toUtf8());
        const std::string where = "ftpes://" + server.hostName().toStdString();
        cFTP ftp;
        const QString raised = Raised([&] { ftp.Connect(where, "cust01", "secret"); });
        qunsetenv("ZEL_FTP_CAFILE");
        QCOMPARE(raised, reason.isEmpty() ? QString()
                                          : QString::fromStdString("2001 KTFTP::Connect: Cannot Connect to " + where +
                                                                   " securely: ") +
                                                reason);
        const QStringList log = server.commandLog();
        QCOMPARE(log.value(0), QStringLiteral("AUTH TLS"));
        // Not a word more in clear, and never the password; nothing more once the data connection is refused.
        QVERIFY2(reason.isEmpty() || !faults.isEmpty() ? log.contains("PROT P") && log.contains("PASS secret")
                                                       : log.filter("PASS").isEmpty(),
                 qPrintable(log.join(" | ")));
        if (!faults.isEmpty())
            QCOMPARE(log.last(), QStringLiteral("PROT P"));
        if (reason.isEmpty()) {
            if (UnderWine())
                QSKIP("Wine's Schannel does not resume the control connection's TLS session on a data connection, so "
                      "this "
                      "server (like vsftpd by default) refuses every data connection there");
            WriteFile(m_Local + "/ZEL.ZIP", Noise(300000));
            QVERIFY(ftp.PutFile(local("ZEL.ZIP"), "/home/cust01/ZEL.ZIP") &&
                    ftp.GetFile("/home/cust01/ZEL.ZIP", local("back")));
            QCOMPARE(ReadFile(m_Local + "/back"), Noise(300000));
        }
    }
    void verboseOutputHidesThePassword() {
        QTemporaryFile capture;
        QVERIFY(capture.open());
        std::fflush(stderr);
        const int saved = ::dup(2);
        ::dup2(capture.handle(), 2);
        qputenv("ZEL_INET_VERBOSE", "1");
        cFTP ftp;
        const QString raised = Raised([&] { ftp.Connect(host(), "cust01", "secret"); });
        qunsetenv("ZEL_INET_VERBOSE");
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        QVERIFY(raised.isEmpty() && capture.seek(0));
        const QByteArray text = capture.readAll();
        QVERIFY2(text.contains("> USER cust01\n") && text.contains("> PASS ****\n"), text.constData());
        QVERIFY2(!text.contains("secret"), text.constData());
    }
};

QTEST_GUILESS_MAIN(tst_cFTP)
#include "tst_cFTP.moc"
