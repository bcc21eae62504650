#include "support/FtpServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kStartMilliseconds = 15000;
constexpr int kAnswerMilliseconds = 5000;
constexpr int kStopMilliseconds = 3000;

// Reads one line with a deadline; empty when none came in time.
QString readLine(QProcess& process, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || process.state() != QProcess::Running)
            return {};
        process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}
} // namespace

FtpServer::FtpServer(const QString& root, const QList<FtpUser>& users, bool tls) {
    // Waiting seconds before each retry tests nothing but patience.
    if (!qEnvironmentVariableIsSet("ZEL_FTP_RETRY_WAITS"))
        qputenv("ZEL_FTP_RETRY_WAITS", "0,0,0");
    QJsonArray accounts;
    for (const FtpUser& user : users)
        accounts.append(QJsonObject{{"name", user.name}, {"password", user.password}, {"home", user.home}});
    QDir().mkpath(root);
    const QString python = qEnvironmentVariable("ZEL_PYTHON", QStringLiteral(ZEL_PYTHON_DEFAULT));
    m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{
        QStringLiteral("-u"),      QStringLiteral(ZEL_TEST_SUPPORT_DIR "/ftpserver.py"),
        QStringLiteral("--root"),  root,
        QStringLiteral("--users"), QString::fromUtf8(QJsonDocument(accounts).toJson(QJsonDocument::Compact))};
    if (tls) {
        m_Certificates = std::make_unique<QTemporaryDir>();
        arguments << QStringLiteral("--tls") << m_Certificates->path();
    }
    m_Process.start(python, arguments);
    if (!m_Process.waitForStarted(kStartMilliseconds)) {
        m_Error = QStringLiteral("cannot start %1: %2").arg(python, m_Process.errorString());
        return;
    }
    const QString ready = readLine(m_Process, kStartMilliseconds);
    if (!ready.startsWith(QLatin1String("PORT "))) {
        m_Error = QStringLiteral("the FTP server did not report its port (got \"%1\")").arg(ready);
        stop();
        return;
    }
    m_Port = static_cast<quint16>(ready.mid(5).toUInt());
}

FtpServer::~FtpServer() {
    stop();
}

bool FtpServer::isRunning() const {
    return m_Port != 0 && m_Process.state() == QProcess::Running;
}

QString FtpServer::hostPort() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_Port);
}

QString FtpServer::caFile() const {
    return m_Certificates ? m_Certificates->filePath(QStringLiteral("ca.pem")) : QString();
}

QString FtpServer::request(const QString& line) {
    if (!isRunning())
        return {};
    m_Process.write((line + QLatin1Char('\n')).toUtf8());
    m_Process.waitForBytesWritten(kAnswerMilliseconds);
    const QString answer = readLine(m_Process, kAnswerMilliseconds);
    if (!answer.startsWith(QLatin1String("ok")))
        m_Error = QStringLiteral("request \"%1\" answered \"%2\"").arg(line, answer);
    return answer;
}

int FtpServer::loginCount() {
    const QString answer = request(QStringLiteral("logins"));
    return answer.startsWith(QLatin1String("ok ")) ? answer.mid(3).toInt() : -1;
}

QStringList FtpServer::commandLog() {
    const QString answer = request(QStringLiteral("log"));
    QStringList lines;
    if (!answer.startsWith(QLatin1String("ok ")))
        return lines;
    const QJsonArray entries = QJsonDocument::fromJson(answer.mid(3).toUtf8()).array();
    for (const QJsonValue& entry : entries)
        lines << entry.toString();
    return lines;
}

bool FtpServer::clearLog() {
    return request(QStringLiteral("clearlog")) == QLatin1String("ok");
}

bool FtpServer::setFaults(const QString& faults) {
    for (const QString& one : faults.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (request(QStringLiteral("fault ") + one.trimmed()) != QLatin1String("ok"))
            return false;
    }
    return true;
}

void FtpServer::stop() {
    if (m_Process.state() == QProcess::NotRunning)
        return;
    // End of input stops the server; killing is the fallback.
    m_Process.closeWriteChannel();
    if (!m_Process.waitForFinished(kStopMilliseconds)) {
        m_Process.kill();
        m_Process.waitForFinished(kStopMilliseconds);
    }
    m_Port = 0;
}

ClosedPort::ClosedPort() : m_Fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_Fd >= 0 && ::bind(m_Fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_Port = ntohs(address.sin_port);
}

ClosedPort::~ClosedPort() {
    if (m_Fd >= 0)
        ::close(m_Fd);
}

QString ClosedPort::hostPort() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_Port);
}
