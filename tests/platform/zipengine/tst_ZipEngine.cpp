#include "support/ArchiveTools.h"
#include "support/TestFiles.h"

#include "platform/error/Error.h"
#include "platform/zipengine/Packer.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <utility>

using namespace testsupport;
using namespace ziptest;
using namespace zipengine;

class tst_ZipEngine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        // A test that failed or skipped half-way leaves hooks that point into its own locals.
        printed.clear();
        SetProgressHook({});
        detail::SetBlockReadHook({});
    }

    void builderWritesWhatInfoZipReads() {
        QTemporaryDir tmp;
        const QString data = tmp.filePath("data"), archive = data + "/ZEL.ZIP", p = StoredName(data) + "/";
        // A file of several deflate blocks, an empty one and many small ones: the blocks deflated apart must
        // join into whole streams, in order, with the right CRCs.
        Files packed{{"a.mdb", QByteArray(100000, 'a')}, {"B.MDB", "bee"}, {"big.mdb", Mixed(3500000, 7)}, {"e", ""}};
        for (int i = 0; i < 300; ++i)
            packed.insert(QString("s%1.dat").arg(i), Mixed(i * 37, i));
        WriteTree(data, packed);
#ifndef _WIN32 // where Qt makes shortcut files, not links
        // A link is packed as the file it leads to.
        WriteFile(tmp.filePath("elsewhere.mdb"), "through a link");
        QVERIFY(QFile::link(tmp.filePath("elsewhere.mdb"), data + "/linked.mdb"));
        packed.insert("linked.mdb", "through a link");
#endif
        // Not the data set: a folder without recursion, a hidden file, a temporary file of the program.
        WriteTree(data, {{"sub/c.txt", "sea"}, {".hidden", "h"}, {"FIXED.ZIP.zel~a1B2c3", "partial download"}});
        WriteFile(archive, "not a zip: the leftover of a failed send");
        const QDateTime stamp(QDate(2020, 5, 17), QTime(10, 20, 31));
        QFile stamped(data + "/B.MDB");
        QVERIFY(stamped.open(QIODevice::ReadWrite) && stamped.setFileTime(stamp, QFileDevice::FileModificationTime));
        stamped.close();
        // The seed entry, then a Windows pattern that matches the archive itself; folders are not entered.
        QCOMPARE(Zip(archive, {"querty", QString(data + "/*.*").replace('/', '\\')}), 0);
        QVERIFY(Printed("name not matched: querty"));
        QVERIFY(ReadersAgree(archive));
        QVERIFY(Exec("unzip", {"-v", archive}).second.contains("Defl:N"));
        QCOMPARE(Exec("unzip", {"-q", archive, "-d", tmp.filePath("check")}).first, 0);
        Files expected;
        for (auto it = packed.cbegin(); it != packed.cend(); ++it)
            expected.insert(p + it.key(), it.value());
        QCOMPARE(Snapshot(tmp.filePath("check")), expected);
        QCOMPARE(Unzip(archive, tmp.filePath("ours")), 0);
        QCOMPARE(Snapshot(tmp.filePath("ours")), expected);
        // An entry keeps its file's time, to the two seconds the format holds.
        QCOMPARE(QFileInfo(tmp.filePath("ours/" + p + "B.MDB")).lastModified(), stamp.addSecs(-1));
        // A valid leftover is replaced, not merged; patterns ignore case.
        QCOMPARE(Zip(archive, {data + "/sub/C.*"}), 0);
        QCOMPARE(Listing(archive), QStringList{p + "sub/c.txt"});
        QCOMPARE(Zip(tmp.filePath("none.zip"), {"querty", data + "/*.TXT", tmp.filePath("none/*.*")}), 12);
        QVERIFY(Printed("Nothing to do"));
        QVERIFY(!QFileInfo::exists(tmp.filePath("none.zip")));
    }

    // What Info-ZIP's zip records for a plain file on Unix, as unzip and Python's zipfile read it: the mode (no
    // file writable by everyone) and the read-only attribute; the time in UTC in the extended-timestamp field (the
    // MS-DOS fields hold local times of 1980 to 2107 only, and never a year wrapped round).
    void entriesKeepModeAndTime() {
        const QByteArray zone = qgetenv("TZ");
        const bool zoned = qEnvironmentVariableIsSet("TZ");
        const auto restore = qScopeGuard([&] {
            zoned ? qputenv("TZ", zone) : qunsetenv("TZ");
            tzset();
        });
        qputenv("TZ", "UTC");
        tzset();
        const struct {
            const char* name;
            QDateTime changed;
            bool readOnly;
            const char* mode;  // as unzip -Z shows it
            const char* utc;   // the extended timestamp, as unzip -Zv shows it
            const char* local; // Python's date_time and attributes
        } rows[] = {
            {"plain.dat", QDateTime(QDate(2020, 5, 17), QTime(10, 20, 31), Qt::UTC), false, "-rw-r--r--",
             "2020 May 17 10:20:31 UTC", "(2020, 5, 17, 10, 20, 30) 3 0o100644 0"},
            {"readonly.dat", QDateTime(QDate(2020, 5, 17), QTime(10, 20, 31), Qt::UTC), true, "-r--r--r--",
             "2020 May 17 10:20:31 UTC", "(2020, 5, 17, 10, 20, 30) 3 0o100444 1"},
            {"y1970.dat", QDateTime(QDate(1970, 1, 1), QTime(0, 0, 10), Qt::UTC), false, "-rw-r--r--",
             "1970 Jan 1 00:00:10 UTC", "(1980, 1, 1, 0, 0, 0) 3 0o100644 0"},
            {"y2149.dat", QDateTime(QDate(2149, 6, 1), QTime(12, 0), Qt::UTC), false, "-rw-r--r--",
             "2106 Feb 7 06:28:15 UTC", "(2107, 12, 31, 23, 59, 58) 3 0o100644 0"},
        };
        QTemporaryDir tmp;
        for (const auto& row : rows) {
            const QString path = tmp.filePath(QString("d/") + row.name);
            WriteFile(path, row.name);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(row.changed, QFileDevice::FileModificationTime));
            file.close();
            QVERIFY(!row.readOnly || MakeReadOnly(path));
        }
        const QString archive = tmp.filePath("a.zip");
        QCOMPARE(Zip(archive, {tmp.filePath("d/*")}, ZPOPT{.fJunkDir = 1}), 0);
        const QString modes = Exec("unzip", {"-Z", archive}).second;
        const QStringList sections = Exec("unzip", {"-Zv", archive}).second.split("Central directory entry #");
        const char* script = R"(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename, i.date_time, i.create_system, oct(i.external_attr >> 16), i.external_attr & 0xff)
)";
        const QString python =
            Exec(qEnvironmentVariable("ZEL_PYTHON", ZEL_PYTHON_DEFAULT), {"-c", script, archive}).second;
        for (const auto& row : rows) {
            QVERIFY2(modes.contains(QRegularExpression(QString("^%1 .* %2\n").arg(row.mode, row.name),
                                                       QRegularExpression::MultilineOption)),
                     qPrintable(modes));
            const QString section = sections.filter(QString("\n  %1\n").arg(row.name)).value(0);
            QVERIFY2(section.contains(QString("(UT extra field modtime): %1\n").arg(row.utc)), qPrintable(section));
            QVERIFY2(python.contains(QString("%1 %2\n").arg(row.name, row.local)), qPrintable(python));
        }
    }

    // A file changes after it was listed: before it is read, in the middle of its last block, or once it was
    // packed while another still is (the archive is a copy of one moment); or the disk fills. Each run fails naming
    // the reason, and leaves the old archive and no temporary file; a change stops it at once.
    void failedRunsKeepTheOldArchive() {
        const char* changed = "changed while it was being packed; close the program that uses it and send again.";
        const auto grow = [](QFile& f) { return f.open(QIODevice::Append) && f.write("more") == 4; };
        const struct {
            const char* name;
            std::function<bool(QFile&)> change;
            const char* file; // the file changed
            const char* when; // right after the block "file@offset" was read; empty: before any file is read
            qint64 sizeLimit;
            int result;
            QString text;
        } cases[] = {
            {"grows", grow, "t.mdb", "", 0, 18, changed},
            {"shrinks", [](QFile& f) { return f.resize(1000); }, "t.mdb", "", 0, 18, changed},
            {"rewritten",
             [](QFile& f) {
                 return f.open(QIODevice::ReadWrite) &&
                        f.setFileTime(f.fileTime(QFileDevice::FileModificationTime).addSecs(-2),
                                      QFileDevice::FileModificationTime);
             },
             "t.mdb", "", 0, 18, changed},
            {"vanishes", [](QFile& f) { return f.remove(); }, "t.mdb", "", 0, 18,
             "could not open %1 for reading (No such file or directory)."},
            {"grows while its last block is read", grow, "t.mdb", "t.mdb@2097152", 0, 18, changed},
            {"grows once packed, while another is packed", grow, "a.mdb", "z.mdb@67108864", 0, 18, changed},
            {"disk full", {}, "t.mdb", "", 1 << 20, 14, "there is not enough disk space to write"},
        };
        for (const auto& c : cases) {
            QTemporaryDir tmp;
            const QString target = tmp.filePath(QString("d/") + c.file), archive = tmp.filePath("d/ZEL.ZIP");
            WriteTree(tmp.filePath("d"),
                      {{"a.mdb", Mixed(3 << 20, 1)}, {"t.mdb", Mixed(2500000, 2)}, {"ZEL.ZIP", "old"}});
            // Packed last: 128 blocks of a sparse file, quick to read and to deflate.
            QFile big(tmp.filePath("d/z.mdb"));
            QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(128) << 20));
            big.close();
            const QStringList when = QString(c.when).split('@');
            std::atomic<bool> done = !c.change;
            std::atomic<int> bigBlocks = 0;
            bool first = true;
            // The first call comes before any file is read.
            SetProgressHook([&](std::uint64_t, std::uint64_t) {
                QFile f(target);
                if (std::exchange(first, false) && c.change && when.size() == 1)
                    done = c.change(f);
                return true;
            });
            // On the packing threads, between reading a block and checking its file again.
            detail::SetBlockReadHook([&](const std::string& file, std::uint64_t offset) {
                const QString name = QFileInfo(QString::fromStdString(file)).fileName();
                bigBlocks += name == "z.mdb" ? 1 : 0;
                QFile f(target);
                if (when.size() == 2 && name == when[0] && offset == when[1].toULongLong())
                    done = c.change(f);
            });
            printed.clear();
            int result = -1;
            auto run = [&] { result = Zip(archive, {tmp.filePath("d/*.*")}); };
            if (!c.sizeLimit)
                run();
            else if (!WithFileSizeLimit(c.sizeLimit, run))
                QSKIP("this system has no limit on a file's size to stand in for a full disk");
            detail::SetBlockReadHook({});
            QVERIFY2(done && result == c.result, c.name);
            QVERIFY2(Printed(QString(c.text).replace("%1", QDir::toNativeSeparators(target)).toUtf8().constData()),
                     printed.c_str());
            // Read ahead of the failed block at most as far as the packing threads may run: not z.mdb whole.
            QVERIFY2(!c.change || c.file != QString("t.mdb") || bigBlocks < 128, c.name);
            QStringList left = Entries(tmp.filePath("d")), expected{"ZEL.ZIP", "a.mdb", "t.mdb", "z.mdb"};
            left.removeOne(c.file);
            expected.removeOne(c.file);
            QCOMPARE(left, expected);
            QCOMPARE(ReadFile(archive), QByteArray("old"));
        }
    }

    void progressAndCancel() {
        QTemporaryDir tmp;
        // Random data: slow enough to deflate that the hook is called many times while the blocks are packed.
        const QByteArray random = Noise(32 << 20, 4);
        WriteTree(tmp.filePath("d"), {{"big.bin", random}, {"small.bin", "s"}});
        std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
        SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
            // The calls that keep the window alive while the files are listed know no total yet.
            if (total != 0 || done != 0)
                calls.emplace_back(done, total);
            return true;
        });
        QCOMPARE(Zip(tmp.filePath("a.zip"), {tmp.filePath("d/*")}), 0);
        QVERIFY(calls.size() > 2);
        for (std::size_t i = 0; i < calls.size(); ++i) { // every byte to pack counts, and the count only grows
            QCOMPARE(calls[i].second, std::uint64_t(random.size() + 1));
            QVERIFY(calls[i].first <= calls[i].second && (i == 0 || calls[i].first >= calls[i - 1].first));
        }

        // Cancelled, or the hook throws, while the blocks are packed: until then only a temporary file with the
        // program's marker stood beside the archive's name; afterwards nothing does.
        for (bool throws : {false, true}) {
            QStringList during;
            SetProgressHook([&](std::uint64_t done, std::uint64_t) {
                if (done == 0)
                    return true;
                during = Entries(tmp.path());
                if (throws)
                    throw zel::rt::Raise(zel::rt::OutOfMemory, "hook");
                return false;
            });
            printed.clear();
            int result = -1;
            QCOMPARE(Raised([&] { result = Zip(tmp.filePath("b.zip"), {tmp.filePath("d/*")}); }),
                     throws ? QString("7 hook: Out of memory") : QString());
            QVERIFY(throws || (result == 9 && Printed("cancelled")));
            QCOMPARE(during.size(), 3);
            QVERIFY2(during[1].startsWith("b.zip.zel~"), qPrintable(during.join(' ')));
            QCOMPARE(Entries(tmp.path()), (QStringList{"a.zip", "d"}));
        }
        SetProgressHook({});
        QCOMPARE(Unzip(tmp.filePath("a.zip"), tmp.filePath("whole"), false), 0);
        QCOMPARE(Snapshot(tmp.filePath("whole")), Snapshot(tmp.filePath("d")));
        // Cancelled at the call that comes before any entry is read: nothing is extracted.
        SetProgressHook([](std::uint64_t, std::uint64_t) { return false; });
        printed.clear();
        QCOMPARE(Unzip(tmp.filePath("a.zip"), tmp.filePath("x"), false), 80);
        QVERIFY2(
            Printed("cancelled; " + StoredName(tmp.filePath("d/big.bin")).toStdString() + " and the files after it"),
            printed.c_str());
        QCOMPARE(Entries(tmp.filePath("x")), QStringList());

        // Entries are read on several threads but put in place in order: a disk that fills at the second entry
        // leaves the first one in place and nothing else, also when the third was read already.
        SetProgressHook({});
        WriteTree(tmp.filePath("e"), {{"a.bin", Mixed(1 << 20, 8)}, {"b.bin", random.left(8 << 20)}, {"c.bin", "c"}});
        QCOMPARE(Zip(tmp.filePath("e.zip"), {tmp.filePath("e/*")}), 0);
        printed.clear();
        int result = -1;
        if (!WithFileSizeLimit(4 << 20, [&] { result = Unzip(tmp.filePath("e.zip"), tmp.filePath("y"), false); }))
            QSKIP("this system has no limit on a file's size to stand in for a full disk");
        QCOMPARE(result, 50);
        QVERIFY2(Printed("not enough disk space to extract " + StoredName(tmp.filePath("e/b.bin")).toStdString()),
                 printed.c_str());
        QCOMPARE(Entries(tmp.filePath("y")), QStringList{"a.bin"});
    }

    void hostileArchivesStayInsideTheFolderAndOverwriteNothing() {
        QTemporaryDir tmp;
        const QString zip = tmp.filePath("in/evil.zip");
        QVERIFY(MakeZip(zip, {{"../up.txt", "1"},
                              {"/abs.txt", "2"},
                              {"C:\\drive.txt", "3"},
                              {"a\\..\\..\\back.txt", "4"},
                              {"ok/../../../y.txt", "5"},
                              {"link", "/etc/passwd", true},
                              {"..", ""},
                              {"bad\r\nname.txt", "6"},
                              {"tab\tname.txt", "7"}}));
        for (const QString& dir : {tmp.filePath("in/x"), tmp.filePath("in/flat")}) {
            QVERIFY(Unzip(zip, dir, dir.endsWith("x")) != 0);
            for (const QString& f : Snapshot(tmp.path()).keys())
                QVERIFY2(f.startsWith("in/x/") || f.startsWith("in/flat/") || f == "in/evil.zip", qPrintable(f));
            QVERIFY(!QFileInfo(dir + "/link").exists() && !QFileInfo(dir + "/link").isSymLink());
        }
        QCOMPARE(Snapshot(tmp.filePath("in/flat")).keys(),
                 (QStringList{"abs.txt", "back.txt", "drive.txt", "up.txt", "y.txt"}));
        QCOMPARE(ReadFile(tmp.filePath("in/x/a/back.txt")), QByteArray("4"));
        QVERIFY(Printed("symbolic link"));
        QVERIFY(Printed("bad\\r\\nname.txt has a control character in its name"));

        // Entries never overwrite the archive or each other.
        const QString dir = tmp.filePath("tova"), archive = dir + "/FIXED.ZIP";
        const QList<Entry> entries{
            {"d.txt", "first"}, {"D.TXT", "second"}, {"sub/d.txt", "third"}, {"FIXED.ZIP", "junk"}, {"e.txt", "e"}};
        QVERIFY(MakeZip(archive, entries));
        const QByteArray before = ReadFile(archive);
        QVERIFY(Unzip(archive, dir, false) != 0);
        QCOMPARE(Snapshot(dir), (Files{{"FIXED.ZIP", before}, {"d.txt", "first"}, {"e.txt", "e"}}));
        QVERIFY(Printed("would overwrite"));

        // Two entries of exactly the same name: refused as a whole, naming the entry.
        QVERIFY(MakeZip(tmp.filePath("twice.zip"), {{"same.txt", "1"}, {"same.txt", "2"}}));
        printed.clear();
        QVERIFY(Unzip(tmp.filePath("twice.zip"), tmp.filePath("x")) != 0);
        QVERIFY2(Printed("more than one entry named same.txt"), printed.c_str());
        QCOMPARE(Snapshot(tmp.filePath("x")), Files());
    }

    // Unpacking is bounded before anything is written: by the free space of the disk (with a margin), and by what
    // any data set holds; an entry whose data runs past its declared size stops there.
    void unpackingIsBounded_data() {
        QTest::addColumn<QByteArray>("entries"); // as MakeRawZip takes them
        QTest::addColumn<QString>("disk");       // extracted onto a file system of its own of this size (tmpfs)
        QTest::addColumn<qint64>("sizeLimit");   // no file may grow beyond this (0: no limit)
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text"); // printed (<disk>: the file system of its own, <zip>: the archive)
        QTest::addColumn<int>("files");    // extracted
        const auto row = [](const char* name, const char* entries, const char* disk, qint64 sizeLimit, int result,
                            const QString& text, int files) {
            QTest::newRow(name) << QByteArray(entries) << disk << sizeLimit << result << text << files;
        };
        const QString space = "unzip error: there is not enough free space on the drive <disk> to extract <zip>: its "
                              "files take %1, and the drive has 4.0 MB free";
        const QString refused = ", far more than a data set%1; the archive is damaged or not a data set, and nothing "
                                "was extracted.";
        row("fits a small disk", R"([{"name": "a.bin", "random": 2097152}])", "4m", 0, 0, "1 file(s) extracted", 1);
        row("more than a small disk takes", R"([{"name": "a.bin", "random": 3670016}])", "4m", 0, 50,
            space.arg("3.5 MB"), 0);
        row("a bomb", R"([{"name": "a.bin", "zeros": 67108864}])", "4m", 0, 50, space.arg("64.0 MB"), 0);
        // Four entries of 2^62 bytes: 2^64 in all, which a sum in 64 bits takes for nothing.
        row("a lying Zip64 size", R"([{"name": "f%d", "text": "x", "declared": 4611686018427387904, "copies": 4}])", "",
            0, 2, "unzip error: the files in <zip> would take more than 64.0 GB" + refused.arg(""), 0);
        row("too many entries", R"([{"name": "f%d", "text": "x", "copies": 100001}])", "", 0, 2,
            "unzip error: <zip> holds 100001 files" + refused.arg(" (at most 100000)"), 0);
        // On a file system of its own, where 20,000 files come and go quickly.
        row("as many files as a data set", R"([{"name": "f%d", "text": "x", "copies": 20000}])", "128m", 0, 0,
            "20000 file(s) extracted", 20000);
        // Declared 9 MiB, inflated as a stream; the data is 64 MiB, and no file may grow past 16 MiB: the entry is
        // refused as damaged where its data passes 9 MiB, long before the disk would seem full.
        row("data past the declared size", R"([{"name": "a.bin", "zeros": 67108864, "declared": 9437184}])", "",
            16 << 20, 2, "a.bin is damaged (more data than recorded)", 0);
    }
    void unpackingIsBounded() {
        QFETCH(QByteArray, entries);
        QFETCH(QString, disk);
        QFETCH(qint64, sizeLimit);
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(int, files);
        QTemporaryDir tmp;
        const QString archive = tmp.filePath("FIXED.ZIP");
        QVERIFY(MakeRawZip(archive, entries));
        // A file system of its own (tmpfs), where the test may mount one (as root).
        const QString own = tmp.filePath("disk");
        const bool mounted = !disk.isEmpty() && QDir().mkpath(own) &&
                             Exec("mount", {"-t", "tmpfs", "-o", "size=" + disk, "tmpfs", own}).first == 0;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                Exec("umount", {own});
        });
        if (!disk.isEmpty() && !mounted)
            QSKIP("No tmpfs can be mounted here (it takes root): this row is not tried.");
        const QString dir = mounted ? own + "/x" : tmp.filePath("x");
        printed.clear();
        int got = -1;
        const auto run = [&] { got = Unzip(archive, dir, false); };
        if (!sizeLimit)
            run();
        else if (!WithFileSizeLimit(sizeLimit, run))
            QSKIP("this system has no limit on a file's size to stand in for a full disk");
        QCOMPARE(got, result);
        // Paths as the system writes them; a volume's path on Windows ends in a backslash ("C:\", or a mounted
        // folder's).
        const QString drive = mounted ? QDir::toNativeSeparators(own + (QDir::separator() == '\\' ? "/" : "")) : "";
        text.replace("<zip>", QDir::toNativeSeparators(archive)).replace("<disk>", drive);
        QVERIFY2(Printed(text.toStdString()), printed.c_str());
        QCOMPARE(Entries(dir).size(), files);
    }

    void corruptArchivesFailWithoutPartialFiles() {
        QTemporaryDir tmp;
        QByteArray text;
        for (int i = 0; i < 20000; ++i)
            text += QByteArray::number(i * 7919) + ' ';
        QVERIFY(ZipFiles(tmp.filePath("c.zip"), {{"t.txt", text}}));
        QByteArray bytes = ReadFile(tmp.filePath("c.zip"));
        for (int i = 200; i < 260; ++i) // inside the compressed data of the only entry
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        // A large entry, inflated as a stream: one byte changed in its middle.
        QVERIFY(ZipFiles(tmp.filePath("b.zip"), {{"b.bin", Mixed(9 << 20, 5)}}));
        QByteArray large = ReadFile(tmp.filePath("b.zip"));
        large[large.size() / 2] = static_cast<char>(large[large.size() / 2] ^ 1);
        WriteTree(tmp.path(), {{"c.zip", bytes}, {"b.zip", large}, {"g.zip", "garbage, not an archive"}});
        for (const char* zip : {"c.zip", "b.zip", "g.zip", "missing.zip"})
            QVERIFY2(Unzip(tmp.filePath(zip), tmp.filePath("x")) != 0, zip);
        QVERIFY(Printed("damaged"));
        QCOMPARE(Snapshot(tmp.filePath("x")), Files());
    }
};

QTEST_GUILESS_MAIN(tst_ZipEngine)
#include "tst_ZipEngine.moc"
