#include "support/ArchiveTools.h"

#include "support/TestFiles.h"

#include <cstring>
#include <vector>

namespace ziptest {

using testsupport::Exec;

std::string printed;

bool ReadersAgree(const QString& archive) {
    const QString test = "import sys, zipfile\nsys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)";
    return Exec("unzip", {"-tqq", archive}).first == 0 &&
           Exec(qEnvironmentVariable("ZEL_PYTHON", ZEL_PYTHON_DEFAULT), {"-c", test, archive}).first == 0;
}

QByteArray Mixed(qsizetype size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray data;
    while (data.size() < size) {
        const qsizetype run = std::min<qsizetype>(size - data.size(), gen.bounded(1, 300000));
        const int kind = gen.bounded(3);
        for (qsizetype start = data.size(); data.size() - start < run;) {
            if (kind == 0)
                data += "record;" + QByteArray::number(gen.bounded(100000)) + ";ACME LTD;paid;\n";
            else
                data += kind == 1 ? char(gen.bounded(256)) : '\0';
        }
        data.truncate(std::min(data.size(), size));
    }
    return data;
}

QString StoredName(const QString& absolute) {
    QString name = QDir::fromNativeSeparators(absolute);
    if (name.size() >= 2 && name[1] == ':' && name[0].isLetter())
        name.remove(0, 2);
    while (name.startsWith('/'))
        name.remove(0, 1);
    return name;
}

QStringList Listing(const QString& archive) {
    QStringList names = Exec("unzip", {"-Z1", archive}).second.split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

bool MakeZip(const QString& path, const QList<Entry>& entries) {
    QStringList args{"-c", R"(
import base64, sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, data, link in zip(*[iter(sys.argv[2:])] * 3):
        info = zipfile.ZipInfo(name)
        info.create_system, info.external_attr = 3, (0o120777 if link else 0o100644) << 16
        z.writestr(info, base64.b64decode(data), zipfile.ZIP_DEFLATED)
)",
                     path};
    for (const Entry& e : entries)
        args << e.name << e.data.toBase64() << (e.symlink ? "1" : "");
    QDir().mkpath(QFileInfo(path).absolutePath());
    return Exec(qEnvironmentVariable("ZEL_PYTHON", ZEL_PYTHON_DEFAULT), args).first == 0;
}

bool MakeRawZip(const QString& path, const QByteArray& entries) {
    const char* script = R"(
import json, random, struct, sys, zlib
out, central = open(sys.argv[1], 'wb'), []
for e in json.loads(sys.argv[2]):
    data = bytes(e['zeros']) if 'zeros' in e else random.Random(1).randbytes(e['random']) if 'random' in e \
        else e.get('text', '').encode()
    deflate = zlib.compressobj(6, zlib.DEFLATED, -15)
    packed, crc, size = deflate.compress(data) + deflate.flush(), zlib.crc32(data), e.get('declared', len(data))
    big = size >= 0xFFFFFFFF
    extra = struct.pack('<HHQQ', 1, 16, size, len(packed)) if big else b''
    sizes = (0xFFFFFFFF, 0xFFFFFFFF) if big else (len(packed), size)
    for i in range(e.get('copies', 1)):
        name = (e['name'] % i if 'copies' in e else e['name']).encode()
        fields = (45 if big else 20, 0, 8, 0, 0x21, crc) + sizes + (len(name), len(extra))
        central.append(struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 0x031E, *fields, 0, 0, 0, 0o100644 << 16,
                                   out.tell()) + name + extra)
        out.write(struct.pack('<IHHHHHIIIHH', 0x04034B50, *fields) + name + extra + packed)
start, count = out.tell(), len(central)
out.write(b''.join(central))
record = out.tell()
if count > 0xFFFF:
    out.write(struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, count, count, record - start, start))
    out.write(struct.pack('<IIQI', 0x07064B50, 0, record, 1))
out.write(struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, min(count, 0xFFFF), min(count, 0xFFFF), record - start, start,
                      0))
)";
    QDir().mkpath(QFileInfo(path).absolutePath());
    return Exec(qEnvironmentVariable("ZEL_PYTHON", ZEL_PYTHON_DEFAULT), {"-c", script, path, QString(entries)}).first ==
           0;
}

std::int32_t Print(char* buffer, std::uint32_t length) {
    printed.append(buffer, strnlen(buffer, length));
    return 0;
}

bool Printed(const std::string& text) {
    return printed.find(text) != std::string::npos;
}

int Zip(const QString& archive, const QStringList& names, zipengine::ZPOPT options) {
    zipengine::ZIPUSERFUNCTIONS uf;
    uf.print = Print;
    zipengine::ZpInit(&uf);
    options.szRootDir = "/";
    zipengine::ZpSetOptions(&options);
    QByteArrayList texts;
    std::vector<const char*> slots;
    for (const QString& n : names)
        slots.push_back((texts << n.toUtf8()).last().constData()); // the bytes stay put as the list grows
    const std::string path = archive.toStdString();
    return zipengine::ZpArchive({static_cast<std::int32_t>(slots.size()), path.c_str(), slots.data()});
}

int Unzip(const QString& archive, const QString& dir, bool folders) {
    const std::string a = archive.toStdString(), d = dir.toStdString();
    zipengine::USERFUNCTIONS uf;
    uf.print = Print;
    zipengine::DCL dcl;
    dcl.ndflag = folders;
    dcl.noflag = 1;
    dcl.lpszZipFN = a.c_str();
    dcl.lpszExtractDir = d.c_str();
    return zipengine::Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &dcl, &uf);
}

} // namespace ziptest
