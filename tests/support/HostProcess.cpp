#include "support/HostProcess.h"

namespace testsupport {

HostProcess::~HostProcess() {
    if (running())
        kill();
}

bool HostProcess::start(const QString& program, const QStringList& arguments, const QString& folder) {
    const QByteArray bridge = qgetenv("ZEL_HOST_BRIDGE");
    if (bridge.isEmpty()) {
        m_Process = std::make_unique<QProcess>();
        m_Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_Process->setWorkingDirectory(folder);
        m_Process->start(program, arguments);
        if (!m_Process->waitForStarted(15000)) {
            m_Error = m_Process->errorString();
            return false;
        }
        return true;
    }
    m_Socket = std::make_unique<QTcpSocket>();
    m_Socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(bridge.toUInt()));
    if (!m_Socket->waitForConnected(15000)) {
        m_Error = "the host bridge on port " + QString::fromUtf8(bridge) + " cannot be reached";
        return false;
    }
    const QJsonObject header{{"argv", QJsonArray::fromStringList(QStringList{program} + arguments)}, {"cwd", folder}};
    m_Socket->write(QJsonDocument(header).toJson(QJsonDocument::Compact) + "\n");
    return m_Socket->waitForBytesWritten(15000);
}

bool HostProcess::running() {
    if (!bridged())
        return m_Process && m_Process->state() != QProcess::NotRunning;
    take(0);
    return !m_Finished;
}

void HostProcess::write(const QByteArray& bytes) {
    if (!bridged()) {
        m_Process->write(bytes);
        m_Process->waitForBytesWritten(5000);
        return;
    }
    m_Socket->write("I " + QByteArray::number(bytes.size()) + "\n" + bytes);
    m_Socket->waitForBytesWritten(5000);
}

void HostProcess::closeWriteChannel() {
    if (!bridged()) {
        m_Process->closeWriteChannel();
        return;
    }
    m_Socket->write("E\n");
    m_Socket->waitForBytesWritten(5000);
}

void HostProcess::kill() {
    if (!bridged()) {
        m_Process->kill();
        m_Process->waitForFinished(5000);
        return;
    }
    m_Socket->write("K\n");
    m_Socket->waitForBytesWritten(5000);
    waitForFinished(5000);
}

bool HostProcess::take(int milliseconds) {
    if (m_Socket->bytesAvailable() == 0 && m_Socket->state() == QAbstractSocket::ConnectedState)
        m_Socket->waitForReadyRead(milliseconds);
    m_Incoming += m_Socket->readAll();
    for (;;) {
        const qsizetype eol = m_Incoming.indexOf('\n');
        if (eol < 0)
            break;
        const QByteArray head = m_Incoming.left(eol);
        if (head.startsWith("X ")) {
            m_ExitCode = head.mid(2).toInt();
            m_Finished = true;
            m_Incoming.remove(0, eol + 1);
            continue;
        }
        const qsizetype size = head.mid(2).toLongLong();
        if (m_Incoming.size() < eol + 1 + size)
            break;
        m_Output += m_Incoming.mid(eol + 1, size);
        m_Incoming.remove(0, eol + 1 + size);
    }
    if (m_Socket->state() != QAbstractSocket::ConnectedState && !m_Finished)
        m_Finished = true; // the bridge went away: nothing more will come
    return !m_Finished;
}

QByteArray HostProcess::readLine(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    for (;;) {
        if (bridged()) {
            const qsizetype eol = m_Output.indexOf('\n');
            if (eol >= 0) {
                const QByteArray line = m_Output.left(eol);
                m_Output.remove(0, eol + 1);
                return line.trimmed().isNull() ? QByteArray("") : line.trimmed();
            }
            if (m_Finished || deadline.hasExpired())
                return {};
            take(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        } else {
            if (m_Process->canReadLine())
                return m_Process->readLine().trimmed();
            if (m_Process->state() == QProcess::NotRunning || deadline.hasExpired())
                return {};
            m_Process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        }
    }
}

bool HostProcess::waitForFinished(int milliseconds) {
    if (!bridged()) {
        if (!m_Process)
            return true;
        const bool done = m_Process->waitForFinished(milliseconds) || m_Process->state() == QProcess::NotRunning;
        m_Output += m_Process->readAllStandardOutput();
        m_ExitCode = m_Process->exitStatus() == QProcess::NormalExit && done ? m_Process->exitCode() : -1;
        return done;
    }
    QDeadlineTimer deadline(milliseconds);
    while (!m_Finished && !deadline.hasExpired())
        take(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    return m_Finished;
}

QByteArray HostProcess::readAll() {
    if (!bridged() && m_Process)
        m_Output += m_Process->readAllStandardOutput();
    else if (bridged())
        take(0);
    QByteArray all;
    all.swap(m_Output);
    return all;
}

} // namespace testsupport
