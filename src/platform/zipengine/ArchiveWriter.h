#pragma once

// Where libzip writes the archive: the descriptor of the temporary file that becomes it. Internal to the engine.

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zipengine::detail {

// The archive's bytes, written through a buffer to the descriptor, as a libzip source that takes writes only.
class ArchiveWriter {
public:
    explicit ArchiveWriter(int fd);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // The errno of the write that failed; 0 when none did.
    int Errno() const { return m_Errno; }

    // libzip's source callback, with the writer as its user data.
    static zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) noexcept;

private:
    static constexpr std::size_t BufferSize = std::size_t(256) * 1024;

    zip_int64_t Failed(int err);
    bool Flush();
    zip_int64_t Command(void* data, zip_uint64_t len, zip_source_cmd_t cmd);

    int m_Fd;
    std::vector<char> m_Buffer;
    std::uint64_t m_Position = 0;
    int m_Errno = 0;
    zip_error_t m_Error;
};

} // namespace zipengine::detail
