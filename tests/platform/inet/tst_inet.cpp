#include "platform/inet/Inet.h"
#include "support/Files.h"
#include "support/FtpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace inet;
using testsupport::ReadFile;
using testsupport::Snapshot;
using testsupport::WriteFile;
using winapi::FALSE;

namespace {

// Offsets matter: a shifted or truncated copy differs.
QByteArray pattern(int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return data;
}

QByteArray lastResponse() {
    DWORD code = 0;
    DWORD length = 0;
    InternetGetLastResponseInfoA(&code, nullptr, &length);
    QByteArray text(static_cast<int>(length) + 1, '\0');
    InternetGetLastResponseInfoA(&code, text.data(), &length);
    return text.left(static_cast<int>(length));
}

} // namespace

class tst_inet : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void connectFailures_data();
    void connectFailures();
    void handlesAreChecked();
    void lineBreaksAndFolderNamesRefused();
    void failuresLeaveFilesAndTheHandleUsable();
    void hookSeesProgressCancelsOrCloses();
    void transfersSurviveAPoorLine_data();
    void transfersSurviveAPoorLine();
    void retryWaitCallsTheHookAndCancels();
    void whatHooksThrowReachesTheCaller();
    void verboseOutputHidesThePassword();

private:
    HINTERNET connect();
    // Local names are relative to m_Local.
    BOOL put(HINTERNET conn, const QString& local, const char* remote) {
        return FtpPutFileA(conn, (m_Local + "/" + local).toUtf8().constData(), remote, FTP_TRANSFER_TYPE_BINARY, 0);
    }
    BOOL get(HINTERNET conn, const char* remote, const QString& local) {
        return FtpGetFileA(conn, remote, (m_Local + "/" + local).toUtf8().constData(), FALSE, 0, 2, 0);
    }
    QString home() const { return m_Root + "/home/cust01"; }
    // Serves as the notice hook's action too, for the rows that change things while a retry waits.
    std::function<void()> m_OnNotice;

    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Local;
    std::unique_ptr<FtpServer> m_Server;
    HINTERNET m_Session = 0;
    std::vector<HINTERNET> m_Open; // closed after each test; closing twice is harmless
    QStringList m_Notices;         // what the notice hook was told during the test
};

void tst_inet::initTestCase() {
    m_Root = m_Dir.filePath("root");
    m_Local = m_Dir.filePath("local");
    m_Server = std::make_unique<FtpServer>(m_Root, QList<FtpUser>{{"cust01", "secret", home()}});
    QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
    m_Session = InternetOpenA("KTFtp Instance", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    QVERIFY(m_Session != 0);
}

void tst_inet::init() {
    QVERIFY(m_Server->setFaults("clear") && m_Server->clearLog());
    QVERIFY(QDir(m_Local).removeRecursively() && QDir().mkpath(m_Local));
    m_Notices.clear();
    m_OnNotice = nullptr;
    SetNoticeHook([this](const std::string& text, std::chrono::milliseconds) {
        m_Notices << QString::fromStdString(text);
        if (m_OnNotice)
            m_OnNotice();
    });
}

void tst_inet::cleanup() {
    SetProgressHook({});
    SetNoticeHook({});
    for (HINTERNET handle : std::exchange(m_Open, {}))
        InternetCloseHandle(handle);
}

HINTERNET tst_inet::connect() {
    const HINTERNET handle = InternetConnectA(m_Session, m_Server->hostPort().toUtf8().constData(), 0, "cust01",
                                              "secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    if (handle)
        m_Open.push_back(handle);
    return handle;
}

void tst_inet::connectFailures_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<DWORD>("error");
    const QByteArray ours = m_Server->hostPort().toUtf8();
    const auto row = [](const char* name, const QByteArray& server, const char* user, const char* password,
                        DWORD error) {
        QTest::newRow(name) << server << QByteArray(user) << QByteArray(password) << error;
    };
    row("closed port", "127.0.0.1:1", "cust01", "secret", ERROR_INTERNET_CANNOT_CONNECT); // nobody listens there
    for (const char* bad : {"zel-nowhere.invalid", "127.0.0.1:99999", "evil.example/x@y"})
        row(bad, bad, "cust01", "secret", ERROR_INTERNET_NAME_NOT_RESOLVED);
    row("empty host", "", "cust01", "secret", winapi::ERROR_INVALID_PARAMETER);
    // A line break in the credentials would start a second command: refused before any connection.
    row("CR LF in user", ours, "cust01\r\nDELE x", "secret", winapi::ERROR_INVALID_PARAMETER);
    row("LF in password", ours, "cust01", "secret\nDELE x", winapi::ERROR_INVALID_PARAMETER);
}

void tst_inet::connectFailures() {
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(DWORD, error);
    QCOMPARE(InternetConnectA(m_Session, server.constData(), 0, user.constData(), password.constData(),
                              INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0),
             HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), error);
    QVERIFY(m_Server->commandLog().isEmpty());
    QCOMPARE(m_Notices, QStringList()); // a server that is not there is not tried again
}

