#include "support/Gui.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace testsupport {

namespace {
int g_ExpectedModals = 0;
}

ModalGuard::ModalGuard() : m_Timer(new QTimer) {
    QObject::connect(m_Timer, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || g_ExpectedModals > 0)
            return;
        const QString name = modal->objectName().isEmpty() ? modal->windowTitle() : modal->objectName();
        modal->close();
        modal->hide();
        QTest::qFail(qPrintable("an unexpected dialog opened: " + name), __FILE__, __LINE__);
    });
    m_Timer->start(50);
}

ModalGuard::~ModalGuard() {
    delete m_Timer;
}

void WhenModal(std::function<void(QWidget*)> action, int timeoutMs) {
    ++g_ExpectedModals;
    auto* timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, action = std::move(action)] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            --g_ExpectedModals;
            action(w);
        } else if (deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
            --g_ExpectedModals;
            QTest::qFail("no modal window appeared", __FILE__, __LINE__);
        }
    });
    timer->start(10);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

SampleInstall::SampleInstall() : m_OldWindir(qgetenv("WINDIR")), m_HadWindir(qEnvironmentVariableIsSet("WINDIR")) {
    QDir().mkpath(windowsFolder());
    qputenv("WINDIR", windowsFolder().toUtf8());
}

SampleInstall::~SampleInstall() {
    if (m_HadWindir)
        qputenv("WINDIR", m_OldWindir);
    else
        qunsetenv("WINDIR");
}

void SampleInstall::writeFile(const QString& relative, const QByteArray& content) {
    const QString path = root() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
    f.write(content);
}

void SampleInstall::writeTova(const QString& dataPath) {
    writeFile(QStringLiteral("WINDOWS/tovacfg.ini"), "[Paths]\r\nDataPath=" + dataPath.toUtf8() + "\r\n");
}

void SampleInstall::writeLedgra(const QString& dbpath, const QString& programName) {
    QByteArray text = "[General Information]\r\ndbpath=" + dbpath.toUtf8() + "\r\n";
    if (!programName.isNull())
        text += "ProgramName=" + programName.toUtf8() + "\r\n";
    writeFile(QStringLiteral("WINDOWS/ledgra2.ini"), text);
}

} // namespace testsupport
