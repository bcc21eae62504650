#pragma once

#include "platform/error/LastError.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// File services. Paths are Windows-style: "\" separates folders on every OS ("/" works too); text is UTF-8.
// Wildcards "*" and "?" are allowed in the last component only and match without regard to case.
// Failures raise zel::Error with the runtime's numbers and texts (53 "File not found", 70 "Permission
// denied", 75 "Path/File access error", 76 "Path not found", 61 "Disk full") unless stated otherwise.
namespace files {

// The native form of a Windows-style path: "\" becomes "/".
std::string NativePath(const std::string& path);
// An environment variable; unset gives empty text.
std::string Environ(const std::string& name);
// The native path of the existing entry the path names, its last component matched without regard to case
// (the exact name wins); the plain native path when nothing matches.
std::string ResolvePath(const std::string& path);

// The one rule for comparing names without regard to case, as the products' file system does: ASCII letters
// fold, everything else (UTF-8 included) compares as it is.
char FoldCase(char c);
std::string FoldCase(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

// Whether a name matches a pattern of "*" and "?" without regard to case, with the Windows rules
// ("x.*" also matches "x", so "*.*" matches every name; "x." matches names without a dot).
bool MatchesPattern(const std::string& name, const std::string& pattern);

// Every temporary file of the program carries this in its name ("<target>.zel~XXXXXX"), so that what a killed
// run left behind is never taken for the customer's data.
inline constexpr const char* TemporaryMarker = ".zel~";
bool IsTemporaryName(const std::string& name);

// The program's text is UTF-8. What Windows programs exchange in the ANSI code page (the products' profile files,
// the original tools' passwords) is converted at that boundary; elsewhere both are the text as it is.
std::string ToAnsi(const std::string& utf8);
std::string FromAnsi(const std::string& ansi);

// The one mapping of a system error number (errno) onto the platform's codes; `fallback` for the rest.
winapi::DWORD SystemCode(int err, winapi::DWORD fallback);
bool IsDiskFull(int err);

// Names (without folder) of the plain files matching the pattern, sorted; sub-folders never match.
// A missing folder gives an empty list.
std::vector<std::string> Dir(const std::string& pattern);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::uint64_t FileLen(const std::string& path); // 53 when missing
// The file carries the read-only attribute (on POSIX systems: its owner-write bit is cleared).
bool ReadOnly(const std::string& path);
// The entry carries the hidden or the system attribute (on POSIX systems: its name starts with a dot).
bool HiddenOrSystem(const std::string& path);
// Both folders are on one volume, so that a file moves between them by a rename (not across a mount, another
// drive, or a junction to one). False when either cannot be reached.
bool SameVolume(const std::string& folderA, const std::string& folderB);

// Deletes every plain file matching the pattern (a single name is a pattern too). 53 when nothing
// matches; a file that cannot be deleted raises 70 or 75 and leaves the files not yet reached.
void Kill(const std::string& pattern);
// Renames a file or folder; the target must not exist (58 "File already exists").
void Name(const std::string& from, const std::string& to);
void MkDir(const std::string& path); // 75 when it exists or cannot be made
void RmDir(const std::string& path); // the folder must be empty

// The platform's copy: returns FALSE with the thread's last-error code set on failure. The copy is
// written to a temporary name next to the target and renamed over it only when complete.
winapi::BOOL CopyFileA(const char* existingFile, const char* newFile, winapi::BOOL failIfExists);

// Replaces (or creates) the file at a native path in one step, the one way every layer writes a file in place:
// `fill` writes the contents through the descriptor of a temporary file beside it, which is flushed to disk
// and renamed over the target only when all went well (the target keeps its permissions); otherwise it is
// removed and the target stays as it was. With `noReplace` an existing target is kept (EEXIST).
// Returns 0 or the errno of the step that failed; `fill` returns false with errno set.
int ReplaceFile(const std::string& target, const std::function<bool(int fd)>& fill, bool noReplace = false);
// Writes all of the data, resuming after partial or interrupted writes; false with errno set.
bool WriteAll(int fd, const char* data, std::size_t size);
// Reads a whole plain file at a native path: 0, or an errno (EISDIR for anything but a plain file).
int ReadAll(const std::string& path, std::string& content);

// ---- Native paths (UTF-8, "/" or "\\") for the other stand-ins, the same way on every system ----

// std::fopen for a native path; "x" in the mode creates a new file only (fails with EEXIST).
std::FILE* OpenFile(const std::string& path, const char* mode);
// fflush, then the file's data to disk; false with errno set.
bool FlushToDisk(std::FILE* file);
// Moves an open file to an offset from its start, past 2 GiB too; false with errno set.
bool Seek(std::FILE* file, std::uint64_t offset);
// lseek with 64-bit offsets on every system: the new offset, or -1 with errno set.
std::int64_t Seek(int fd, std::int64_t offset, int whence);
// Renames over an existing target in one step; 0 or an errno.
int RenameOver(const std::string& from, const std::string& to);
// The size of a plain file; false when it has none.
bool SizeOf(const std::string& path, std::uint64_t& size);
bool IsFolderPath(const std::string& path);
bool ExistsPath(const std::string& path);
// Deletes a file if it is there; failures are not reported (for the program's own leftovers).
void Discard(const std::string& path);

// ---- Exact names, for the program's own bookkeeping: no wildcards, no case folding ----

// ReadOnly for the entry of exactly this name, without looking for it in another case.
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
// The same for an open file.
bool Identify(std::FILE* file, FileId& id);
// The entries of a folder by their exact names, sorted; a missing folder gives empty lists.
struct Listing {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};
Listing List(const std::string& folder);
// Moves a file or folder to a free name (58 when taken, 53 when the source is missing).
void Move(const std::string& from, const std::string& to);
// Deletes one file; false when there was none (75 for any other failure).
bool Remove(const std::string& path);
// Deletes one file of the program's own, read-only or not: 0, or the errno of a file that stays (ENOENT included).
int RemoveOwn(const std::string& path);
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

// An open file descriptor, closed when the object ends.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();
    int Get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace files
