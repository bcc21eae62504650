#include "support/Gui.h"

#include "support/TestFiles.h"

#include <QtTest>
#include <QtWidgets>

namespace testsupport {

namespace {
int g_ExpectedModals = 0;
}

ModalGuard::ModalGuard() {
    QObject::connect(&m_Timer, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || g_ExpectedModals > 0)
            return;
        const QString name = modal->objectName().isEmpty() ? modal->windowTitle() : modal->objectName();
        modal->close();
        modal->hide();
        QTest::qFail(qPrintable("an unexpected dialog opened: " + name), __FILE__, __LINE__);
    });
    m_Timer.start(50);
}

void WhenModal(std::function<void(QWidget*)> action, int timeoutMs) {
    ++g_ExpectedModals;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline = QDeadlineTimer(timeoutMs), action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && !deadline.hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        --g_ExpectedModals;
        if (modal)
            action(modal);
        else
            QTest::qFail("no modal window appeared", __FILE__, __LINE__);
    });
    timer->start(10);
}

SampleInstall::SampleInstall() : m_OldWindir(qgetenv("WINDIR")), m_HadWindir(qEnvironmentVariableIsSet("WINDIR")) {
    qputenv("WINDIR", (root() + "/WINDOWS").toUtf8());
}

SampleInstall::~SampleInstall() {
    if (m_HadWindir)
        qputenv("WINDIR", m_OldWindir);
    else
        qunsetenv("WINDIR");
}

void SampleInstall::writeTova(const QString& dataPath) {
    WriteFile(root() + "/WINDOWS/tovacfg.ini", "[Paths]\r\nDataPath=" + dataPath.toUtf8() + "\r\n");
}

void SampleInstall::writeLedgra(const QString& dbpath, const QString& programName) {
    QByteArray text = "[General Information]\r\ndbpath=" + dbpath.toUtf8() + "\r\n";
    if (!programName.isNull())
        text += "ProgramName=" + programName.toUtf8() + "\r\n";
    WriteFile(root() + "/WINDOWS/ledgra2.ini", text);
}

} // namespace testsupport
