#include "support/Files.h"

#include "platform/error/Error.h"

#include <QtTest>

#include <csignal>

#include <sys/resource.h>

namespace testsupport {

QMap<QString, QByteArray> Snapshot(const QString& root, bool recursive) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), ReadFile(path));
    }
    return files;
}

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        QTest::qFail(qPrintable("cannot write " + path), __FILE__, __LINE__);
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::string Windows(const QString& folder) {
    return (folder + "\\").toStdString();
}

bool MakeReadOnly(const QString& path) {
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
}

std::string Win(const QString& native) {
    return QString(native).replace('/', '\\').toStdString();
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool ZipFiles(const QString& target, const QMap<QString, QByteArray>& content) {
    QTemporaryDir stage;
    for (auto it = content.begin(); it != content.end(); ++it)
        WriteFile(stage.path() + "/" + it.key(), it.value());
    QFile::remove(target);
    QProcess zip;
    zip.setWorkingDirectory(stage.path());
    zip.start("zip", QStringList{"-q", "-r", target} + content.keys());
    return zip.waitForFinished(60000) && zip.exitStatus() == QProcess::NormalExit && zip.exitCode() == 0;
}

QByteArray Noise(int size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

void WithFileSizeLimit(qint64 bytes, const std::function<void()>& call) {
    // The signal would end the process at the first write past the limit; ignored, the write fails with EFBIG.
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
    call();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

QString Raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const zel::Error& e) {
        const std::int32_t number = e.Number() < 0 ? e.Number() - zel::vbObjectError : e.Number();
        return QString("%1 %2: ").arg(number).arg(e.Source().c_str()) + QString::fromStdString(e.Description());
    }
    return {};
}

} // namespace testsupport
