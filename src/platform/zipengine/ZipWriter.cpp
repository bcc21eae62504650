#include "platform/zipengine/EngineShared.h"

#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <zip.h>
#include <zlib.h>
// zlib.h maps this name onto a call; UzpVer has a field of that name.
#undef zlib_version

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <set>

namespace zipengine::detail {

namespace {

struct ZipItem {
    fs::path file;
    std::string entry;
    std::uint64_t size = 0;
    std::time_t mtime = 0;
};

struct ZipRun {
    Printer& print;
    Progress& progress;
    bool quiet = false;
    std::string failure; // first problem met while libzip reads the sources
};

struct FileSource {
    ZipItem item;
    ZipRun* run = nullptr;
    std::FILE* f = nullptr;
    std::uint64_t read = 0;
    zip_error_t error;
};

zip_int64_t FileSourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* src = static_cast<FileSource*>(userdata);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        src->f = std::fopen(src->item.file.c_str(), "rb");
        if (!src->f) {
            int err = errno;
            if (src->run->failure.empty())
                src->run->failure = "zip error: could not open " + src->item.file.string() + " for reading (" +
                                    SysText(err) + "). Close the program that uses it and try again.\n";
            zip_error_set(&src->error, ZIP_ER_OPEN, err);
            return -1;
        }
        src->read = 0;
        if (!src->run->quiet)
            src->run->print("  adding: " + src->item.entry + "\n");
        return 0;
    case ZIP_SOURCE_READ: {
        std::uint64_t want = std::min<std::uint64_t>(len, src->item.size - src->read);
        if (want == 0)
            return 0;
        std::size_t got = std::fread(data, 1, static_cast<std::size_t>(want), src->f);
        if (got < want) {
            int err = std::ferror(src->f) ? errno : 0;
            if (src->run->failure.empty())
                src->run->failure = "zip error: could not read " + src->item.file.string() + " (" +
                                    (err ? SysText(err) : std::string("it changed while it was being packed")) + ").\n";
            zip_error_set(&src->error, ZIP_ER_READ, err);
            return -1;
        }
        src->read += got;
        if (!src->run->progress.Tick(got)) {
            zip_error_set(&src->error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
        return static_cast<zip_int64_t>(got);
    }
    case ZIP_SOURCE_CLOSE:
        if (src->f)
            std::fclose(src->f);
        src->f = nullptr;
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &src->error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = src->item.size;
        st->mtime = src->item.mtime;
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&src->error, data, len);
    case ZIP_SOURCE_FREE:
        if (src->f)
            std::fclose(src->f);
        zip_error_fini(&src->error);
        delete src;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&src->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

std::string EntryName(const fs::path& file, const fs::path& root, bool junkDir) {
    if (junkDir)
        return file.filename().generic_string();
    fs::path abs = fs::absolute(file).lexically_normal();
    fs::path rel = abs.lexically_relative(fs::absolute(root).lexically_normal());
    if (rel.empty() || *rel.begin() == ".." || rel == ".")
        rel = abs.relative_path();
    return rel.generic_string();
}

class Collector {
public:
    Collector(const fs::path& archive, const fs::path& root, bool recurse, bool junkDir, Printer& print)
        : m_Archive(archive), m_Root(root), m_Recurse(recurse), m_JunkDir(junkDir), m_Print(print) {}

    void AddName(const std::string& name) {
        fs::path p(files::NativePath(name));
        if (p.is_relative())
            p = m_Root / p;
        bool matched = false;
        std::string last = p.filename().string();
        if (HasWildcard(last)) {
            fs::path dir = ResolveNoCase(p.parent_path());
            matched = AddFolder(dir, last, m_Recurse);
        } else {
            p = ResolveNoCase(p);
            std::error_code ec;
            if (fs::is_regular_file(p, ec)) {
                AddFile(p);
                matched = true;
            } else if (fs::is_directory(p, ec)) {
                if (m_Recurse)
                    matched = AddFolder(p, "*", true);
                else
                    m_Print("  zip warning: " + name + " is a folder; its files are packed only with recursion\n");
            }
        }
        if (!matched)
            m_Print("  zip warning: name not matched: " + name + "\n");
    }

    std::vector<ZipItem>& Items() { return m_Items; }

private:
    // True when the pattern matched at least one file (the archive itself included, which is then left out).
    bool AddFolder(const fs::path& dir, const std::string& pattern, bool recurse) {
        std::error_code ec;
        std::vector<fs::path> files, folders;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ec2;
            auto st = it->symlink_status(ec2);
            if (fs::is_directory(st))
                folders.push_back(it->path());
            else if (fs::is_regular_file(it->path(), ec2) &&
                     files::MatchesPattern(it->path().filename().string(), pattern))
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        bool matched = !files.empty();
        for (const auto& f : files)
            AddFile(f);
        if (recurse)
            for (const auto& d : folders)
                matched = AddFolder(d, pattern, true) || matched;
        return matched;
    }

    void AddFile(const fs::path& file) {
        // Never pack the archive being written, whatever pattern covers it.
        if (SameFile(file, m_Archive))
            return;
        std::error_code ec;
        fs::path key = fs::weakly_canonical(file, ec);
        if (!m_Seen.insert(key.string()).second)
            return;
        ZipItem item;
        item.file = file;
        item.entry = EntryName(file, m_Root, m_JunkDir);
        item.size = fs::file_size(file, ec);
        item.mtime = ModTime(file);
        m_Items.push_back(std::move(item));
    }

    fs::path m_Archive;
    fs::path m_Root;
    bool m_Recurse;
    bool m_JunkDir;
    Printer& m_Print;
    std::vector<ZipItem> m_Items;
    std::set<std::string> m_Seen;
};

int DeflateLevel(char fLevel) {
    if (fLevel >= '0' && fLevel <= '9')
        return fLevel - '0';
    if (fLevel >= 1 && fLevel <= 9)
        return fLevel;
    return 6;
}

} // namespace

std::int32_t Archive(const ZCL& C) {
    State& s = S();
    const ZPOPT& o = s.options;
    Printer print(s.zipFunctions.print, ZipPrintBufferSize);

    if (!C.lpszZipFN || !*C.lpszZipFN) {
        print("zip error: no archive name was given.\n");
        return ZE_PARMS;
    }
    // Options whose work this engine does not do are refused rather than quietly dropped.
    if (o.fEncrypt || o.fMove || o.fDeleteEntries || o.fFreshen || o.fGrow) {
        print("zip error: encrypting, moving, deleting, freshening and growing archives are not supported.\n");
        return ZE_PARMS;
    }
    fs::path archive(files::NativePath(C.lpszZipFN));
    fs::path folder = archive.parent_path().empty() ? fs::path(".") : archive.parent_path();
    folder = ResolveNoCase(folder);
    archive = folder / archive.filename();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        print("zip error: the folder " + folder.string() + " for the archive does not exist.\n");
        return ZE_CREAT;
    }
    fs::path root = ResolveNoCase(fs::path(files::NativePath(s.rootDir.value_or(""))));
    if (root.empty())
        root = fs::current_path(ec);

