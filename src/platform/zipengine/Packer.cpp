#include "platform/zipengine/Packer.h"

#include "platform/zipengine/ArchiveWriter.h"
#include "platform/zipengine/Deflate.h"
#include "platform/zipengine/Os.h"
#include "platform/zipengine/ZipHandle.h"

#include "platform/error/ProgressHook.h"
#include "platform/files/Codes.h"
#include "platform/files/Io.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace zipengine::detail {

unsigned PackThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
}

namespace {

BlockReadHook g_BlockRead;

} // namespace

void SetBlockReadHook(BlockReadHook hook) {
    g_BlockRead = std::move(hook);
}

namespace {

enum class BlockProblem { None, Open, Read, Changed, Compress };

// The time as the MS-DOS date and time fields can hold it: local time from 1980 to 2107. Outside, the nearest end
// of that range, never the year wrapped round (libzip would store 2149 as 2021).
std::time_t DosRange(std::time_t time) {
    std::tm tm{};
    if (!os::LocalTime(time, tm) || (tm.tm_year >= 80 && tm.tm_year <= 207))
        return time;
    const bool early = tm.tm_year < 80;
    tm = {};
    tm.tm_year = early ? 80 : 207;
    tm.tm_mon = early ? 0 : 11;
    tm.tm_mday = early ? 1 : 31;
    tm.tm_hour = early ? 0 : 23;
    tm.tm_min = early ? 0 : 59;
    tm.tm_sec = early ? 0 : 58;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// What Info-ZIP's zip records for a plain file on Unix: its mode, rw-r--r-- (r--r--r-- when read-only), and the
// MS-DOS read-only attribute. (libzip's default, rw-rw-rw-, makes files that unzip leaves writable by everyone.)
zip_uint32_t FileAttributes(bool readOnly) {
    const zip_uint32_t mode = readOnly ? 0100444 : 0100644;
    return mode << 16 | (readOnly ? 0x01u : 0u);
}

// The extended-timestamp extra field (0x5455) with the last change only, in UTC: what survives where the MS-DOS
// fields cannot hold it (before 1980, after 2107, or in another time zone). Its 32 bits reach from 1970 to 2106;
// readers take them unsigned when the MS-DOS date is after 2038.
std::array<zip_uint8_t, 5> ExtendedTimestamp(std::time_t time) {
    const auto seconds = static_cast<std::uint32_t>(std::clamp<std::int64_t>(time, 0, 0xffffffff));
    return {1, static_cast<zip_uint8_t>(seconds), static_cast<zip_uint8_t>(seconds >> 8),
            static_cast<zip_uint8_t>(seconds >> 16), static_cast<zip_uint8_t>(seconds >> 24)};
}

// One block of a file, deflated by a worker and waiting for the writer.
struct Block {
    std::size_t item = 0;
    std::uint64_t length = 0; // input bytes
    bool last = false;
    std::uint32_t crc = 0;
    std::vector<unsigned char> data;
    BlockProblem problem = BlockProblem::None;
    int err = 0;
    bool ready = false;
};

struct Job {
    std::uint64_t seq = 0;
    std::size_t item = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool last = false;
};

class Pipeline {
public:
    Pipeline(const std::vector<PackItem>& items, const fs::path& archive, int level, bool quiet, unsigned workers)
        : m_Items(items), m_Archive(archive), m_Level(level), m_Quiet(quiet), m_Ring(3 * workers + 2) {}

    // ---- the calling thread ----

    // Waits until the writer ends or a progress interval passes; takes what is to be printed. True once ended.
    bool Wait(std::string& text) {
        std::unique_lock lock(m_Mutex);
        m_PumpCv.wait_for(lock, zel::ProgressInterval, [&] { return m_WriterDone; });
        text.swap(m_Text);
        m_Text.clear();
        return m_WriterDone;
    }

    std::uint64_t Done() const { return m_Done.load(std::memory_order_relaxed); }

    void Cancel() {
        m_Cancelled = true;
        Stop();
    }

    // Rethrows what failed inside a thread (out of memory, a thread that could not start).
    void RethrowInternal() {
        if (m_Internal)
            std::rethrow_exception(m_Internal);
    }

    PackResult Result() const {
        const std::string path = Shown(m_Archive);
        if (m_Written) // a cancel that came once the archive was in place is too late
            return {};
        if (!m_Failure.empty())
            return {PackStatus::SourceFailed, m_Failure};
        if (m_Cancelled)
            return {PackStatus::Cancelled, "zip: cancelled; " + path + " was not written.\n"};
        if (!m_Detail.empty())
            return {PackStatus::WriteFailed, m_Detail};
        if (m_WriteErrno && !m_Prepared)
            return {PackStatus::CreateFailed, "zip error: could not create " + path + ".\n"};
        if (m_WriteErrno)
            return {PackStatus::WriteFailed,
                    files::IsDiskFull(m_WriteErrno)
                        ? "zip error: there is not enough disk space to write " + path + ".\n"
                        : "zip error: could not write " + path + " (" + ErrnoText(m_WriteErrno) + ").\n"};
        return {};
    }

    // ---- any thread ----

    void Stop() {
        {
            std::lock_guard lock(m_Mutex);
            m_Stop = true;
        }
        m_WorkCv.notify_all();
        m_ReadyCv.notify_all();
    }

    void Abort(std::exception_ptr e) {
        {
            std::lock_guard lock(m_Mutex);
            if (!m_Internal)
                m_Internal = e;
        }
        Stop();
    }

    // ---- the workers ----

    void Work() noexcept {
        try {
            BlockDeflater deflater(m_Level);
            auto buffer = std::make_unique<unsigned char[]>(DeflateBlockSize);
            for (;;) {
                Job job;
                {
                    std::unique_lock lock(m_Mutex);
                    m_WorkCv.wait(lock, [&] {
                        return m_Stop || m_NextItem == m_Items.size() || m_Issued - m_Taken < m_Ring.size();
                    });
                    if (m_Stop || m_NextItem == m_Items.size())
                        return;
                    job = NextJob();
                }
                Block block = Produce(job, deflater, buffer.get());
                {
                    std::lock_guard lock(m_Mutex);
                    block.ready = true;
                    m_Ring[job.seq % m_Ring.size()] = std::move(block);
                }
                m_ReadyCv.notify_all();
            }
        } catch (...) {
            Abort(std::current_exception());
        }
    }

    // ---- the writer ----

    void Write() noexcept {
        int err = 0;
        try {
            err = files::ReplaceFile(Utf8(m_Archive), [&](int fd) { return WriteArchive(fd); });
        } catch (...) {
            Abort(std::current_exception());
        }
        {
            std::lock_guard lock(m_Mutex);
            m_WriteErrno = m_WriteErrno ? m_WriteErrno : err;
            m_Written = m_Prepared && err == 0 && !m_Internal;
            m_WriterDone = true;
        }
        Stop(); // workers still waiting for room have nothing more to do
        m_PumpCv.notify_all();
    }

    // The next block of the item, in order; false when the run stops (cancelled or failed).
    bool Take(std::size_t item, Block& out) {
        {
            std::unique_lock lock(m_Mutex);
            Block& slot = m_Ring[m_Taken % m_Ring.size()];
            m_ReadyCv.wait(lock, [&] { return m_Stop || slot.ready; });
            if (m_Stop)
                return false;
            out = std::move(slot);
            slot = Block{};
            ++m_Taken;
        }
        m_WorkCv.notify_all();
        if (out.item != item) {
            StopWith("zip error: internal error: the blocks of " + Shown(PathOf(m_Items[item].file)) +
                     " came out of order.\n");
            return false;
        }
        if (out.problem != BlockProblem::None) {
            StopWith(ProblemText(m_Items[item].file, out.problem, out.err));
            return false;
        }
        // The archive is a copy of one moment: once the last file is read, every file must still be as it was.
        if (out.last && item + 1 == m_Items.size()) {
            for (const PackItem& packed : m_Items) {
                if (files::FileId id; !files::Identify(packed.file, id, true) || id != packed.id) {
                    StopWith(ProblemText(packed.file, BlockProblem::Changed, 0));
                    return false;
                }
            }
        }
        m_Done.fetch_add(out.length, std::memory_order_relaxed);
        return true;
    }

    void Opened(const PackItem& item) {
        if (m_Quiet)
            return;
        std::lock_guard lock(m_Mutex);
        m_Text += "  adding: " + item.entry + "\n";
    }

    bool Stores() const { return m_Level == 0; }

private:
    Job NextJob() {
        const PackItem& item = m_Items[m_NextItem];
        Job job;
        job.seq = m_Issued++;
        job.item = m_NextItem;
        job.offset = m_NextOffset;
        job.length = std::min<std::uint64_t>(DeflateBlockSize, item.id.size - m_NextOffset);
        job.last = m_NextOffset + job.length == item.id.size;
        if (job.last) {
            ++m_NextItem;
            m_NextOffset = 0;
        } else {
            m_NextOffset += job.length;
        }
        return job;
    }

    // Reads and deflates one block. The file must stay as it was listed from its opening to the end of the read,
    // and the name must still lead to it: anything else means a program is writing it.
    Block Produce(const Job& job, BlockDeflater& deflater, unsigned char* buffer) {
        const PackItem& item = m_Items[job.item];
        Block block;
        block.item = job.item;
        block.length = job.length;
        block.last = job.last;
        const auto failed = [&](BlockProblem problem, int err) {
            block.problem = problem;
            block.err = err;
            return std::move(block);
        };
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(files::OpenFile(item.file, "rb"), &std::fclose);
        if (!file)
            return failed(BlockProblem::Open, errno);
        std::setvbuf(file.get(), nullptr, _IONBF, 0); // blocks are read whole, straight into the buffer
        files::FileId id;
        errno = 0;
        if (!files::Identify(file.get(), id))
            return failed(errno ? BlockProblem::Read : BlockProblem::Changed, errno);
        if (id != item.id)
            return failed(BlockProblem::Changed, 0);
        if (!files::Seek(file.get(), job.offset))
            return failed(BlockProblem::Read, errno);
        for (std::size_t got = 0; got < job.length;) {
            got += std::fread(buffer + got, 1, job.length - got, file.get());
            if (got == job.length)
                break;
            if (!std::ferror(file.get()))
                return failed(BlockProblem::Changed, 0); // it ended early
            if (errno != EINTR)
                return failed(BlockProblem::Read, errno);
            std::clearerr(file.get());
        }
        if (g_BlockRead)
            g_BlockRead(item.file, job.offset);
        if (!files::Identify(item.file, id, true) || id != item.id)
            return failed(BlockProblem::Changed, 0);
        block.crc = Crc32(0, buffer, job.length);
        if (!deflater.Deflate(buffer, job.length, job.last, block.data))
            return failed(BlockProblem::Compress, ENOMEM);
        return block;
    }

    static std::string ProblemText(const std::string& file, BlockProblem problem, int err) {
        const std::string path = Shown(PathOf(file));
        switch (problem) {
        case BlockProblem::Open:
            return "zip error: could not open " + path + " for reading (" + ErrnoText(err) +
                   "). Close the program that uses it and try again.\n";
        case BlockProblem::Read:
            return "zip error: could not read " + path + " (" + ErrnoText(err) + ").\n";
        case BlockProblem::Changed:
            return "zip error: " + path +
                   " changed while it was being packed; close the program that uses it and send again.\n";
        case BlockProblem::Compress:
        case BlockProblem::None:
            break;
        }
        return "zip error: could not compress " + path + " (out of memory).\n";
    }

    // Stops the run for a problem of a source; the first one met is the one reported.
    void StopWith(std::string text) {
        {
            std::lock_guard lock(m_Mutex);
            if (m_Failure.empty())
                m_Failure = std::move(text);
        }
        Stop();
    }

    bool WriteArchive(int fd);

    const std::vector<PackItem>& m_Items;
    const fs::path m_Archive;
    const int m_Level;
    const bool m_Quiet;

    std::mutex m_Mutex;
    std::condition_variable m_WorkCv;  // a job may be taken, or the run stops
    std::condition_variable m_ReadyCv; // a block is ready, or the run stops
    std::condition_variable m_PumpCv;  // the writer ended
    bool m_Stop = false;
    std::atomic<bool> m_Cancelled = false;
    std::size_t m_NextItem = 0;
    std::uint64_t m_NextOffset = 0;
    std::uint64_t m_Issued = 0;
    std::uint64_t m_Taken = 0;
    std::vector<Block> m_Ring; // issued, not yet taken blocks, by sequence number
    std::atomic<std::uint64_t> m_Done = 0;
    std::string m_Text;
    bool m_WriterDone = false;
    bool m_Prepared = false; // the temporary file exists and libzip runs on it
    bool m_Written = false;  // the archive is in place
    std::string m_Failure;   // a source's problem, the first one met
    std::string m_Detail;    // a problem of libzip's own
    int m_WriteErrno = 0;
    std::exception_ptr m_Internal;
};

// The data of one entry, already deflated: libzip copies it as it is, since the stat names the method.
struct EntrySource {
    Pipeline& pipe;
    std::size_t index;
    const PackItem& item;
    Block block;
    std::size_t pos = 0;
    bool finished = false;
    std::uint32_t crc = 0;
    zip_error_t error{};
};

zip_int64_t EntryCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) noexcept {
    auto* s = static_cast<EntrySource*>(userdata);
    try {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            s->pos = 0;
            s->block = Block{};
            s->finished = false;
            s->crc = 0;
            s->pipe.Opened(s->item);
            return 0;
        case ZIP_SOURCE_READ: {
            while (s->pos == s->block.data.size()) {
                if (s->finished)
                    return 0;
                if (!s->pipe.Take(s->index, s->block)) {
                    zip_error_set(&s->error, ZIP_ER_CANCELLED, 0);
                    return -1;
                }
                s->pos = 0;
                s->crc = Crc32Combine(s->crc, s->block.crc, s->block.length);
                s->finished = s->block.last;
            }
            const std::size_t n = std::min<std::size_t>(len, s->block.data.size() - s->pos);
            std::memcpy(data, s->block.data.data() + s->pos, n);
            s->pos += n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
            s->block = Block{};
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &s->error);
            if (!st)
                return -1;
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
            st->size = s->item.id.size;
            st->mtime = DosRange(s->item.mtime);
            st->comp_method = s->pipe.Stores() ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
            if (s->finished) {
                st->valid |= ZIP_STAT_CRC;
                st->crc = s->crc;
            }
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&s->error, data, len);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&s->error);
            delete s;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    } catch (...) {
        // Nothing may unwind through libzip: the run stops and the exception is rethrown on the calling thread.
        s->pipe.Abort(std::current_exception());
        zip_error_set(&s->error, ZIP_ER_INTERNAL, 0);
        return -1;
    }
}

