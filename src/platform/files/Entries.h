#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exact names, for the program's own bookkeeping: no wildcards, no case folding. Paths are native or
// Windows-style, UTF-8. Failures raise zel::Error with the runtime's numbers unless stated otherwise.
namespace files {

// The read-only attribute of the entry of exactly this name, without looking for it in another case.
bool ReadOnlyExact(const std::string& path);

// What makes a file the same file, not just one of the same name and size.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0; // last change, nanoseconds since 1970 (UTC)
    bool operator==(const FileId&) const = default;
};
// False when no plain file is there; with `followLinks` a symbolic link stands for the file it leads to.
bool Identify(const std::string& path, FileId& id, bool followLinks = false);

// The entries of a folder by their exact names, sorted; a missing folder gives empty lists.
struct Listing {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};
Listing List(const std::string& folder);
// Anything is there under exactly this name (a broken link too).
bool ExistsPath(const std::string& path);
bool IsFolderPath(const std::string& path);
// The size of a plain file; false when it has none.
bool SizeOf(const std::string& path, std::uint64_t& size);

// Moves a file or folder to a free name (58 when taken, 53 when the source is missing).
void Move(const std::string& from, const std::string& to);
// Deletes one file; false when there was none (75 for any other failure).
bool Remove(const std::string& path);
// Deletes one file of the program's own, read-only or not: 0, or the errno of a file that stays (ENOENT included).
int RemoveOwn(const std::string& path);
// Deletes a file if it is there; failures are not reported (for the program's own leftovers).
void Discard(const std::string& path);
// Creates the folder and the folders above it that are missing.
void MakeFolders(const std::string& path);
// Deletes a folder with everything in it (75 when something stays).
void RemoveTree(const std::string& path);
// Deletes a folder that holds nothing; false when it is not there or not empty.
bool RemoveFolderIfEmpty(const std::string& path);

// Makes the creations, renames and deletions in a folder survive a power cut.
void SyncFolder(const std::string& folder);
// Makes the contents of every file in the folder survive a power cut.
void SyncFiles(const std::string& folder);
// Both folders are on one volume, so that a file moves between them by a rename (not across a mount, another
// drive, or a junction to one). False when either cannot be reached.
bool SameVolume(const std::string& folderA, const std::string& folderB);

} // namespace files
