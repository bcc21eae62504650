#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace testsupport {

// Every plain file under root (relative path with "/" -> content); folders alone do not count.
QMap<QString, QByteArray> Snapshot(const QString& root, bool recursive = true);
// Writes a file, making its folders.
void WriteFile(const QString& path, const QByteArray& content);
QByteArray ReadFile(const QString& path);
// The data-folder form of a native folder: a trailing backslash, as the profiles give it.
std::string Windows(const QString& folder);

} // namespace testsupport
