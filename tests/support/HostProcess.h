#pragma once

#include <QtCore>
#include <QtNetwork>

namespace testsupport {

// A Linux program that a test runs (the FTP server, Info-ZIP's zip and unzip, Python): a QProcess; or, when
// ZEL_HOST_BRIDGE names a port, the program run by the host bridge (tests/support/hostbridge.py), which is how a
// test running under Wine reaches Linux programs it cannot start itself. Paths on Wine's Z: drive in the
// arguments reach the program as the Linux paths they are. Standard error goes to the test's own.
class HostProcess {
public:
    HostProcess() = default;
    ~HostProcess();
    Q_DISABLE_COPY(HostProcess)

    // False, with errorString(), when the program could not be started.
    bool start(const QString& program, const QStringList& arguments, const QString& folder = {});
    bool running();
    void write(const QByteArray& bytes);
    void closeWriteChannel();
    // A whole line of its output within the time, without the line break; null when none came.
    QByteArray readLine(int milliseconds);
    // Waits for the end, up to the time; false when it is still running.
    bool waitForFinished(int milliseconds);
    // All its output so far.
    QByteArray readAll();
    void kill();
    // The exit code once finished; -1 when it crashed or never ran.
    int exitCode() const { return m_ExitCode; }
    QString errorString() const { return m_Error; }

private:
    bool bridged() const { return m_Socket != nullptr; }
    // Reads what has arrived; false once the connection is gone.
    bool take(int milliseconds);

    std::unique_ptr<QProcess> m_Process;
    std::unique_ptr<QTcpSocket> m_Socket;
    QByteArray m_Incoming; // raw frames from the bridge, not yet read
    QByteArray m_Output;   // the program's output, not yet read
    bool m_Finished = false;
    int m_ExitCode = -1;
    QString m_Error;
};

} // namespace testsupport
