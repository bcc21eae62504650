#include "platform/inet/Inet.h"
#include "support/FtpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace inet;
using winapi::FALSE;
using winapi::TRUE;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

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
    if (!InternetGetLastResponseInfoA(&code, text.data(), &length))
        return "<failed>";
    return text.left(static_cast<int>(length));
}

// Removes the hook however a test ends.
struct HookGuard {
    explicit HookGuard(zel::ProgressHook hook) { SetProgressHook(std::move(hook)); }
    ~HookGuard() { SetProgressHook({}); }
};

} // namespace

class tst_inet : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void lastResponseTwoCallPattern();
    void connectFailuresMapToPlatformCodes();
    void handlesAreChecked();
    void oneLoginForAWholeSequence();
    void remotePathsReachTheServerVerbatim();
    void localFilesAreReplacedOnlyWhenComplete();
    void progressReachesTheHook();
    void cancelDuringTransfers();
    void hookMayNotReenterOrMustSurviveClose();
    void serverFaultsLeaveTheHandleUsable();
    void remoteFileSize();

private:
    std::string hostPort() const { return m_Server->hostPort().toStdString(); }
    HINTERNET connect(const char* user = "cust01", const char* password = "secret");
    QString home() const { return m_Root + "/home/cust01"; }

    QTemporaryDir m_Dir;
    QString m_Root;
    QString m_Local;
    std::unique_ptr<FtpServer> m_Server;
    HINTERNET m_Session = 0;
    std::vector<HINTERNET> m_Open;
};

