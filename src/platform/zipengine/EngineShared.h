#pragma once

// Shared by the zip and the unzip side of the engine: its state, the print and progress helpers and the path
// rules. Internal to the engine.
#include "platform/zipengine/ZipEngine.h"

#include "platform/error/Error.h"
#include "platform/error/ProgressHook.h"
#include "platform/files/Files.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zipengine::detail {

namespace fs = std::filesystem;

// Result codes, after the Info-ZIP tools' exit codes.
inline constexpr std::int32_t ZE_OK = 0;
inline constexpr std::int32_t ZE_ABORT = 9;
inline constexpr std::int32_t ZE_NONE = 12;
inline constexpr std::int32_t ZE_WRITE = 14;
inline constexpr std::int32_t ZE_CREAT = 15;
inline constexpr std::int32_t ZE_PARMS = 16;
inline constexpr std::int32_t ZE_OPEN = 18;
inline constexpr std::int32_t PK_WARN = 1;
inline constexpr std::int32_t PK_ERR = 2;
inline constexpr std::int32_t PK_NOZIP = 9;
inline constexpr std::int32_t PK_PARAM = 10;
inline constexpr std::int32_t PK_DISK = 50;
inline constexpr std::int32_t IZ_CTRLC = 80;
inline constexpr std::int32_t IZ_BADPWD = 82;

inline constexpr std::size_t ZipPrintBufferSize = 4097;
inline constexpr std::size_t UnzipPrintBufferSize = 32801;
inline constexpr std::int32_t PasswordBufferSize = 81;
inline constexpr std::size_t ChunkSize = 64 * 1024;

struct State {
    ZIPUSERFUNCTIONS zipFunctions;
    ZPOPT options;
    std::optional<std::string> rootDir;
    zel::ProgressHook hook;
    FileFilter filter;
};

inline State& S() {
    static State s;
    return s;
}

// Sends text through the print callback in pieces that fit its buffer.
class Printer {
public:
    Printer(DLLPRNT fn, std::size_t bufferSize) : m_Fn(fn), m_Buffer(bufferSize) {}
    void operator()(const std::string& text) {
        if (!m_Fn)
            return;
        for (std::size_t pos = 0; pos < text.size();) {
            std::size_t n = std::min(text.size() - pos, m_Buffer.size() - 1);
            std::memcpy(m_Buffer.data(), text.data() + pos, n);
            m_Buffer[n] = '\0';
            m_Fn(m_Buffer.data(), static_cast<std::uint32_t>(n));
            pos += n;
        }
    }

private:
    DLLPRNT m_Fn;
    std::vector<char> m_Buffer;
};

// The hook's calls, at least every progress interval (zel::ProgressInterval) of work from the start on, with bytes done
// that only grow.
class Progress {
public:
    explicit Progress(zel::ProgressHook hook, std::uint64_t total = 0)
        : m_Hook(std::move(hook)), m_Total(total), m_Due(zel::ProgressInterval) {
        m_Due.Due(); // the first call is one interval away
    }
    void SetTotal(std::uint64_t total) { m_Total = total; }
    // Adds bytes done; false once the caller asked to cancel.
    bool Tick(std::uint64_t bytes) { return Update(m_Done + bytes); }
    // Sets the bytes done, calling the hook when a progress interval has passed since its last call.
    bool Update(std::uint64_t done) {
        m_Done = done;
        if (m_Hook && !m_Cancelled && m_Due.Due())
            Call();
        return !m_Cancelled;
    }
    // Calls the hook if it is time, with the bytes done as they are.
    bool Poll() { return Update(m_Done); }
    // Reports how far the work is, calling the hook whatever the time since the last call: for a caller that
    // paces its own calls. False once the caller asked to cancel.
    bool Report(std::uint64_t done) {
        m_Done = done;
        if (m_Hook && !m_Cancelled) {
            m_Due.Reset();
            m_Due.Due();
            Call();
        }
        return !m_Cancelled;
    }
    bool Cancelled() const { return m_Cancelled; }

private:
    void Call() {
        if (!m_Hook(m_Done, m_Total))
            m_Cancelled = true;
    }

    zel::ProgressHook m_Hook;
    std::uint64_t m_Total;
    std::uint64_t m_Done = 0;
    zel::Throttle m_Due;
    bool m_Cancelled = false;
};

// ---- paths ----

// Paths are UTF-8 text in the engine, as everywhere in the program. The file system library takes and gives them
// as such only through u8string: its plain strings are the ANSI code page on Windows.
inline fs::path PathOf(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Finds each missing component as the file services find a name without regard to case (the exact name wins), so
// Windows-style names work on any OS.
inline fs::path ResolveNoCase(const fs::path& p) {
    if (files::ExistsPath(Utf8(p)))
        return p;
    fs::path out = p.root_path();
    for (const fs::path& part : p.relative_path()) {
        const std::string found = files::ResolvePath(Utf8(out / part));
        out /= PathOf(found.substr(found.rfind('/') + 1));
    }
    return out;
}

// One file under any of its names: the identities the file services give.
inline bool SameFile(const files::FileId& a, const files::FileId& b) {
    return a.device == b.device && a.inode == b.inode;
}

// The whole second of the file's last change, as an archive keeps it.
inline std::time_t ChangedAt(const files::FileId& id) {
    constexpr std::int64_t second = 1000000000;
    return static_cast<std::time_t>(id.mtimeNs / second - (id.mtimeNs % second < 0 ? 1 : 0));
}

inline std::string SysText(int err) {
    return err ? std::string(std::strerror(err)) : std::string("unknown error");
}

struct ZipCloser {
    void operator()(zip_t* za) const { zip_discard(za); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

// The zip side: builds the archive the call names from the options last set.
std::int32_t Archive(const ZCL& C);

} // namespace zipengine::detail
