#pragma once

// What the engine does differently per system, written once per system (OsPosix.cpp, OsWindows.cpp). Internal to
// the engine.

#include <ctime>
#include <filesystem>
#include <string>

namespace zipengine::os {

// The local time of a moment, on any thread; false when the system cannot tell.
bool LocalTime(std::time_t time, std::tm& out);

// Where a folder's volume starts, as its user knows it: "C:\" on Windows, the mount point elsewhere. `full` is the
// folder's canonical path, `resolved` false when that could not be made.
std::string VolumeOf(const std::filesystem::path& full, bool resolved);

// A part of an entry's name (neither "." nor "..") as a plain name of its folder, where the system reads some names
// as something else. `stripped` is set when a part names nothing at all there and becomes empty.
void MakePlainName(std::string& part, bool& stripped);

} // namespace zipengine::os