    Collector collector(archive, root, o.fRecurse != 0, o.fJunkDir != 0, print);
    for (std::int32_t i = 0; i < C.argc; ++i)
        if (C.FNV && C.FNV[i])
            collector.AddName(C.FNV[i]);
    auto& items = collector.Items();
    if (items.empty()) {
        print("zip error: Nothing to do! No files were found to pack into " + std::string(C.lpszZipFN) + ".\n");
        return ZE_NONE;
    }

    std::uint64_t total = 0;
    for (const auto& item : items)
        total += item.size;
    Progress progress(s.hook, total);
    ZipRun run{print, progress, o.fQuiet != 0, {}};
    progress.Tick(0);

    // Truncate: a leftover archive is replaced; libzip writes a temporary file and renames it in zip_close.
    int err = 0;
    ZipPtr za(zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err));
    if (!za) {
        print("zip error: could not create " + archive.string() + ".\n");
        return ZE_CREAT;
    }
    const int level = DeflateLevel(o.fLevel);
    for (const auto& item : items) {
        auto* ctx = new FileSource{item, &run, nullptr, 0, {}};
        zip_error_init(&ctx->error);
        zip_source_t* src = zip_source_function(za.get(), FileSourceCallback, ctx);
        if (!src) {
            zip_error_fini(&ctx->error);
            delete ctx;
            print("zip error: out of memory.\n");
            return ZE_WRITE;
        }
        zip_int64_t idx = zip_file_add(za.get(), item.entry.c_str(), src, ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(src);
            print("zip error: could not add " + item.entry + " (" + zip_strerror(za.get()) + ").\n");
            return ZE_WRITE;
        }
        zip_set_file_compression(za.get(), static_cast<zip_uint64_t>(idx), level == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 static_cast<zip_uint32_t>(level));
        zip_file_set_mtime(za.get(), static_cast<zip_uint64_t>(idx), item.mtime, 0);
    }

    if (zip_close(za.get()) != 0) {
        zip_error_t* e = zip_get_error(za.get());
        int sys = zip_error_code_system(e);
        if (progress.Cancelled()) {
            print("zip: cancelled; " + archive.string() + " was not written.\n");
            return ZE_ABORT;
        }
        if (!run.failure.empty()) {
            print(run.failure);
            return ZE_OPEN;
        }
        if (zip_error_code_zip(e) == ZIP_ER_WRITE || zip_error_code_zip(e) == ZIP_ER_TMPOPEN) {
            print(IsDiskFull(sys)
                      ? "zip error: there is not enough disk space to write " + archive.string() + ".\n"
                      : "zip error: could not write " + archive.string() + " (" + zip_error_strerror(e) + ").\n");
            return ZE_WRITE;
        }
        print("zip error: could not write " + archive.string() + " (" + zip_error_strerror(e) + ").\n");
        return ZE_WRITE;
    }
    za.release(); // zip_close freed it
    if (!run.quiet)
        print("  " + std::to_string(items.size()) + " file(s) packed into " + archive.string() + "\n");
    return ZE_OK;
}

} // namespace zipengine::detail
