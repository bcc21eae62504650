#include "support/TestFiles.h"

#include "platform/error/Error.h"
#include "support/HostProcess.h"

#include <QtTest>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

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

QMap<QString, QByteArray> HostSnapshot(const QString& root) {
    const char* script = R"(
import base64, json, os, sys
root, files = sys.argv[1], {}
for folder, _, names in os.walk(root):
    for name in names:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, 'rb') as f:
                files[os.path.relpath(path, root)] = base64.b64encode(f.read()).decode()
print(json.dumps(files))
)";
    const auto [code, out] = Exec(qEnvironmentVariable("ZEL_PYTHON", ZEL_PYTHON_DEFAULT), {"-c", script, root});
    QMap<QString, QByteArray> files;
    if (code != 0)
        QTest::qFail(qPrintable("cannot read " + root + " on the host"), __FILE__, __LINE__);
    const QJsonObject listed = QJsonDocument::fromJson(out.toUtf8()).object();
    for (auto it = listed.begin(); it != listed.end(); ++it)
        files.insert(it.key(), QByteArray::fromBase64(it.value().toString().toLatin1()));
    return files;
}

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        QTest::qFail(qPrintable("cannot write " + path), __FILE__, __LINE__);
}

void WriteTree(const QString& root, const QMap<QString, QByteArray>& files) {
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        WriteFile(root + "/" + it.key(), it.value());
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

bool NamesKeepCase(const QString& folder) {
    QTemporaryDir probe(folder + "/case-XXXXXX");
    WriteFile(probe.filePath("n"), "lower");
    WriteFile(probe.filePath("N"), "upper");
    return Entries(probe.path()).size() == 2;
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

std::pair<int, QString> Exec(const QString& program, const QStringList& args, const QString& cwd) {
    HostProcess p;
    if (!p.start(program, args, cwd))
        return {-1, {}};
    p.closeWriteChannel();
    const bool ended = p.waitForFinished(120000);
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAll())};
}

bool ZipFiles(const QString& target, const QMap<QString, QByteArray>& content) {
    QTemporaryDir stage;
    WriteTree(stage.path(), content);
    QFile::remove(target);
    return Exec("zip", QStringList{"-q", "-r", target} + content.keys(), stage.path()).first == 0;
}

QByteArray Noise(int size, quint32 seed) {
    QByteArray b((size + 3) & ~3, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(b.data()), b.size() / 4);
    b.truncate(size);
    return b;
}

#ifdef _WIN32
bool UnderWine() {
    // Wine's own export, which no Windows has.
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool WithFileSizeLimit(qint64, const std::function<void()>&) {
    return false;
}

Frozen::Frozen(const QString& path) : m_Path(path) {
    if (!QFileInfo(path).isFile())
        return;
    // No sharing of writes or deletes: what a program that has the file open does to everyone else.
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    m_Handle = h;
    m_Ok = true;
}

Frozen::~Frozen() {
    if (m_Handle)
        CloseHandle(static_cast<HANDLE>(m_Handle));
}
#else
bool UnderWine() {
    return false;
}

bool WithFileSizeLimit(qint64 bytes, const std::function<void()>& call) {
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
    return true;
}

namespace {
bool Freeze(const QString& path, bool frozen) {
    if (geteuid() == 0)
        return Exec("chattr", {frozen ? "+i" : "-i", path}).first == 0;
    if (!QFileInfo(path).isDir())
        return false;
    return QFile::setPermissions(path, frozen ? QFile::ReadOwner | QFile::ExeOwner
                                              : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
} // namespace

Frozen::Frozen(const QString& path) : m_Path(path), m_Ok(Freeze(path, true)) {}

Frozen::~Frozen() {
    if (m_Ok)
        Freeze(m_Path, false);
}
#endif

QString Raised(const std::function<void()>& call) {
    try {
        call();
    } catch (const zel::Error& e) {
        const std::int32_t number = e.Number() < 0 ? e.Number() - zel::vbObjectError : e.Number();
        return QString("%1 %2: ").arg(number).arg(e.Source().c_str()) + QString::fromStdString(e.Description());
    } catch (const std::exception& e) {
        return QString("not a runtime error: ") + e.what(); // a failure that names itself
    }
    return {};
}

} // namespace testsupport
