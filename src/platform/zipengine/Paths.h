#pragma once

// Paths as the engine hands them to the file system library, and the questions it asks of the files they name.
// Internal to the engine.

#include "platform/files/Entries.h"

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace zipengine::detail {

namespace fs = std::filesystem;

// Paths are UTF-8 text in the engine, as everywhere in the program. The file system library takes and gives them
// as such only through u8string: its plain strings are the ANSI code page on Windows. (The file services have the
// same pair, files::native::Path and Utf8, but keep it to themselves.)
fs::path PathOf(std::string_view utf8);
std::string Utf8(const fs::path& path);

// Finds each missing component as the file services find a name without regard to case (the exact name wins), so
// Windows-style names work on any OS.
fs::path ResolveNoCase(const fs::path& path);

// One file under any of its names: the identities the file services give.
bool SameFile(const files::FileId& a, const files::FileId& b);

// A path as the engine's messages show it, in whatever form it came: with the system's own separators (backslashes
// on Windows, where the file system library joins parts with them and the caller's names may hold either).
std::string Shown(const fs::path& path);

// The drive a folder is on, as its user knows it: "C:\" on Windows, the mount point elsewhere.
std::string DriveOf(const fs::path& folder);

// The whole second of the file's last change, as an archive keeps it.
std::time_t ChangedAt(const files::FileId& id);

} // namespace zipengine::detail
