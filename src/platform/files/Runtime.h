#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The runtime's file calls, as the classes above use them. Paths are Windows-style ("\" separates folders on every
// system, "/" works too), in UTF-8; the last component is found without regard to case (the exact name wins), and
// may hold the wildcards "*" and "?" where a pattern is taken. Failures raise zel::Error with the runtime's numbers
// and texts (53 "File not found", 70 "Permission denied", 75 "Path/File access error", 76 "Path not found").
namespace files {

// An environment variable; unset gives empty text.
std::string Environ(const std::string& name);
// The native path of the existing entry the path names; the plain native path when nothing matches.
std::string ResolvePath(const std::string& path);
// Names (without folder) of the plain files matching the pattern, sorted; sub-folders never match. A missing
// folder gives an empty list.
std::vector<std::string> Dir(const std::string& pattern);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::uint64_t FileLen(const std::string& path); // 53 when missing
// The file carries the read-only attribute (on POSIX systems: its owner-write bit is cleared).
bool ReadOnly(const std::string& path);
// The entry carries the hidden or the system attribute (on POSIX systems: its name starts with a dot).
bool HiddenOrSystem(const std::string& path);
// Deletes every plain file matching the pattern (a single name is a pattern too). 53 when nothing matches; a file
// that cannot be deleted raises 70 or 75 and leaves the files not yet reached.
void Kill(const std::string& pattern);

} // namespace files
