#pragma once

// The operating system's part of the file services: the calls whose semantics differ between systems, each written
// once per system (OsPosix.cpp, OsWindows.cpp). Internal to the file services. Paths are std::filesystem paths made
// from UTF-8 (Native.h); results are 0 or an errno unless stated otherwise.

#include "platform/files/Entries.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace files::os {

namespace fs = std::filesystem;

// Renames; with `replace` an existing target is replaced in one step, without it an existing target is never
// touched (EEXIST).
int Rename(const fs::path& from, const fs::path& to, bool replace);
// Creates a new file under a temporary name of the name (TemporaryName) in the folder: its descriptor, or -1 with
// errno set.
int CreateTemporary(const fs::path& folder, const std::string& name, fs::path& created);
// A stream on an open descriptor, which then belongs to the stream; null with errno set.
std::FILE* StreamOf(int fd, const char* mode);
int OpenForReading(const fs::path& path); // a descriptor, or -1 with errno set
long Read(int fd, char* buffer, std::size_t size);
long Write(int fd, const char* data, std::size_t size);
int Close(int fd);
int Sync(int fd);
std::FILE* OpenFile(const fs::path& path, const char* mode); // "x" in the mode: a new file only
int FileNo(std::FILE* file);
bool Seek(std::FILE* file, std::uint64_t offset);
std::int64_t Seek(int fd, std::int64_t offset, int whence);

// False when no plain file is there; with `followLinks` a link stands for the file it leads to.
bool Identify(const fs::path& path, FileId& id, bool followLinks);
bool Identify(std::FILE* file, FileId& id);
bool HiddenOrSystem(const fs::path& path);
bool SameVolume(const fs::path& a, const fs::path& b);
int SyncFolder(const fs::path& folder);
int SyncFiles(const fs::path& folder);

std::string ToAnsi(const std::string& utf8);
std::string FromAnsi(const std::string& ansi);

} // namespace files::os