void tst_inet::handlesAreChecked() {
    QVERIFY(!FtpDeleteFileA(0xdead, "x"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
    QVERIFY(!FtpDeleteFileA(m_Session, "x"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);

    // A server that no longer answers does not hold up a close for long.
    const HINTERNET conn = connect();
    QVERIFY(conn && m_Server->setFaults("mute QUIT"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(InternetCloseHandle(conn));
    QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(m_Server->commandLog().contains("QUIT"));
    QVERIFY(!FtpDeleteFileA(conn, "x"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
}

void tst_inet::lineBreaksAndFolderNamesRefused() {
    WriteFile(m_Local + "/odd.txt", "odd");
    const HINTERNET conn = connect();
    QVERIFY(conn);
    // Line breaks anywhere in a remote name are refused before anything is sent, and so is a folder name
    // (curl would list the folder).
    const qsizetype before = m_Server->commandLog().size();
    const std::function<BOOL()> refused[] = {
        [&] { return FtpDeleteFileA(conn, "odd.txt\r\nDELE /home/cust01/100%.txt"); },
        [&] { return FtpRenameFileA(conn, "a", "b\nDELE x"); },
        [&] { return FtpSetCurrentDirectoryA(conn, "sub\rDELE x"); },
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

void tst_inet::failuresLeaveFilesAndTheHandleUsable() {
    const QByteArray data = pattern(500000);
    WriteFile(home() + "/FIXED.ZIP", data);
    WriteFile(m_Local + "/FIXED.ZIP", "previous");
    const HINTERNET conn = connect();
    QVERIFY(conn);

    QVERIFY(m_Server->setFaults("drop 100000"));
    QVERIFY(!get(conn, "/home/cust01/FIXED.ZIP", "FIXED.ZIP"));
    WriteFile(m_Dir.filePath("big.bin"), pattern(8 << 20));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!put(conn, "../big.bin", "big.bin")); // an upload fails rather than hangs
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!get(conn, "/home/cust01/missing.zip", "FIXED.ZIP"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(lastResponse().startsWith("550 "));
    // The old file as it was, and nothing partial left beside it.
    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"FIXED.ZIP", "previous"}}));

    // A server that closes the connection: its 421 is the reply kept, and the next call still works.
    QVERIFY(m_Server->setFaults("clear") && m_Server->setFaults("close421 DELE"));
    QVERIFY(!FtpDeleteFileA(conn, "/home/cust01/FIXED.ZIP"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(lastResponse().startsWith("421 "));
    // Downloads do without SIZE; Windows-style local paths are accepted.
    QVERIFY(m_Server->setFaults("no-size on"));
    const QString windowsStyle = QDir::toNativeSeparators(m_Local) + "\\FIXED.ZIP";
    QVERIFY(FtpGetFileA(conn, "/home/cust01/FIXED.ZIP", windowsStyle.toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"FIXED.ZIP", data}}));
}

void tst_inet::hookSeesProgressCancelsOrCloses() {
    const QByteArray old = "the previous data set";
    WriteFile(home() + "/FIXED.ZIP", pattern(2 << 20));
    WriteFile(m_Local + "/FIXED.ZIP", old);
    WriteFile(m_Local + "/ZEL.ZIP", pattern(24 << 20)); // more than the loopback's socket buffers hold
    const HINTERNET conn = connect();
    // Slow enough that no transfer can end before the hook acts.
    QVERIFY(conn && m_Server->setFaults("throttle 262144"));
    for (bool upload : {false, true}) {
        const std::uint64_t size = upload ? 24 << 20 : 2 << 20;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
        QElapsedTimer timer;
        timer.start();
        SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
            seen.emplace_back(done, total);
            return timer.elapsed() < 300;
        });
        QVERIFY(!(upload ? put(conn, "ZEL.ZIP", "ZEL.ZIP") : get(conn, "FIXED.ZIP", "FIXED.ZIP")));
        QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        SetProgressHook({});
        QVERIFY2(timer.elapsed() < 1300, qPrintable(QString::number(timer.elapsed())));
        // Values in between show the transfer moving, not only its start and end.
        QVERIFY(std::is_sorted(seen.begin(), seen.end(), [](auto a, auto b) { return a.first < b.first; }));
        QVERIFY(std::any_of(seen.begin(), seen.end(), [&](auto s) { return s.first > 0 && s.first < size / 2; }));
        QCOMPARE(seen.back().second, size);
    }
    // Each cancel dropped its connection; the next call logs in again.
    QVERIFY(FtpDeleteFileA(conn, "ZEL.ZIP"));
    QCOMPARE(m_Server->loginCount(), 3);

    // The hook may not start a second request on the busy handle, but may close it (as closing the window does).
    DWORD reentered = 0;
    SetProgressHook([&](std::uint64_t, std::uint64_t) {
        if (!reentered)
            reentered = FtpDeleteFileA(conn, "FIXED.ZIP") ? 1 : winapi::GetLastError();
        else
            InternetCloseHandle(conn);
        return true;
    });
    QVERIFY(!get(conn, "FIXED.ZIP", "FIXED.ZIP"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    SetProgressHook({});
    QCOMPARE(reentered, ERROR_FTP_TRANSFER_IN_PROGRESS);
    QVERIFY(QFile::exists(home() + "/FIXED.ZIP"));
    QCOMPARE(ReadFile(m_Local + "/FIXED.ZIP"), old);
    QCOMPARE(QDir(m_Local).entryList(QDir::Files | QDir::Hidden), QStringList({"FIXED.ZIP", "ZEL.ZIP"}));
    QVERIFY(!FtpDeleteFileA(conn, "FIXED.ZIP"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
}

void tst_inet::transfersSurviveAPoorLine_data() {
    QTest::addColumn<QString>("call");   // "get", "put" or "connect"
    QTest::addColumn<QString>("faults"); // in the server's words; "bigger" grows the remote partial during the wait
    QTest::addColumn<DWORD>("error");    // 0: done, with identical bytes
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<QStringList>("sent"); // starts of command lines the server must have seen
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
    row("get: drops every time", "get", "drop 100000", ERROR_INTERNET_CONNECTION_ABORTED, anyOf(3));
    row("get: no such file", "get", "", ERROR_INTERNET_EXTENDED_ERROR, {});
    // Uploads ask SIZE, then APPE, REST + STOR, or STOR again.
    row("put: drops three times", "put", "break 200000 3 426", 0, anyOf(3), {"SIZE /home/cust01/up.bin", "APPE "});
    row("put: reset", "put", "break 300000 1 reset", 0, anyOf(1), {"APPE "});
    row("put: 421 midway", "put", "break 300000 1 421", 0, anyOf(1), {"APPE "});
    row("put: stalls", "put", "break 300000 1 stall", 0, anyOf(1), {"APPE "});
    row("put: APPE refused", "put", "break 300000 1 426;refuse APPE", 0, anyOf(1), {"APPE ", "REST "});
    row("put: APPE and REST refused", "put", "break 300000 1 426;refuse APPE;refuse REST", 0, anyOf(1),
        {"APPE ", "REST "});
    row("put: remote partial bigger", "put", "break 300000 1 426;bigger", 0, anyOf(1));
    row("put: stored short once", "put", "shorten 100 1", 0, {mismatch});
    row("put: stored short every time", "put", "shorten 100", ERROR_INTERNET_COPY_MISMATCH, anyOf(3));
    row("put: a byte changed, XCRC", "put", "checksum XCRC;flip STOR 1", 0, {mismatch}, {"XCRC /home/cust01/up.bin"});
    row("put: a byte changed, HASH", "put", "checksum HASH;flip STOR 1", 0, {mismatch}, {"HASH /home/cust01/up.bin"});
    row("put: refused", "put", "refuse-stor on", ERROR_INTERNET_EXTENDED_ERROR, {});
    // A login the server turned away for the moment is tried again; refused ones are in connectFailures.
    row("connect: 421 at login", "connect", "close421 PASS", 0, {lost});
}

void tst_inet::transfersSurviveAPoorLine() {
    QFETCH(QString, call);
    QFETCH(QString, faults);
    QFETCH(DWORD, error);
    QFETCH(QStringList, notices);
    QFETCH(QStringList, sent);
    const QByteArray data = pattern(1 << 20);
    WriteFile(home() + "/f.bin", data);
    WriteFile(m_Local + "/f.bin", call == "put" ? data : "previous");
    QFile::remove(home() + "/up.bin");
    // The client gives up on a stalled line after two seconds; only those rows can afford so short a limit.
    const bool stalls = faults.contains("stall");
    if (stalls)
        qputenv("ZEL_FTP_TIMEOUT", "2");
    if (faults.contains("bigger"))
        m_OnNotice = [this] { WriteFile(home() + "/up.bin", pattern(3 << 20)); };
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
    QCOMPARE(done ? DWORD(0) : winapi::GetLastError(), error);

    QCOMPARE(m_Notices.size(), notices.size());
    for (qsizetype i = 0; i < notices.size(); ++i) {
        if (!notices[i].isEmpty())
            QCOMPARE(m_Notices[i], notices[i]);
    }
    const QStringList log = m_Server->commandLog();
    for (const QString& start : sent)
        QVERIFY2(std::any_of(log.begin(), log.end(), [&](const QString& line) { return line.startsWith(start); }),
                 qPrintable(start + " not in " + log.join(" | ")));
    // The local side: the new file in place, or the old one as it was, and nothing partial beside it.
    const QByteArray local = call == "get" && error ? QByteArray("previous") : data;
    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"f.bin", call == "connect" ? "previous" : local}}));
    if (call == "put" && !error)
        QCOMPARE(ReadFile(home() + "/up.bin"), data);
    if (call == "connect")
        QVERIFY(FtpDeleteFileA(conn, "/home/cust01/f.bin"));
}

void tst_inet::retryWaitCallsTheHookAndCancels() {
    WriteFile(home() + "/f.bin", pattern(1 << 20));
    WriteFile(m_Local + "/f.bin", "previous");
    const HINTERNET conn = connect();
    QVERIFY(conn && m_Server->setFaults("break 100000 1 426"));
    // A wait far longer than the test may take: only the hook can end it.
    qputenv("ZEL_FTP_RETRY_WAITS", "600");
    std::chrono::milliseconds announced{0};
    SetNoticeHook([&](const std::string&, std::chrono::milliseconds wait) { announced = wait; });
    int callsWhileWaiting = 0;
    SetProgressHook([&](std::uint64_t, std::uint64_t) { return announced.count() == 0 || ++callsWhileWaiting < 5; });
    const BOOL done = get(conn, "/home/cust01/f.bin", "f.bin");
    qputenv("ZEL_FTP_RETRY_WAITS", "0,0,0");
    QVERIFY(!done);
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    QCOMPARE(announced, std::chrono::milliseconds(600000));
    // The hook ran during the wait and ended it: no second attempt was made.
    QCOMPARE(callsWhileWaiting, 5);
    QCOMPARE(m_Server->commandLog().filter(QRegularExpression("^RETR ")).size(), 1);
    QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"f.bin", "previous"}}));
}

