#include "platform/zipengine/ArchiveWriter.h"

#include "platform/files/Io.h"

#include <cerrno>

namespace zipengine::detail {

ArchiveWriter::ArchiveWriter(int fd) : m_Fd(fd) {
    zip_error_init(&m_Error);
    m_Buffer.reserve(BufferSize);
}

ArchiveWriter::~ArchiveWriter() {
    zip_error_fini(&m_Error);
}

zip_int64_t ArchiveWriter::Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) noexcept {
    auto* writer = static_cast<ArchiveWriter*>(userdata);
    try {
        return writer->Command(data, len, cmd);
    } catch (...) { // the buffer could not grow: nothing may unwind through libzip
        zip_error_set(&writer->m_Error, ZIP_ER_MEMORY, 0);
        return -1;
    }
}

// A write failed: libzip is told, and the errno kept for the run's message.
zip_int64_t ArchiveWriter::Failed(int err) {
    m_Errno = err;
    zip_error_set(&m_Error, ZIP_ER_WRITE, err);
    return -1;
}

bool ArchiveWriter::Flush() {
    if (!m_Buffer.empty() && !files::WriteAll(m_Fd, m_Buffer.data(), m_Buffer.size()))
        return false;
    m_Buffer.clear();
    return true;
}

zip_int64_t ArchiveWriter::Command(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
    case ZIP_SOURCE_STAT:
        // There is no archive yet: libzip starts a new one.
        zip_error_set(&m_Error, ZIP_ER_READ, ENOENT);
        return -1;
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_FREE:
        return 0; // the temporary file is the caller's to keep or remove
    case ZIP_SOURCE_WRITE: {
        const char* bytes = static_cast<const char*>(data);
        if (m_Buffer.size() + len > BufferSize && !Flush())
            return Failed(errno);
        if (len >= BufferSize) {
            if (!files::WriteAll(m_Fd, bytes, len))
                return Failed(errno);
        } else {
            m_Buffer.insert(m_Buffer.end(), bytes, bytes + len);
        }
        m_Position += len;
        return static_cast<zip_int64_t>(len);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
        auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &m_Error);
        if (!args)
            return -1;
        if (!Flush())
            return Failed(errno);
        const std::int64_t at = files::Seek(m_Fd, args->offset, args->whence);
        if (at < 0)
            return Failed(errno);
        m_Position = static_cast<std::uint64_t>(at);
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(m_Position);
    case ZIP_SOURCE_COMMIT_WRITE:
        return Flush() ? 0 : Failed(errno);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&m_Error, data, len);
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    default:
        zip_error_set(&m_Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace zipengine::detail