bool Pipeline::WriteArchive(int fd) {
    ArchiveWriter sink(fd);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* out = zip_source_function_create(&ArchiveWriter::Callback, &sink, &error);
    zip_t* za = out ? zip_open_from_source(out, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
    if (!za) {
        m_Detail = "zip error: could not create " + Shown(m_Archive) + " (" + zip_error_strerror(&error) + ").\n";
        zip_error_fini(&error);
        if (out)
            zip_source_free(out);
        errno = EIO;
        return false;
    }
    zip_error_fini(&error);
    ZipPtr archive(za);
    m_Prepared = true;
    for (std::size_t i = 0; i < m_Items.size(); ++i) {
        auto* ctx = new EntrySource{*this, i, m_Items[i], {}, 0, false, 0, {}};
        zip_error_init(&ctx->error);
        zip_source_t* src = zip_source_function(za, EntryCallback, ctx);
        if (!src) {
            zip_error_fini(&ctx->error);
            delete ctx;
            m_Detail = "zip error: out of memory.\n";
            errno = ENOMEM;
            return false;
        }
        const zip_int64_t idx = zip_file_add(za, m_Items[i].entry.c_str(), src, ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(src);
            m_Detail = "zip error: could not add " + m_Items[i].entry + " (" + zip_strerror(za) + ").\n";
            errno = EINVAL;
            return false;
        }
        const auto index = static_cast<zip_uint64_t>(idx);
        const auto timestamp = ExtendedTimestamp(m_Items[i].mtime);
        if ((m_Level == 0 && zip_set_file_compression(za, index, ZIP_CM_STORE, 0) != 0) ||
            zip_file_set_mtime(za, index, DosRange(m_Items[i].mtime), 0) != 0 ||
            zip_file_set_external_attributes(za, index, 0, ZIP_OPSYS_UNIX, FileAttributes(m_Items[i].readOnly)) != 0 ||
            zip_file_extra_field_set(za, index, 0x5455, ZIP_EXTRA_FIELD_NEW, timestamp.data(),
                                     static_cast<zip_uint16_t>(timestamp.size()), ZIP_FL_LOCAL | ZIP_FL_CENTRAL) != 0) {
            m_Detail = "zip error: could not add " + m_Items[i].entry + " (" + zip_strerror(za) + ").\n";
            errno = EINVAL;
            return false;
        }
    }
    if (zip_close(za) != 0) {
        zip_error_t* e = zip_get_error(za);
        // A stopped run has its own reason, which the result puts first.
        if (sink.Errno())
            m_WriteErrno = sink.Errno();
        else
            m_Detail = "zip error: could not write " + Shown(m_Archive) + " (" + zip_error_strerror(e) + ").\n";
        errno = sink.Errno() ? sink.Errno() : EIO;
        return false;
    }
    archive.release(); // zip_close freed it
    if (m_Cancelled) {
        errno = ECANCELED;
        return false;
    }
    return true;
}

} // namespace

