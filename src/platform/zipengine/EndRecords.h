#pragma once

// What the archive's end records and central directory say, read straight from the file: before libzip opens the
// archive, and where libzip does not say. Internal to the engine.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace zipengine::detail {

// How many entries the end records declare, read before libzip opens the archive (which takes time and memory for
// each entry); nothing when they cannot be read, and then libzip says what is wrong.
std::optional<std::uint64_t> DeclaredEntries(const std::filesystem::path& archive);

// libzip refuses an archive in which two entries share a name without saying which; the central directory
// does. Empty when it cannot be told.
std::string DuplicateEntryName(const std::filesystem::path& archive);

} // namespace zipengine::detail
