#pragma once

#include <QtCore>

#include <functional>

class QWidget;

namespace testsupport {

// Runs action on the next modal window to appear (polled every 10 ms, as a modal loop may start after events
// were pumped). Fails the running test when none appears within the timeout.
void WhenModal(std::function<void(QWidget*)> action, int timeoutMs = 10000);

// While alive, a modal window that no WhenModal waits for is closed at once and fails the running test, instead
// of holding it until the test's time-out.
class ModalGuard {
public:
    ModalGuard();

private:
    QTimer m_Timer;
};

// A scratch Windows folder with the products' profile files, selected through WINDIR while alive.
class SampleInstall {
public:
    SampleInstall();
    ~SampleInstall();
    Q_DISABLE_COPY(SampleInstall)

    QString root() const { return m_Dir.path(); }
    // Writes WINDOWS/tovacfg.ini with [Paths] DataPath=value.
    void writeTova(const QString& dataPath);
    // Writes WINDOWS/ledgra2.ini; a null programName leaves the key out.
    void writeLedgra(const QString& dbpath, const QString& programName = QString());

private:
    QTemporaryDir m_Dir;
    QByteArray m_OldWindir;
    bool m_HadWindir;
};

} // namespace testsupport
