#include "console/RecoveryFolder.h"

#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace {

const char* const Source = "RecoveryFolder";

// "data_qmx\*.*" -> "data_qmx\"; "*.*" -> "".
std::string FolderOf(const std::string& relative) {
    const auto cut = relative.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : relative.substr(0, cut + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

void MakeFolders(const std::string& base, const std::string& relativeFolder) {
    std::string path = base;
    if (!files::FolderExists(path))
        files::MkDir(path);
    std::size_t start = 0;
    while (start < relativeFolder.size()) {
        const auto end = relativeFolder.find_first_of("\\/", start);
        path += relativeFolder.substr(start, end - start) + "\\";
        if (!files::FolderExists(path))
            files::MkDir(path);
        start = end == std::string::npos ? relativeFolder.size() : end + 1;
    }
}

} // namespace

RecoveryFolder::RecoveryFolder(std::string dataFolder) : m_DataFolder(std::move(dataFolder)) {}

std::string RecoveryFolder::Path() const {
    return m_DataFolder + "ZEL-RECOVERY\\";
}

std::string RecoveryFolder::SavedPath(const std::string& relative) const {
    return Path() + "saved\\" + relative;
}

bool RecoveryFolder::Exists() const {
    return files::FolderExists(Path());
}

std::vector<std::string> RecoveryFolder::Places() const {
    std::vector<std::string> places;
    std::ifstream in(files::NativePath(Path() + "places"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            places.push_back(line);
    return places;
}

void RecoveryFolder::Save(const std::string& relativePattern) {
    const std::string folder = FolderOf(relativePattern);
    const std::vector<std::string> names = files::Dir(m_DataFolder + relativePattern);
    // Written ahead, so that a receive interrupted from here on still knows where to look.
    MakeFolders(Path(), "saved\\" + folder);
    {
        std::ofstream places(files::NativePath(Path() + "places"), std::ios::app);
        places << relativePattern << "\n";
        if (!places.flush())
            throw zel::rt::Raise(zel::rt::PathFileAccessError, Source);
    }
    if (names.empty())
        throw zel::rt::Raise(zel::rt::FileNotFound, Source);
    for (const std::string& name : names) {
        const std::string from = m_DataFolder + folder + name;
        // A read-only file stops the clearing as it would stop a deletion.
        if (files::ReadOnly(from))
            throw zel::rt::Raise(zel::rt::PathFileAccessError, Source);
        files::Name(from, SavedPath(folder + name));
    }
}

void RecoveryFolder::MarkCleared() {
    std::ofstream marker(files::NativePath(Path() + "cleared"));
    if (!marker.flush())
        throw zel::rt::Raise(zel::rt::PathFileAccessError, Source);
}

int RecoveryFolder::Restore(const std::string& keepName) {
    const std::vector<std::string> places = Places();
    if (files::FileExists(Path() + "cleared")) {
        for (const std::string& place : places) {
            const std::string folder = FolderOf(place);
            for (const std::string& name : files::Dir(m_DataFolder + place)) {
                if (folder.empty() && SameName(name, keepName))
                    continue;
                files::Kill(m_DataFolder + folder + name);
            }
        }
    }

    int restored = 0;
    std::vector<std::string> kept;
    std::vector<std::string> folders;
    for (const std::string& place : places)
        if (std::find(folders.begin(), folders.end(), FolderOf(place)) == folders.end())
            folders.push_back(FolderOf(place));
    for (const std::string& folder : folders) {
        for (const std::string& name : files::Dir(SavedPath(folder) + "*")) {
            const std::string target = m_DataFolder + folder + name;
            if (files::FileExists(target)) {
                // The archive just downloaded is newer than a saved one of an earlier run.
                if (folder.empty() && SameName(name, keepName)) {
                    files::Kill(SavedPath(folder + name));
                    continue;
                }
                kept.push_back(folder + name);
                continue;
            }
            files::Name(SavedPath(folder + name), target);
            ++restored;
        }
    }
    if (!kept.empty()) {
        std::string list;
        for (const std::string& k : kept)
            list += "\r\n" + k;
        throw zel::Error(zel::rt::FileAlreadyExists, Source,
                         "These files could not be put back because files of the same name are in their place. "
                         "The saved copies are kept in " +
                             SavedPath("") + ":" + list);
    }
    Discard();
    return restored;
}

void RecoveryFolder::Discard() {
    std::vector<std::string> folders{""};
    for (const std::string& place : Places())
        if (std::find(folders.begin(), folders.end(), FolderOf(place)) == folders.end())
            folders.push_back(FolderOf(place));
    // Deepest first, so that each folder is empty when it goes.
    std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) { return a > b; });
    for (const std::string& folder : folders) {
        const std::string path = SavedPath(folder);
        if (!files::FolderExists(path))
            continue;
        if (!files::Dir(path + "*").empty())
            files::Kill(path + "*");
        files::RmDir(path);
    }
    for (const char* name : {"places", "cleared"})
        if (files::FileExists(Path() + name))
            files::Kill(Path() + name);
    if (files::FolderExists(Path()))
        files::RmDir(Path());
}
