#pragma once

#include "platform/files/Entries.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Reading and writing files, the same way on every system. Paths are native (UTF-8, "/" or "\\"). Results: 0 or
// an errno, or false with errno set.
namespace files {

// Replaces (or creates) the file at a native path in one step, the one way every layer writes a file in place:
// `fill` writes the contents through the descriptor of a temporary file beside it, which is flushed to disk
// and renamed over the target only when all went well (the target keeps its permissions); otherwise it is
// removed and the target stays as it was. With `noReplace` an existing target is kept (EEXIST).
// Returns 0 or the errno of the step that failed; `fill` returns false with errno set.
int ReplaceFile(const std::string& target, const std::function<bool(int fd)>& fill, bool noReplace = false);
// Renames over an existing target in one step; 0 or an errno.
int RenameOver(const std::string& from, const std::string& to);
// Writes all of the data, resuming after partial or interrupted writes; false with errno set.
bool WriteAll(int fd, const char* data, std::size_t size);
// Reads a whole plain file: 0, or an errno (EISDIR for anything but a plain file).
int ReadAll(const std::string& path, std::string& content);

// std::fopen; "x" in the mode creates a new file only (fails with EEXIST).
std::FILE* OpenFile(const std::string& path, const char* mode);
// fflush, then the file's data to disk; false with errno set.
bool FlushToDisk(std::FILE* file);
// Moves an open file to an offset from its start, past 2 GiB too; false with errno set.
bool Seek(std::FILE* file, std::uint64_t offset);
// lseek with 64-bit offsets on every system: the new offset, or -1 with errno set.
std::int64_t Seek(int fd, std::int64_t offset, int whence);
// The identity of an open file.
bool Identify(std::FILE* file, FileId& id);

// A temporary file "<name>.zel~XXXXXX" in a folder, open for writing, removed when the object ends unless it was
// committed (renamed into place by its owner).
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // False with errno set when it cannot be made.
    bool Create(const std::string& folder, const std::string& name);
    int Fd() const { return m_Fd; }
    // The file as a stream for writing, made on first use; null with errno set.
    std::FILE* Stream();
    const std::string& Path() const { return m_Path; } // native
    // Closes the descriptor: 0 or an errno.
    int Close();
    // Renames it over the target (native) and keeps it: 0 or an errno.
    int CommitTo(const std::string& target, bool replace = true);

private:
    int m_Fd = -1;
    std::FILE* m_Stream = nullptr; // owns m_Fd once made
    std::string m_Path;
};

} // namespace files
