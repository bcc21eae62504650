#include "platform/zipengine/EngineShared.h"
#include "platform/zipengine/Packer.h"

#include "platform/files/Files.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <set>

namespace zipengine::detail {

namespace {

std::string EntryName(const fs::path& file, const fs::path& root, bool junkDir) {
    if (junkDir)
        return file.filename().generic_string();
    fs::path abs = fs::absolute(file).lexically_normal();
    fs::path rel = abs.lexically_relative(fs::absolute(root).lexically_normal());
    if (rel.empty() || *rel.begin() == ".." || rel == ".")
        rel = abs.relative_path();
    return rel.generic_string();
}

// Hidden and system files are not part of a data set unless asked for.
bool IsHiddenOrSystem(const fs::path& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
#endif
}

class Collector {
public:
    Collector(const fs::path& archive, const fs::path& root, bool recurse, bool junkDir, bool system, Printer& print)
        : m_Archive(archive), m_Root(root), m_Recurse(recurse), m_JunkDir(junkDir), m_System(system), m_Print(print) {
        struct stat st {};
        if (::stat(archive.c_str(), &st) == 0)
            m_ArchiveState = StateOf(st);
    }

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
            struct stat st {};
            if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                AddFile(p, fs::weakly_canonical(p, ec), st);
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

    std::vector<PackItem>& Items() { return m_Items; }

private:
    struct Found {
        fs::path path;
        bool link;
        struct stat st;
    };

    // True when the pattern matched at least one file, also one that is then left out (the archive itself, a
    // hidden file, a temporary file of the program).
    bool AddFolder(const fs::path& dir, const std::string& pattern, bool recurse) {
        std::error_code ec;
        std::vector<Found> files;
        std::vector<fs::path> folders;
        bool matched = false;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ec2;
            const fs::path& path = it->path();
            auto type = it->symlink_status(ec2).type();
            if (type == fs::file_type::directory) {
                if (m_System || !IsHiddenOrSystem(path))
                    folders.push_back(path);
                continue;
            }
            Found f{path, type == fs::file_type::symlink, {}};
            if (::stat(path.c_str(), &f.st) != 0 || !S_ISREG(f.st.st_mode) ||
                !files::MatchesPattern(path.filename().string(), pattern))
                continue;
            matched = true;
            if (Excluded(path))
                continue;
            files.push_back(std::move(f));
        }
        std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
        std::sort(folders.begin(), folders.end());
        // One canonical folder for its files: the same file reached twice, by two names given or through a
        // link, is packed once.
        const fs::path canonical = fs::weakly_canonical(dir, ec);
        for (const auto& f : files)
            AddFile(f.path, f.link ? fs::weakly_canonical(f.path, ec) : canonical / f.path.filename(), f.st);
        if (recurse)
            for (const auto& d : folders)
                matched = AddFolder(d, pattern, true) || matched;
        return matched;
    }

    bool Excluded(const fs::path& file) const {
        return files::IsTemporaryName(file.filename().string()) || (!m_System && IsHiddenOrSystem(file));
    }

    void AddFile(const fs::path& file, const fs::path& key, const struct stat& st) {
        const FileState state = StateOf(st);
        // Never pack the archive being written, nor the program's own temporary files.
        if ((m_ArchiveState && state.dev == m_ArchiveState->dev && state.ino == m_ArchiveState->ino) || Excluded(file))
            return;
        if (!m_Seen.insert(key.string()).second)
            return;
        PackItem item;
        item.file = file;
        item.entry = EntryName(file, m_Root, m_JunkDir);
        item.mtime = static_cast<std::time_t>(st.st_mtim.tv_sec);
        item.state = state;
        m_Items.push_back(std::move(item));
    }

    fs::path m_Archive;
    fs::path m_Root;
    bool m_Recurse;
    bool m_JunkDir;
    bool m_System;
    Printer& m_Print;
    std::optional<FileState> m_ArchiveState;
    std::vector<PackItem> m_Items;
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

    Collector collector(archive, root, o.fRecurse != 0, o.fJunkDir != 0, o.fSystem != 0, print);
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
        total += item.state.size;
    Progress progress(s.hook, total);
    // The first call comes before any file is read.
    if (!progress.Tick(0)) {
        print("zip: cancelled; " + archive.string() + " was not written.\n");
        return ZE_ABORT;
    }
    // A leftover archive is replaced, never updated: the archive holds exactly the files found now.
    const PackResult result = Pack(items, archive, DeflateLevel(o.fLevel), o.fQuiet != 0, progress, print);
    switch (result.outcome) {
    case PackOutcome::Written:
        break;
    case PackOutcome::Cancelled:
        print(result.message);
        return ZE_ABORT;
    case PackOutcome::SourceFailed:
        print(result.message);
        return ZE_OPEN;
    case PackOutcome::CreateFailed:
        print(result.message);
        return ZE_CREAT;
    case PackOutcome::WriteFailed:
        print(result.message);
        return ZE_WRITE;
    }
    if (o.fQuiet == 0)
        print("  " + std::to_string(items.size()) + " file(s) packed into " + archive.string() + "\n");
    return ZE_OK;
}

} // namespace zipengine::detail
