#pragma once

// Reading entries out of an archive: one entry checked and written to a temporary file, and a pool of threads
// that does so for several entries at once. The caller renames the results into place, in entry order.
// Internal to the engine.

#include "platform/zipengine/Paths.h"

#include "platform/files/Io.h"

#include <zip.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zipengine::detail {

enum class ExtractStatus { Ok, BadPassword, Damaged, NoPassword, Unsupported, WriteError, DiskFull, Cancelled };

// One handle on the archive for every thread: each libzip call on it, or on an entry opened from it, holds the
// lock (libzip's handles share their file position and error state).
struct SharedArchive {
    zip_t* za;
    std::mutex lock;
};

struct ExtractResult {
    ExtractStatus status = ExtractStatus::Ok;
    std::string detail;
    std::unique_ptr<files::TempFile> temp; // the whole entry, checked and closed, with its time set
};

// An entry that could not be extracted, and why: what reading an entry returns when it fails.
ExtractResult Failed(ExtractStatus status, std::string detail);
// The same for a write that failed with the errno `err`: a full disk, or a write error.
ExtractResult Failed(int err);

// Called with the bytes written since the last call; false stops the entry (Cancelled).
using Tick = std::function<bool(std::uint64_t)>;

// Reads one entry and checks its size and CRC; with a target, writes it to a temporary file beside the target.
ExtractResult ExtractEntry(SharedArchive& archive, zip_uint64_t index, const zip_stat_t& st, const char* password,
                           const fs::path* target, const Tick& tick);

// Extracts entries that need no password on worker threads.
class ExtractPool {
public:
    ExtractPool(SharedArchive& archive, unsigned workers);
    ~ExtractPool(); // stops the workers; results not taken are removed
    ExtractPool(const ExtractPool&) = delete;
    ExtractPool& operator=(const ExtractPool&) = delete;

    void Submit(zip_uint64_t index, const zip_stat_t& st, std::optional<fs::path> target);
    // The result of the oldest entry submitted and not yet taken, once it is ready; waits up to `wait`.
    std::optional<ExtractResult> TakeOldest(std::chrono::milliseconds wait);
    // Bytes written by the workers so far.
    std::uint64_t Done() const { return m_Done.load(std::memory_order_relaxed); }
    // Workers finish at once; what they had not finished is removed.
    void Stop();

private:
    struct Job {
        zip_uint64_t index;
        zip_stat_t st;
        std::optional<fs::path> target;
        bool started = false;
        bool ready = false;
        ExtractResult result;
    };
    void Work() noexcept;

    SharedArchive& m_Archive;
    const unsigned m_Workers;
    std::vector<std::thread> m_Threads;
    std::mutex m_Mutex;
    std::condition_variable m_WorkCv;
    std::condition_variable m_ReadyCv;
    std::deque<Job> m_Jobs; // submitted and not yet taken, oldest first
    bool m_Stop = false;
    std::atomic<bool> m_Stopping = false;
    std::atomic<std::uint64_t> m_Done = 0;
};

} // namespace zipengine::detail
