#pragma once

// Helpers for tests that build and read real archives: the engines, Info-ZIP's tools and Python's zipfile.

#include "platform/zipengine/ZipEngine.h"

#include <QtCore>

#include <cstdint>
#include <string>

namespace ziptest {

using Files = QMap<QString, QByteArray>;

// Both Info-ZIP's test and Python's zipfile find every entry whole: sizes, CRCs and the deflate streams.
bool ReadersAgree(const QString& archive);

// Seeded data of the kinds a data set holds, in runs of random length: text records, random bytes, zeros.
QByteArray Mixed(qsizetype size, quint32 seed);

// The entry name a file given by its absolute path is stored under, as Info-ZIP's zip stores it: without the drive
// and the leading separators, "/" between the parts ("/tmp/x/a.dat" and "Z:\tmp\x\a.dat" alike: "tmp/x/a.dat").
QString StoredName(const QString& absolute);

// Entry names as Info-ZIP lists them, sorted.
QStringList Listing(const QString& archive);

struct Entry {
    QString name;
    QByteArray data;
    bool symlink = false; // a Unix symbolic link to data
};

// Python's zipfile stores names exactly as given, duplicates and hostile ones included.
bool MakeZip(const QString& path, const QList<Entry>& entries);

// An archive no honest tool writes, from a JSON list of entries: "name" (with "%d" and "copies": that many
// entries), data as "zeros": N, "random": N (seeded), or "text", and optionally the size the entry "declares"
// instead of its own, in the local header and the central directory alike (Zip64 fields where it needs them).
bool MakeRawZip(const QString& path, const QByteArray& entries);

// What the engines printed through the runs below, since it was last cleared.
extern std::string printed;
// The print callback of the runs below.
std::int32_t Print(char* buffer, std::uint32_t length);
bool Printed(const std::string& text);

// One run of each engine, with names under the root "/" and overwriting without asking.
int Zip(const QString& archive, const QStringList& names, zipengine::ZPOPT options = {});
int Unzip(const QString& archive, const QString& dir, bool folders = true);

} // namespace ziptest