void tst_inet::initTestCase() {
    QVERIFY(m_Dir.isValid());
    m_Root = m_Dir.filePath("root");
    m_Local = m_Dir.filePath("local");
    QVERIFY(QDir().mkpath(m_Local));
    m_Server = std::make_unique<FtpServer>(m_Root, QList<FtpUser>{{"cust01", "secret", m_Root + "/home/cust01"}});
    QVERIFY2(m_Server->isRunning(), qPrintable(m_Server->errorString()));
    m_Session = InternetOpenA("KTFtp Instance", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    QVERIFY(m_Session != 0);
}

void tst_inet::init() {
    QVERIFY(m_Server->clearFaults());
    QVERIFY(m_Server->clearLog());
}

void tst_inet::cleanup() {
    SetProgressHook({});
    for (HINTERNET handle : m_Open)
        InternetCloseHandle(handle);
    m_Open.clear();
}

void tst_inet::cleanupTestCase() {
    if (m_Session)
        QVERIFY(InternetCloseHandle(m_Session));
    m_Server.reset();
}

HINTERNET tst_inet::connect(const char* user, const char* password) {
    const HINTERNET handle = InternetConnectA(m_Session, hostPort().c_str(), 0, user, password, INTERNET_SERVICE_FTP,
                                              INTERNET_FLAG_PASSIVE, 0);
    if (handle)
        m_Open.push_back(handle);
    return handle;
}

void tst_inet::lastResponseTwoCallPattern() {
    QCOMPARE(connect("cust01", "wrong"), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);

    DWORD code = 0;
    DWORD length = 0;
    InternetGetLastResponseInfoA(&code, nullptr, &length);
    const QByteArray expected = "530 Authentication failed.\r\n";
    QCOMPARE(code, DWORD(530));
    QCOMPARE(length, DWORD(expected.size()));

    // Exactly length+1 characters, the length variable unchanged: the whole text arrives.
    QByteArray buffer(static_cast<int>(length) + 1, '#');
    QVERIFY(InternetGetLastResponseInfoA(&code, buffer.data(), &length));
    QCOMPARE(buffer.left(static_cast<int>(length)), expected);

    DWORD tooShort = 5;
    QVERIFY(!InternetGetLastResponseInfoA(&code, buffer.data(), &tooShort));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INSUFFICIENT_BUFFER);
    QCOMPARE(tooShort, DWORD(expected.size()));

    // A multi-line reply is kept whole.
    const HINTERNET conn = connect();
    QVERIFY(conn);
    QVERIFY(writeFile(m_Local + "/up.bin", "data"));
    QVERIFY(m_Server->refuseStore());
    QVERIFY(!FtpPutFileA(conn, (m_Local + "/up.bin").toUtf8().constData(), "up.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QCOMPARE(lastResponse(), QByteArray("553-Could not create file.\r\n553 Quota exceeded.\r\n"));
}

void tst_inet::connectFailuresMapToPlatformCodes() {
    auto attempt = [&](const std::string& server) {
        return InternetConnectA(m_Session, server.c_str(), 0, "cust01", "secret", INTERNET_SERVICE_FTP,
                                INTERNET_FLAG_PASSIVE, 0);
    };
    // A port nobody listens on: the server's own port once it is stopped is not reliable, so ask for one.
    FtpServer other(m_Dir.filePath("other"), {{"x", "y", m_Dir.filePath("other")}});
    QVERIFY(other.isRunning());
    const std::string closedPort = other.hostPort().toStdString();
    other.stop();

    QCOMPARE(attempt(closedPort), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    QCOMPARE(attempt("zel-nowhere.invalid"), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    QCOMPARE(attempt("127.0.0.1:99999"), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    QCOMPARE(attempt("evil.example/x@y"), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    QCOMPARE(attempt(""), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);

    // A line break in the credentials would start a second command: refused before any connection.
    QCOMPARE(connect("cust01\r\nDELE x", "secret"), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    QCOMPARE(connect("cust01", "secret\nDELE x"), HINTERNET(0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    QCOMPARE(m_Server->loginCount(), 0);
    QVERIFY(m_Server->commandLog().isEmpty());
}

void tst_inet::handlesAreChecked() {
    QVERIFY(!FtpDeleteFileA(0xdead, "x"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
    QVERIFY(!FtpDeleteFileA(m_Session, "x"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);

    const HINTERNET conn = connect();
    QVERIFY(conn);
    QVERIFY(InternetCloseHandle(conn));
    QVERIFY(!InternetCloseHandle(conn));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
    QVERIFY(!FtpDeleteFileA(conn, "x"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);

    // A server that no longer answers does not hold up a close for long.
    const HINTERNET quiet = connect();
    QVERIFY(quiet);
    QVERIFY(m_Server->mute("QUIT"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(InternetCloseHandle(quiet));
    m_Open.clear();
    QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(m_Server->commandLog().contains("QUIT"));
    QVERIFY(m_Server->mute("off"));

    // Closing a session closes its connections.
    const HINTERNET session = InternetOpenA("other", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const HINTERNET child = InternetConnectA(session, hostPort().c_str(), 0, "cust01", "secret", INTERNET_SERVICE_FTP,
                                             INTERNET_FLAG_PASSIVE, 0);
    QVERIFY(child);
    QVERIFY(InternetCloseHandle(session));
    QVERIFY(!FtpDeleteFileA(child, "x"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
}

void tst_inet::oneLoginForAWholeSequence() {
    const QByteArray data = pattern(300000);
    QVERIFY(writeFile(m_Local + "/ZEL.ZIP", data));
    QVERIFY(QDir().mkpath(home() + "/sub"));

    const HINTERNET conn = connect();
    QVERIFY(conn);
    QVERIFY(FtpPutFileA(conn, (m_Local + "/ZEL.ZIP").toUtf8().constData(), "/home/cust01/ZEL.ZIP",
                        FTP_TRANSFER_TYPE_BINARY, 0));
    QCOMPARE(readFile(home() + "/ZEL.ZIP"), data);
    std::uint64_t size = 0;
    QVERIFY(FtpGetRemoteFileSize(conn, "/home/cust01/ZEL.ZIP", &size));
    QCOMPARE(size, std::uint64_t(data.size()));
    QVERIFY(FtpRenameFileA(conn, "/home/cust01/ZEL.ZIP", "/home/cust01/FIXED.ZIP"));
    QVERIFY(FtpGetFileA(conn, "/home/cust01/FIXED.ZIP", (m_Local + "/FIXED.ZIP").toUtf8().constData(), FALSE,
                        FILE_FLAG_WRITE_THROUGH, FTP_TRANSFER_TYPE_BINARY, 0));
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), data);
    QVERIFY(FtpSetCurrentDirectoryA(conn, "sub"));
    // Relative names follow the server's current directory.
    QVERIFY(FtpPutFileA(conn, (m_Local + "/ZEL.ZIP").toUtf8().constData(), "in-sub.zip", FTP_TRANSFER_TYPE_BINARY, 0));
    QVERIFY(QFile::exists(home() + "/sub/in-sub.zip"));
    QVERIFY(FtpDeleteFileA(conn, "/home/cust01/FIXED.ZIP"));
    QVERIFY(!QFile::exists(home() + "/FIXED.ZIP"));
    // Empty files both ways.
    QVERIFY(writeFile(m_Local + "/empty", ""));
    QVERIFY(FtpPutFileA(conn, (m_Local + "/empty").toUtf8().constData(), "empty", 2, 0));
    QVERIFY(writeFile(m_Local + "/empty-back", "not empty yet"));
    QVERIFY(FtpGetFileA(conn, "empty", (m_Local + "/empty-back").toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(QFileInfo(m_Local + "/empty-back").size(), 0);
    QVERIFY(InternetCloseHandle(conn));
    m_Open.clear();

    QCOMPARE(m_Server->loginCount(), 1);
    const QStringList log = m_Server->commandLog();
    QCOMPARE(log.count(QStringLiteral("PASS secret")), 1);
    // Nothing may come between the two halves of a rename.
    const qsizetype rnfr = log.indexOf(QStringLiteral("RNFR /home/cust01/ZEL.ZIP"));
    QVERIFY(rnfr >= 0);
    QCOMPARE(log.value(rnfr + 1), QStringLiteral("RNTO /home/cust01/FIXED.ZIP"));
    QVERIFY(log.contains(QStringLiteral("CWD sub")));
    QCOMPARE(log.last(), QStringLiteral("QUIT"));
}

void tst_inet::remotePathsReachTheServerVerbatim() {
    QVERIFY(writeFile(m_Local + "/odd.txt", "odd"));
    const HINTERNET conn = connect();
    QVERIFY(conn);
    const char* names[] = {"/home/cust01/a b;c#d%41e.txt", "/home/cust01/100%.txt", "/home/cust01/x?y=z&w.txt",
                           "relative name.txt"};
    for (const char* name : names) {
        QVERIFY2(FtpPutFileA(conn, (m_Local + "/odd.txt").toUtf8().constData(), name, FTP_TRANSFER_TYPE_BINARY, 0),
                 name);
        QVERIFY2(m_Server->commandLog().contains(QStringLiteral("STOR ") + QString::fromUtf8(name)), name);
    }
    QCOMPARE(readFile(home() + "/a b;c#d%41e.txt"), QByteArray("odd"));
    QCOMPARE(readFile(home() + "/100%.txt"), QByteArray("odd"));
    QCOMPARE(readFile(home() + "/relative name.txt"), QByteArray("odd"));

    // Line breaks anywhere in a remote name are refused before anything is sent.
    const qsizetype before = m_Server->commandLog().size();
    QVERIFY(!FtpDeleteFileA(conn, "odd.txt\r\nDELE /home/cust01/100%.txt"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    QVERIFY(!FtpRenameFileA(conn, "a", "b\nDELE x"));
    QVERIFY(!FtpSetCurrentDirectoryA(conn, "sub\rDELE x"));
    QVERIFY(!FtpGetFileA(conn, "x\nDELE y", (m_Local + "/x").toUtf8().constData(), FALSE, 0, 2, 0));
    QVERIFY(!FtpPutFileA(conn, (m_Local + "/odd.txt").toUtf8().constData(), "x\r\nDELE y", 2, 0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    // A name that is no file would make curl list a folder instead.
    QVERIFY(!FtpGetFileA(conn, "/home/cust01/", (m_Local + "/x").toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_PARAMETER);
    QCOMPARE(m_Server->commandLog().size(), before);
    QVERIFY(QFile::exists(home() + "/100%.txt"));
}

void tst_inet::localFilesAreReplacedOnlyWhenComplete() {
    const QByteArray data = pattern(500000);
    QVERIFY(writeFile(home() + "/FIXED.ZIP", data));
    QVERIFY(QDir().mkpath(m_Local + "/dl"));
    const QString target = m_Local + "/dl/FIXED.ZIP";
    QVERIFY(writeFile(target, "previous"));
    const HINTERNET conn = connect();
    QVERIFY(conn);

    QVERIFY(!FtpGetFileA(conn, "/home/cust01/FIXED.ZIP", target.toUtf8().constData(), TRUE, 0, 2, 0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_FILE_EXISTS);

    QVERIFY(m_Server->dropDataAfter(100000));
    QVERIFY(!FtpGetFileA(conn, "/home/cust01/FIXED.ZIP", target.toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(readFile(target), QByteArray("previous"));
    QVERIFY(!FtpGetFileA(conn, "/home/cust01/missing.zip", target.toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(lastResponse().startsWith("550 "));
    QCOMPARE(readFile(target), QByteArray("previous"));
    QCOMPARE(QDir(m_Local + "/dl").entryList(QDir::Files), QStringList{"FIXED.ZIP"});

    // Windows-style local paths are accepted.
    QVERIFY(m_Server->clearFaults());
    const QString windowsStyle = QDir::toNativeSeparators(m_Local) + "\\dl\\FIXED.ZIP";
    QVERIFY(FtpGetFileA(conn, "/home/cust01/FIXED.ZIP", windowsStyle.toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(readFile(target), data);
    QCOMPARE(QDir(m_Local + "/dl").entryList(QDir::Files), QStringList{"FIXED.ZIP"});

    QVERIFY(!FtpGetFileA(conn, "/home/cust01/FIXED.ZIP", (m_Local + "/no/such/dir/F.ZIP").toUtf8().constData(), FALSE,
                         0, 2, 0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_PATH_NOT_FOUND);
    QVERIFY(!FtpPutFileA(conn, (m_Local + "/none.zip").toUtf8().constData(), "none.zip", 2, 0));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_FILE_NOT_FOUND);
}

void tst_inet::progressReachesTheHook() {
    // Larger than what the loopback's socket buffers absorb at once, so that the upload's progress shows.
    const int size = 8 << 20;
    QVERIFY(writeFile(m_Local + "/big.bin", pattern(size)));
    const HINTERNET conn = connect();
    QVERIFY(conn);
    QVERIFY(m_Server->throttle(16 << 20));

    for (bool upload : {true, false}) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
        HookGuard guard([&](std::uint64_t done, std::uint64_t total) {
            seen.emplace_back(done, total);
            return true;
        });
        const bool ok =
            upload ? FtpPutFileA(conn, (m_Local + "/big.bin").toUtf8().constData(), "big.bin", 2, 0)
                   : FtpGetFileA(conn, "big.bin", (m_Local + "/back.bin").toUtf8().constData(), FALSE, 0, 2, 0);
        QVERIFY(ok);
        QVERIFY2(seen.size() >= 5, qPrintable(QString::number(seen.size())));
        QVERIFY(
            std::is_sorted(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.first < b.first; }));
        // Values in between show the transfer moving, not only its start and end.
        QVERIFY(std::any_of(seen.begin(), seen.end(),
                            [&](const auto& s) { return s.first > 0 && s.first < std::uint64_t(size); }));
        QVERIFY(seen.back().first <= std::uint64_t(size));
        QCOMPARE(seen.back().second, std::uint64_t(size));
    }
    QCOMPARE(readFile(m_Local + "/back.bin"), pattern(size));
}

void tst_inet::cancelDuringTransfers() {
    const QByteArray old = "the previous data set";
    QVERIFY(writeFile(home() + "/FIXED.ZIP", pattern(2 << 20)));
    QVERIFY(writeFile(m_Local + "/FIXED.ZIP", old));
    // More than the loopback's socket buffers hold, so the upload is still sending when the server stalls.
    QVERIFY(writeFile(m_Local + "/ZEL.ZIP", pattern(24 << 20)));
    const HINTERNET conn = connect();
    QVERIFY(conn);
    QVERIFY(m_Server->stallDataAfter(65536));

    for (bool upload : {false, true}) {
        QElapsedTimer sinceStart;
        QElapsedTimer sinceCancel;
        HookGuard guard([&](std::uint64_t, std::uint64_t) {
            if (!sinceStart.isValid())
                sinceStart.start();
            if (sinceStart.elapsed() < 150)
                return true;
            if (!sinceCancel.isValid())
                sinceCancel.start();
            return false;
        });
        const bool ok =
            upload ? FtpPutFileA(conn, (m_Local + "/ZEL.ZIP").toUtf8().constData(), "ZEL.ZIP", 2, 0)
                   : FtpGetFileA(conn, "FIXED.ZIP", (m_Local + "/FIXED.ZIP").toUtf8().constData(), FALSE, 0, 2, 0);
        QVERIFY(!ok);
        QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        QVERIFY(sinceCancel.isValid());
        QVERIFY2(sinceCancel.elapsed() < 1000, qPrintable(QString::number(sinceCancel.elapsed())));
        QVERIFY2(sinceStart.elapsed() < 1500, qPrintable(QString::number(sinceStart.elapsed())));
    }
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), old);
    QCOMPARE(QDir(m_Local).entryList({"FIXED.ZIP*"}, QDir::Files), QStringList{"FIXED.ZIP"});

    // The handle stays usable: the next call logs in again.
    QVERIFY(m_Server->clearFaults());
    QVERIFY(FtpDeleteFileA(conn, "ZEL.ZIP"));
    QCOMPARE(m_Server->loginCount(), 3); // each cancel dropped its connection
    QVERIFY(InternetCloseHandle(conn));
    m_Open.clear();
}

void tst_inet::hookMayNotReenterOrMustSurviveClose() {
    QVERIFY(writeFile(home() + "/FIXED.ZIP", pattern(1000000)));
    QVERIFY(writeFile(m_Local + "/FIXED.ZIP", "old"));
    const HINTERNET conn = connect();
    QVERIFY(conn);
    QVERIFY(m_Server->stallDataAfter(0));

    DWORD reentered = 0;
    QElapsedTimer timer;
    timer.start();
    {
        HookGuard guard([&](std::uint64_t, std::uint64_t) {
            if (!reentered) {
                reentered = FtpDeleteFileA(conn, "FIXED.ZIP") ? 1 : winapi::GetLastError();
                return true;
            }
            // Closing the window closes the handle while the transfer runs.
            InternetCloseHandle(conn);
            return true;
        });
        QVERIFY(!FtpGetFileA(conn, "FIXED.ZIP", (m_Local + "/FIXED.ZIP").toUtf8().constData(), FALSE, 0, 2, 0));
        QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    }
    m_Open.clear();
    QVERIFY(timer.elapsed() < 3000);
    QCOMPARE(reentered, ERROR_FTP_TRANSFER_IN_PROGRESS);
    QVERIFY(QFile::exists(home() + "/FIXED.ZIP"));
    QCOMPARE(readFile(m_Local + "/FIXED.ZIP"), QByteArray("old"));
    QVERIFY(!FtpDeleteFileA(conn, "FIXED.ZIP"));
    QCOMPARE(winapi::GetLastError(), winapi::ERROR_INVALID_HANDLE);
}

void tst_inet::serverFaultsLeaveTheHandleUsable() {
    QVERIFY(writeFile(home() + "/a.txt", "a"));
    QVERIFY(writeFile(home() + "/b.txt", "b"));
    const HINTERNET conn = connect();
    QVERIFY(conn);

    QVERIFY(m_Server->close421OnNext("DELE"));
    QVERIFY(!FtpDeleteFileA(conn, "a.txt"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(lastResponse().startsWith("421 "));
    QVERIFY(QFile::exists(home() + "/a.txt"));
    QVERIFY(FtpDeleteFileA(conn, "a.txt"));

    // A refused first half of a rename is the reply kept, and no RNTO follows it.
    QVERIFY(!FtpRenameFileA(conn, "missing.txt", "c.txt"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(lastResponse().startsWith("550 "));
    QVERIFY(!m_Server->commandLog().contains(QStringLiteral("RNTO c.txt")));
    QVERIFY(!FtpSetCurrentDirectoryA(conn, "no-such-folder"));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(FtpRenameFileA(conn, "b.txt", "c.txt"));
    QCOMPARE(readFile(home() + "/c.txt"), QByteArray("b"));
    QCOMPARE(m_Server->loginCount(), 2);

    // The server drops an upload's data connection half-way: a failure, not a hang.
    QVERIFY(writeFile(m_Local + "/big.bin", pattern(8 << 20)));
    QVERIFY(m_Server->dropDataAfter(100000));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!FtpPutFileA(conn, (m_Local + "/big.bin").toUtf8().constData(), "big.bin", 2, 0));
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(m_Server->clearFaults());
    QVERIFY(FtpPutFileA(conn, (m_Local + "/big.bin").toUtf8().constData(), "big.bin", 2, 0));
    QCOMPARE(readFile(home() + "/big.bin"), pattern(8 << 20));
}

void tst_inet::remoteFileSize() {
    QVERIFY(writeFile(home() + "/sized.bin", pattern(12345)));
    const HINTERNET conn = connect();
    QVERIFY(conn);
    std::uint64_t size = 0;
    QVERIFY(FtpGetRemoteFileSize(conn, "sized.bin", &size));
    QCOMPARE(size, std::uint64_t(12345));
    QVERIFY(writeFile(home() + "/empty.bin", ""));
    QVERIFY(FtpGetRemoteFileSize(conn, "empty.bin", &size));
    QCOMPARE(size, std::uint64_t(0));

    size = 99;
    QVERIFY(!FtpGetRemoteFileSize(conn, "missing.bin", &size));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(m_Server->disableSize());
    QVERIFY(!FtpGetRemoteFileSize(conn, "sized.bin", &size));
    QCOMPARE(winapi::GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    QVERIFY(lastResponse().startsWith("502 "));
    QCOMPARE(size, std::uint64_t(99));
    // Downloads do not need SIZE.
    QVERIFY(FtpGetFileA(conn, "sized.bin", (m_Local + "/sized.bin").toUtf8().constData(), FALSE, 0, 2, 0));
    QCOMPARE(readFile(m_Local + "/sized.bin"), pattern(12345));
    QCOMPARE(m_Server->loginCount(), 1);
}

QTEST_GUILESS_MAIN(tst_inet)
#include "tst_inet.moc"
