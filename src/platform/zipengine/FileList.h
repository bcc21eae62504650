#pragma once

// Which files the names a zip run is given stand for, in the order they are packed. Internal to the engine.

#include "platform/zipengine/Packer.h"
#include "platform/zipengine/Printer.h"
#include "platform/zipengine/Progress.h"

#include "platform/files/Entries.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zipengine::detail {

namespace fs = std::filesystem;

// Never the archive being written nor the program's temporaries; hidden and system files only with `system`; then
// what the caller's filter lets through. Entry names are relative to the root (the whole path outside it), or bare
// names with `junkDir`.
class FileList {
public:
    FileList(const fs::path& archive, fs::path root, bool recurse, bool junkDir, bool system, Printer& print,
             Progress& progress);

    // A file, a folder, or a pattern of "*" and "?" in the last component, without regard to case.
    void AddName(const std::string& name);
    std::vector<PackItem> TakeItems() { return std::move(m_Items); }

private:
    struct Found {
        std::string name;
        bool link;
        files::FileId id; // of the file a link leads to
    };

    bool AddFolder(const fs::path& dir, const std::string& pattern, bool recurse);
    bool Excluded(const fs::path& dir, const std::string& name) const;
    void AddFile(const fs::path& dir, const std::string& prefix, const Found& f, std::string key);

    fs::path m_Root;
    bool m_Recurse;
    bool m_JunkDir;
    bool m_System;
    Printer& m_Print;
    Progress& m_Progress;
    std::optional<files::FileId> m_ArchiveId;
    std::vector<PackItem> m_Items;
    std::set<std::string> m_Seen;
};

} // namespace zipengine::detail
