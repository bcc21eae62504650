#include "platform/zipengine/Unpacker.h"

#include "platform/zipengine/Deflate.h"
#include "platform/zipengine/Printer.h"

#include "platform/files/Codes.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>

namespace zipengine::detail {

namespace {

// An entry is read in pieces of this size.
constexpr std::size_t ChunkSize = std::size_t(64) * 1024;

// Entries up to this size are inflated in one piece by libdeflate, which is faster than zlib's stream.
constexpr std::uint64_t WholeEntryLimit = 8u << 20;

struct ZipFileCloser {
    std::mutex* lock;
    void operator()(zip_file_t* zf) const {
        std::lock_guard guard(*lock);
        zip_fclose(zf);
    }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

// Reads from an entry, holding the archive's lock; the error text is taken under it too.
zip_int64_t ReadLocked(std::mutex& lock, zip_file_t* zf, void* buf, std::size_t size, std::string& detail) {
    std::lock_guard guard(lock);
    const zip_int64_t n = zip_fread(zf, buf, size);
    if (n < 0)
        detail = zip_file_strerror(zf);
    return n;
}

// The entry's data in pieces: bytes written to `buf` (0 at the end), or -1 with `detail` set.
class EntryData {
public:
    virtual ~EntryData() = default;
    virtual zip_int64_t Read(unsigned char* buf, std::size_t size, std::string& detail) = 0;
};

// What libzip hands out: stored data, or data it decrypts and decompresses itself.
class LibzipData : public EntryData {
public:
    LibzipData(std::mutex& lock, zip_file_t* zf) : m_Lock(lock), m_File(zf) {}
    zip_int64_t Read(unsigned char* buf, std::size_t size, std::string& detail) override {
        return ReadLocked(m_Lock, m_File, buf, size, detail);
    }

private:
    std::mutex& m_Lock;
    zip_file_t* m_File;
};

// Raw deflate data inflated with zlib, a piece at a time.
class StreamInflate : public EntryData {
public:
    StreamInflate(std::mutex& lock, zip_file_t* zf) : m_Lock(lock), m_File(zf), m_In(ChunkSize) {
        if (inflateInit2(&m_Z, -15) != Z_OK)
            throw std::bad_alloc();
    }
    ~StreamInflate() override { inflateEnd(&m_Z); }
    zip_int64_t Read(unsigned char* buf, std::size_t size, std::string& detail) override {
        if (m_End)
            return 0;
        m_Z.next_out = buf;
        m_Z.avail_out = static_cast<uInt>(size);
        while (m_Z.avail_out == size) {
            if (m_Z.avail_in == 0 && !m_InEnd) {
                const zip_int64_t n = ReadLocked(m_Lock, m_File, m_In.data(), m_In.size(), detail);
                if (n < 0)
                    return -1;
                m_InEnd = n == 0;
                m_Z.next_in = m_In.data();
                m_Z.avail_in = static_cast<uInt>(n);
            }
            const int rc = inflate(&m_Z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                m_End = true;
                break;
            }
            if (rc != Z_OK && !(rc == Z_BUF_ERROR && !m_InEnd)) {
                detail = m_InEnd ? "the compressed data ends too early" : "invalid compressed data";
                return -1;
            }
        }
        return static_cast<zip_int64_t>(size - m_Z.avail_out);
    }

private:
    std::mutex& m_Lock;
    zip_file_t* m_File;
    std::vector<unsigned char> m_In;
    z_stream m_Z{};
    bool m_InEnd = false;
    bool m_End = false;
};

// Raw deflate data of a small entry inflated in one piece with libdeflate, then handed out.
class WholeInflate : public EntryData {
public:
    WholeInflate(std::mutex& lock, zip_file_t* zf, const zip_stat_t& st) : m_Lock(lock), m_File(zf), m_Stat(st) {}
    zip_int64_t Read(unsigned char* buf, std::size_t size, std::string& detail) override {
        if (!m_Inflated) {
            m_Inflated = true;
            if (!Inflate(detail))
                return -1;
        }
        const std::size_t n = std::min(size, m_Out.size() - m_Pos);
        std::copy_n(m_Out.data() + m_Pos, n, buf);
        m_Pos += n;
        return static_cast<zip_int64_t>(n);
    }

private:
    bool Inflate(std::string& detail) {
        std::vector<unsigned char> in(static_cast<std::size_t>(m_Stat.comp_size));
        for (std::size_t got = 0; got < in.size();) {
            const zip_int64_t n = ReadLocked(m_Lock, m_File, in.data() + got, in.size() - got, detail);
            if (n <= 0) {
                if (n == 0)
                    detail = "the compressed data ends too early";
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        // One byte more than recorded, so that longer data shows.
        m_Out.resize(static_cast<std::size_t>(m_Stat.size) + 1);
        std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(libdeflate_alloc_decompressor(),
                                                                                       &libdeflate_free_decompressor);
        if (!d)
            throw std::bad_alloc();
        std::size_t used = 0, produced = 0;
        switch (libdeflate_deflate_decompress_ex(d.get(), in.data(), in.size(), m_Out.data(), m_Out.size(), &used,
                                                 &produced)) {
        case LIBDEFLATE_SUCCESS:
            m_Out.resize(produced);
            return true;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            detail = "more data than recorded";
            return false;
        default:
            detail = "invalid compressed data";
            return false;
        }
    }

    std::mutex& m_Lock;
    zip_file_t* m_File;
    const zip_stat_t& m_Stat;
    std::vector<unsigned char> m_Out;
    std::size_t m_Pos = 0;
    bool m_Inflated = false;
};

} // namespace

// ---- one entry ----

ExtractResult Failed(ExtractStatus status, std::string detail) {
    ExtractResult result;
    result.status = status;
    result.detail = std::move(detail);
    return result;
}

ExtractResult Failed(int err) {
    return Failed(files::IsDiskFull(err) ? ExtractStatus::DiskFull : ExtractStatus::WriteError, ErrnoText(err));
}

ExtractResult ExtractEntry(SharedArchive& archive, zip_uint64_t index, const zip_stat_t& st, const char* password,
                           const fs::path* target, const Tick& tick) {
    ExtractResult out;
    const bool encrypted = st.encryption_method != ZIP_EM_NONE;
    const auto known = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    // Deflated data is inflated here rather than by libzip, which would also compute a CRC of its own.
    const bool raw = !encrypted && (st.valid & known) == known && st.comp_method == ZIP_CM_DEFLATE;
    ZipFilePtr zf(nullptr, {&archive.lock});
    {
        std::lock_guard guard(archive.lock);
        zip_t* za = archive.za;
        zf.reset(encrypted ? zip_fopen_index_encrypted(za, index, 0, password ? password : "")
                           : zip_fopen_index(za, index, raw ? ZIP_FL_COMPRESSED : 0));
        if (!zf) {
            const int ze = zip_error_code_zip(zip_get_error(za));
            std::string detail = zip_strerror(za);
            zip_error_clear(za);
            if (ze == ZIP_ER_WRONGPASSWD || ze == ZIP_ER_NOPASSWD)
                return Failed(ExtractStatus::BadPassword, detail);
            if (ze == ZIP_ER_ENCRNOTSUPP || ze == ZIP_ER_COMPNOTSUPP)
                return Failed(ExtractStatus::Unsupported, detail);
            return Failed(ExtractStatus::Damaged, detail);
        }
    }
    std::unique_ptr<EntryData> data;
    if (!raw)
        data = std::make_unique<LibzipData>(archive.lock, zf.get());
    else if (st.size <= WholeEntryLimit && st.comp_size <= WholeEntryLimit)
        data = std::make_unique<WholeInflate>(archive.lock, zf.get(), st);
    else
        data = std::make_unique<StreamInflate>(archive.lock, zf.get());

    std::FILE* file = nullptr;
    if (target) {
        out.temp = std::make_unique<files::TempFile>();
        if (!out.temp->Create(Utf8(target->parent_path()), Utf8(target->filename())) || !(file = out.temp->Stream()))
            return Failed(errno);
    }
    const ExtractStatus damaged = encrypted ? ExtractStatus::BadPassword : ExtractStatus::Damaged;
    std::vector<unsigned char> buf(ChunkSize);
    std::uint32_t crc = 0;
    std::uint64_t total = 0;
    for (;;) {
        std::string detail;
        const zip_int64_t n = data->Read(buf.data(), buf.size(), detail);
        if (n < 0)
            return Failed(damaged, detail);
        if (n == 0)
            break;
        total += static_cast<std::uint64_t>(n);
        if ((st.valid & ZIP_STAT_SIZE) && total > st.size)
            return Failed(damaged, "more data than recorded");
        crc = Crc32(crc, buf.data(), static_cast<std::size_t>(n));
        if (file && std::fwrite(buf.data(), 1, static_cast<std::size_t>(n), file) != static_cast<std::size_t>(n))
            return Failed(errno);
        if (!tick(static_cast<std::uint64_t>(n)))
            return Failed(ExtractStatus::Cancelled, {});
    }
    // A wrong password can pass the first check and produce garbage: trust nothing before the CRC.
    if (((st.valid & ZIP_STAT_SIZE) && total != st.size) || ((st.valid & ZIP_STAT_CRC) && crc != st.crc))
        return Failed(damaged, "CRC error");
    if (!out.temp)
        return out;
    if (int e = out.temp->Close())
        return Failed(e);
    std::error_code ec;
    // The temporary file is the owner's alone until it is complete; the file it becomes gets the usual permissions,
    // as files::ReplaceFile gives a new file.
    fs::permissions(PathOf(out.temp->Path()),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                    ec);
    if (st.valid & ZIP_STAT_MTIME) {
        fs::last_write_time(PathOf(out.temp->Path()),
                            std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(st.mtime)), ec);
    }
    return out;
}

// ---- the pool ----

ExtractPool::ExtractPool(SharedArchive& archive, unsigned workers) : m_Archive(archive), m_Workers(workers) {}

ExtractPool::~ExtractPool() {
    Stop();
}

void ExtractPool::Submit(zip_uint64_t index, const zip_stat_t& st, std::optional<fs::path> target) {
    {
        std::lock_guard lock(m_Mutex);
        m_Jobs.push_back(Job{index, st, std::move(target), false, false, {}});
    }
    if (m_Threads.size() < m_Workers && m_Threads.size() < m_Jobs.size())
        m_Threads.emplace_back([this] { Work(); });
    m_WorkCv.notify_one();
}

std::optional<ExtractResult> ExtractPool::TakeOldest(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_Mutex);
    if (m_Jobs.empty())
        return std::nullopt;
    Job& job = m_Jobs.front();
    if (!m_ReadyCv.wait_for(lock, wait, [&] { return job.ready; }))
        return std::nullopt;
    ExtractResult result = std::move(job.result);
    m_Jobs.pop_front();
    return result;
}

void ExtractPool::Stop() {
    m_Stopping = true;
    {
        std::lock_guard lock(m_Mutex);
        m_Stop = true;
    }
    m_WorkCv.notify_all();
    for (auto& t : m_Threads)
        if (t.joinable())
            t.join();
    m_Threads.clear();
    m_Jobs.clear(); // removes the temporary files of results not taken
}

void ExtractPool::Work() noexcept {
    const Tick tick = [this](std::uint64_t n) {
        m_Done.fetch_add(n, std::memory_order_relaxed);
        return !m_Stopping.load(std::memory_order_relaxed);
    };
    for (;;) {
        Job* job = nullptr;
        {
            std::unique_lock lock(m_Mutex);
            auto next = [&] {
                auto it = std::find_if(m_Jobs.begin(), m_Jobs.end(), [](const Job& j) { return !j.started; });
                return it == m_Jobs.end() ? nullptr : &*it;
            };
            m_WorkCv.wait(lock, [&] { return m_Stop || next(); });
            if (m_Stop)
                break;
            job = next();
            job->started = true;
        }
        ExtractResult result;
        try {
            result = ExtractEntry(m_Archive, job->index, job->st, nullptr, job->target ? &*job->target : nullptr, tick);
        } catch (const std::exception& e) {
            result = Failed(ExtractStatus::WriteError, e.what());
        } catch (...) {
            result = Failed(ExtractStatus::WriteError, "unknown error");
        }
        {
            std::lock_guard lock(m_Mutex);
            job->result = std::move(result);
            job->ready = true;
        }
        m_ReadyCv.notify_all();
    }
}

} // namespace zipengine::detail
