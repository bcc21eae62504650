#pragma once

// Writes an archive from a list of files: deflated in blocks on every core, written by libzip on a thread of its
// own, while the calling thread only shows progress and prints. Internal to the engine.

#include "platform/zipengine/Paths.h"
#include "platform/zipengine/Printer.h"
#include "platform/zipengine/Progress.h"

#include "platform/files/Entries.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zipengine::detail {

struct PackItem {
    std::string file; // native path
    std::string entry;
    std::time_t mtime = 0;
    bool readOnly = false; // the read-only attribute (on POSIX systems: no owner-write bit)
    files::FileId id;      // the file as it was listed; packing fails when it no longer is so
};

enum class PackStatus { Written, Cancelled, SourceFailed, CreateFailed, WriteFailed };

struct PackResult {
    PackStatus status = PackStatus::Written;
    std::string message; // what to print when the archive was not written
};

// Packs the items into the archive at a native path: written beside it under a temporary name and renamed into
// place when complete, so the archive is either the old one or the whole new one. level 0 stores, 1..9 deflate.
// The hook is called through `progress` from the calling thread only; "  adding:" lines go to `print` unless
// quiet. An exception thrown by the hook or the printer ends the run (no archive) and is rethrown.
PackResult Pack(const std::vector<PackItem>& items, const fs::path& archive, int level, bool quiet, Progress& progress,
                Printer& print);

// How many threads deflate at once (and, on the unzip side, extract).
unsigned PackThreads();

// For tests: called on a packing thread right after a block of a file was read, before the file is checked again,
// with the file's native path and the block's offset, so that a test can change a file in the middle of a block.
// Set it while nothing is being packed; an empty hook removes it.
using BlockReadHook = std::function<void(const std::string& file, std::uint64_t offset)>;
void SetBlockReadHook(BlockReadHook hook);

} // namespace zipengine::detail
