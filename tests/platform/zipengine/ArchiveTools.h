#pragma once

// Helpers for tests that build and read real archives: Info-ZIP's tools and Python's zipfile.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

namespace ziptest {

struct ToolRun {
    int code = -1;
    QString out;
};

inline ToolRun Exec(const QString& program, const QStringList& args, const QString& cwd = {},
                    const QByteArray& input = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return {};
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll())};
}

inline QString Python() {
    QByteArray env = qgetenv("ZEL_PYTHON");
    return env.isEmpty() ? QStringLiteral(ZEL_PYTHON_DEFAULT) : QString::fromLocal8Bit(env);
}

inline void WriteFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file under the folder, relative names with "/", sorted.
inline QStringList Tree(const QString& dir) {
    QStringList out;
    QDir base(dir);
    std::function<void(const QString&)> walk = [&](const QString& d) {
        for (const QFileInfo& fi :
             QDir(d).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            if (fi.isDir() && !fi.isSymLink())
                walk(fi.absoluteFilePath());
            else
                out << base.relativeFilePath(fi.absoluteFilePath());
        }
    };
    walk(dir);
    out.sort();
    return out;
}

struct Entry {
    QString name;
    QByteArray data;
    bool symlink = false; // stored as a Unix symbolic link whose target is data
};

// Writes an archive with Python's zipfile, which stores names exactly as given (duplicates included).
inline bool MakeZip(const QString& path, const QList<Entry>& entries) {
    QJsonArray list;
    for (const Entry& e : entries)
        list.append(
            QJsonObject{{"name", e.name}, {"data", QString::fromLatin1(e.data.toBase64())}, {"symlink", e.symlink}});
    const char* script = R"(
import base64, json, sys, warnings, zipfile
warnings.simplefilter('ignore')
entries = json.load(sys.stdin)
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for e in entries:
        info = zipfile.ZipInfo(e['name'], (2020, 1, 2, 3, 4, 6))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3
        info.external_attr = (0o120777 if e['symlink'] else 0o100644) << 16
        z.writestr(info, base64.b64decode(e['data']))
)";
    ToolRun r = Exec(Python(), {"-c", QString::fromUtf8(script), path}, {}, QJsonDocument(list).toJson());
    return r.code == 0;
}

inline std::string S(const QString& s) {
    return s.toStdString();
}

} // namespace ziptest