PackResult Pack(const std::vector<PackItem>& items, const fs::path& archive, int level, bool quiet, Progress& progress,
                Printer& print) {
    const unsigned workers = PackThreads();
    Pipeline pipe(items, archive, level, quiet, workers);
    std::vector<std::thread> threads;
    // Whatever happens here, every thread is stopped and joined before the pipeline goes away.
    struct Joiner {
        Pipeline& pipe;
        std::vector<std::thread>& threads;
        bool finished = false;
        ~Joiner() {
            if (!finished)
                pipe.Cancel();
            for (auto& t : threads)
                if (t.joinable())
                    t.join();
        }
    } joiner{pipe, threads};
    threads.emplace_back([&pipe] { pipe.Write(); });
    for (unsigned i = 0; i < workers; ++i)
        threads.emplace_back([&pipe] { pipe.Work(); });

    std::exception_ptr callerError;
    for (bool ended = false; !ended;) {
        std::string text;
        ended = pipe.Wait(text);
        if (callerError)
            continue;
        try {
            if (!text.empty())
                print(text);
            if (!ended && !progress.Report(pipe.Done()))
                pipe.Cancel();
        } catch (...) {
            callerError = std::current_exception();
            pipe.Cancel();
        }
    }
    joiner.finished = true;
    for (auto& t : threads)
        t.join();
    if (callerError)
        std::rethrow_exception(callerError);
    pipe.RethrowInternal();
    return pipe.Result();
}

} // namespace zipengine::detail