void tst_inet::whatHooksThrowReachesTheCaller() {
    WriteFile(home() + "/f.bin", pattern(1 << 20));
    WriteFile(m_Local + "/f.bin", "previous");
    const HINTERNET conn = connect();
    QVERIFY(conn);
    // Thrown inside curl's progress callback, and during the wait before a retry.
    for (const bool duringWait : {false, true}) {
        QVERIFY(m_Server->setFaults(duringWait ? "break 100000 1 426" : "break 100000 0 426"));
        m_Notices.clear();
        SetProgressHook([&](std::uint64_t, std::uint64_t) -> bool {
            if (!duringWait || !m_Notices.isEmpty())
                throw std::runtime_error("stopped by the window");
            return true;
        });
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, get(conn, "/home/cust01/f.bin", "f.bin"));
        SetProgressHook({});
        QCOMPARE(Snapshot(m_Local), (QMap<QString, QByteArray>{{"f.bin", "previous"}}));
        QVERIFY(m_Server->setFaults("clear"));
    }
    // The handle is free again.
    QVERIFY(get(conn, "/home/cust01/f.bin", "f.bin"));
}

void tst_inet::verboseOutputHidesThePassword() {
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

QTEST_GUILESS_MAIN(tst_inet)
#include "tst_inet.moc"
