#include "support/FtpServer.h"

#include <QtCore>

FtpServer::FtpServer(const QString& root, const QList<FtpUser>& users, bool tls) {
    // Waiting seconds before each retry tests nothing but patience.
    if (!qEnvironmentVariableIsSet("ZEL_FTP_RETRY_WAITS"))
        qputenv("ZEL_FTP_RETRY_WAITS", "0,0,0");
    QJsonArray accounts;
    for (const FtpUser& user : users)
        accounts.append(QJsonObject{{"name", user.name}, {"password", user.password}, {"home", user.home}});
    QDir().mkpath(root);
    const QString script = ZEL_TEST_SUPPORT_DIR "/ftpserver.py";
    const QString logins = QString::fromUtf8(QJsonDocument(accounts).toJson(QJsonDocument::Compact));
    QStringList arguments{"-u", script, "--root", root, "--users", logins};
    if (tls)
        arguments << "--tls" << m_Certificates.path();
    if (!m_Process.start(qEnvironmentVariable("ZEL_PYTHON", ZEL_PYTHON_DEFAULT), arguments)) {
        m_Error = "the FTP server did not start (" + m_Process.errorString() + ")";
        return;
    }
    const QString ready = QString::fromUtf8(m_Process.readLine(15000));
    if (ready.startsWith("PORT "))
        m_Port = static_cast<quint16>(ready.mid(5).toUInt());
    else
        m_Error = "the FTP server did not start (it said \"" + ready + "\")";
}

FtpServer::~FtpServer() {
    // End of input stops the server; killing is the fallback.
    m_Process.closeWriteChannel();
    if (!m_Process.waitForFinished(3000))
        m_Process.kill();
}

QString FtpServer::request(const QString& line) {
    if (!isRunning())
        return {};
    m_Process.write((line + "\n").toUtf8());
    const QString answer = QString::fromUtf8(m_Process.readLine(5000));
    if (!answer.startsWith("ok"))
        m_Error = "request \"" + line + "\" answered \"" + answer + "\"";
    return answer;
}

int FtpServer::loginCount() {
    const QString answer = request("logins");
    return answer.startsWith("ok ") ? answer.mid(3).toInt() : -1;
}

QStringList FtpServer::commandLog() {
    QStringList lines;
    for (const auto& entry : QJsonDocument::fromJson(request("log").mid(3).toUtf8()).array())
        lines << entry.toString();
    return lines;
}

bool FtpServer::clearLog() {
    return request("clearlog") == "ok";
}

bool FtpServer::setFaults(const QString& faults) {
    for (const QString& one : faults.split(';', Qt::SkipEmptyParts)) {
        if (request("fault " + one.trimmed()) != "ok")
            return false;
    }
    return true;
}
