#include "platform/zipengine/FileList.h"

#include "platform/zipengine/Paths.h"
#include "platform/zipengine/Settings.h"

#include "platform/files/Names.h"
#include "platform/files/Runtime.h"

#include <algorithm>
#include <utility>

namespace zipengine::detail {

namespace {

// The folder's path below the root, when one of the folders it is in is the root under another name: on Windows
// the root may come in another case (the caller upper-cases it) or as a short name, which its file system takes for
// the same folder.
std::optional<fs::path> BelowRootByIdentity(const fs::path& abs, fs::path root) {
    if (!root.has_filename() && root.has_relative_path())
        root = root.parent_path(); // with a trailing separator the file system library finds no folder equivalent
    std::vector<fs::path> below;
    std::error_code ec;
    for (fs::path up = abs;; up = up.parent_path()) {
        if (fs::equivalent(up, root, ec)) {
            fs::path rel;
            for (auto it = below.rbegin(); it != below.rend(); ++it)
                rel /= *it;
            return rel.empty() ? fs::path(".") : rel;
        }
        if (!up.has_relative_path())
            return std::nullopt;
        below.push_back(up.filename());
    }
}

// The entry names of a folder's files start with this: the folder relative to the root, or its whole path when
// it is outside the root.
std::string EntryPrefix(const fs::path& folder, const fs::path& root) {
    fs::path abs = fs::absolute(folder).lexically_normal();
    const fs::path top = fs::absolute(root).lexically_normal();
    fs::path rel = abs.lexically_relative(top);
    if (rel.empty() || *rel.begin() == "..")
        rel = BelowRootByIdentity(abs, top).value_or(abs.relative_path());
    if (rel == ".")
        return {};
    const std::u8string generic = rel.generic_u8string();
    const std::string prefix(generic.begin(), generic.end());
    return prefix.empty() || prefix.back() == '/' ? prefix : prefix + "/";
}

} // namespace

FileList::FileList(const fs::path& archive, fs::path root, bool recurse, bool junkDir, bool system, Printer& print,
                   Progress& progress)
    : m_Root(std::move(root)), m_Recurse(recurse), m_JunkDir(junkDir), m_System(system), m_Print(print),
      m_Progress(progress) {
    if (files::FileId id; files::Identify(Utf8(archive), id, true))
        m_ArchiveId = id;
}

void FileList::AddName(const std::string& name) {
    fs::path p = PathOf(files::NativePath(name));
    if (p.is_relative())
        p = m_Root / p;
    bool matched = false;
    std::string last = Utf8(p.filename());
    if (files::HasWildcards(last)) {
        fs::path dir = ResolveNoCase(p.parent_path());
        matched = AddFolder(dir, last, m_Recurse);
    } else {
        p = ResolveNoCase(p);
        std::error_code ec;
        if (files::FileId id; files::Identify(Utf8(p), id, true)) {
            const fs::path dir = p.parent_path();
            AddFile(dir, EntryPrefix(dir, m_Root), {Utf8(p.filename()), false, id}, Utf8(fs::weakly_canonical(p, ec)));
            matched = true;
        } else if (fs::is_directory(p, ec)) {
            if (m_Recurse)
                matched = AddFolder(p, "*", true);
            else
                m_Print("  zip warning: " + Shown(PathOf(name)) +
                        " is a folder; its files are packed only with recursion\n");
        }
    }
    if (!matched && !m_Progress.Cancelled())
        m_Print("  zip warning: name not matched: " + Shown(PathOf(name)) + "\n");
}

// True when the pattern matched at least one file, also one that is then left out (the archive itself, a
// hidden file, a temporary file of the program). A large folder takes a while: the hook keeps being called
// and may cancel.
bool FileList::AddFolder(const fs::path& dir, const std::string& pattern, bool recurse) {
    std::error_code ec;
    std::vector<Found> files;
    std::vector<fs::path> folders;
    bool matched = false;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!m_Progress.Poll())
            return matched;
        std::error_code ec2;
        const fs::path& path = it->path();
        std::string name = Utf8(path.filename());
        auto type = it->symlink_status(ec2).type();
        if (type == fs::file_type::directory) {
            if (m_System || !files::HiddenOrSystem(Utf8(dir / path.filename())))
                folders.push_back(path);
            continue;
        }
        Found f{std::move(name), type == fs::file_type::symlink, {}};
        if (!files::Identify(Utf8(path), f.id, true) || !files::MatchesPattern(f.name, pattern))
            continue;
        matched = true;
        if (!Excluded(dir, f.name))
            files.push_back(std::move(f));
    }
    std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) { return a.name < b.name; });
    std::sort(folders.begin(), folders.end());
    // One canonical folder for its files: the same file reached twice, by two names given or through a
    // link, is packed once.
    const std::string canonical = Utf8(fs::weakly_canonical(dir, ec)) + "/";
    const std::string prefix = EntryPrefix(dir, m_Root);
    for (const auto& f : files) {
        if (!m_Progress.Poll())
            return matched;
        AddFile(dir, prefix, f, f.link ? Utf8(fs::weakly_canonical(dir / PathOf(f.name), ec)) : canonical + f.name);
    }
    if (recurse)
        for (const auto& d : folders)
            matched = AddFolder(d, pattern, true) || matched;
    return matched;
}

bool FileList::Excluded(const fs::path& dir, const std::string& name) const {
    const std::string folder = Utf8(dir) + "/";
    return files::IsTemporaryName(name) || (!m_System && files::HiddenOrSystem(folder + name)) ||
           (EngineSettings().filter && !EngineSettings().filter(folder, name));
}

void FileList::AddFile(const fs::path& dir, const std::string& prefix, const Found& f, std::string key) {
    // Never pack the archive being written, nor the program's own temporary files.
    if ((m_ArchiveId && SameFile(f.id, *m_ArchiveId)) || Excluded(dir, f.name))
        return;
    if (!m_Seen.insert(std::move(key)).second)
        return;
    PackItem item;
    item.file = Utf8(dir / PathOf(f.name));
    item.entry = m_JunkDir ? f.name : prefix + f.name;
    item.mtime = ChangedAt(f.id);
    // Where the system maps its read-only attribute onto the permissions, as Windows does.
    std::error_code ec;
    item.readOnly = (fs::status(PathOf(item.file), ec).permissions() & fs::perms::owner_write) == fs::perms::none;
    item.id = f.id;
    m_Items.push_back(std::move(item));
}

} // namespace zipengine::detail
