#pragma once

#include <QtCore>

#include <functional>
#include <string>
#include <utility>

namespace testsupport {

// Every plain file under root (relative path with "/" -> content); folders alone do not count.
QMap<QString, QByteArray> Snapshot(const QString& root, bool recursive = true);
// The same, read by a program of the host (Python), as the FTP server and the other host programs see the folder:
// under Wine, where a Linux name may hold characters that no Windows program can open (such as "?").
QMap<QString, QByteArray> HostSnapshot(const QString& root);
void WriteFile(const QString& path, const QByteArray& content);
void WriteTree(const QString& root, const QMap<QString, QByteArray>& files);
QByteArray ReadFile(const QString& path);
// The data-folder form of a native folder: a trailing backslash, as the profiles give it.
std::string Windows(const QString& folder);
// Clears the file's write bits: what the files and profile services take for the read-only attribute.
bool MakeReadOnly(const QString& path);
// The Windows-style form of a native path: every separator a backslash.
std::string Win(const QString& native);
// Whether names that differ only in case are different files in the folder (not on Windows).
bool NamesKeepCase(const QString& folder);
// Names in a folder, hidden ones too, sorted.
QStringList Entries(const QString& dir);
// Runs a tool to its end: exit code (-1 if it never ran or crashed) and what it wrote to stdout.
std::pair<int, QString> Exec(const QString& program, const QStringList& args, const QString& cwd = {});
// Builds an archive with Info-ZIP's zip from files given relative to a scratch folder; false when zip failed.
bool ZipFiles(const QString& target, const QMap<QString, QByteArray>& content);
// Seeded bytes that do not compress.
QByteArray Noise(int size, quint32 seed = 1);
// Runs `call` while no file can grow beyond `bytes`: writes past it fail as on a full disk. False, without running
// it, where the system has no such limit (Windows): the caller skips.
bool WithFileSizeLimit(qint64 bytes, const std::function<void()>& call);
// Makes a folder or file refuse to be changed while the object lives, even by root: nothing can be moved into,
// out of or removed from the folder, and the file cannot be moved or removed (the immutable attribute on Linux;
// on Windows a file held open by another program, as it is when in use). `ok` is false where the system cannot
// (a folder on Windows): the caller skips.
class Frozen {
public:
    explicit Frozen(const QString& path);
    ~Frozen();
    Q_DISABLE_COPY(Frozen)
    bool ok() const { return m_Ok; }

private:
    QString m_Path;
    bool m_Ok = false;
#ifdef _WIN32
    void* m_Handle = nullptr;
#endif
};
// Whether this Windows program runs under Wine, which in places does what Windows would not: a test that cannot
// hold there skips, saying what Wine does.
bool UnderWine();
// The error the call raised as "number source: description", numbers of classes counted from vbObjectError
// (cFTP's 2001...); empty when it raised none.
QString Raised(const std::function<void()>& call);

} // namespace testsupport
