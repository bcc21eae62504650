// The zip engine against Info-ZIP "zip -6" and "unzip" on the same seeded data, interleaved runs, medians.
//
//   zip_bench [set...]     sets: 256M 1G 2G 5000 20000 (default: 256M 1G 5000)
//
// Environment: ZEL_BENCH_RUNS (default 3), ZEL_BENCH_DIR (default the system's temporary folder).
// Each engine run is a process of its own (this program, re-executed), so its peak memory is its own.

#include "platform/zipengine/ZipEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// ---- data: database-like pages ----

constexpr std::size_t PageSize = 4096;

const char* const Names[] = {"ACME LTD",       "Nordic Timber Oy",  "Helsinki Bakery",  "Oslo Fisk AS",
                             "Kalle Virtanen", "Matti Meikalainen", "Sven Svensson AB", "Baltic Shipping",
                             "Tampere Steel",  "Espoo Dental",      "Vaasa Motors",     "Turku Books",
                             "Lahti Sports",   "Pori Jazz Ry",      "Kuopio Farm",      "Oulu Tech Oy"};
const char* const Words[] = {
    "invoice",  "paid",     "open",  "reminder", "credit note", "EUR",  "SEK",           "NOK",
    "discount", "delivery", "order", "VAT 24%",  "VAT 14%",     "cash", "bank transfer", "payment term 14",
    "",         ""};

// Pages of fixed-layout records (a table's layout sets the record size), empty pages and blobs.
class Pages {
public:
    Pages(std::uint64_t seed, int layout) : m_Gen(seed), m_RecordSize(layout == 0 ? 96 : layout == 1 ? 128 : 160) {}

    std::uint64_t R(std::uint64_t n) { return m_Gen() % n; }

    void Records(unsigned char* p) {
        std::memset(p, 0, PageSize);
        p[0] = 1;
        p[1] = static_cast<unsigned char>(m_RecordSize);
        std::memcpy(p + 4, &m_PageNo, 4);
        ++m_PageNo;
        const int used = static_cast<int>((PageSize - 32) / m_RecordSize - R(4));
        std::memcpy(p + 8, &used, 2);
        for (int r = 0; r < used; ++r) {
            unsigned char* q = p + 32 + r * m_RecordSize;
            const auto id = static_cast<std::uint32_t>(m_RecordId++);
            const auto customer = static_cast<std::uint32_t>(1000 + R(5000));
            const auto date = static_cast<std::uint32_t>(20200101 + R(5) * 10000 + (1 + R(12)) * 100 + 1 + R(28));
            const auto cents = static_cast<std::int64_t>(R(100000000)) - 20000000;
            std::memcpy(q, &id, 4);
            std::memcpy(q + 4, &customer, 4);
            std::memcpy(q + 8, &date, 4);
            std::memcpy(q + 12, &cents, 8);
            q[20] = static_cast<unsigned char>(R(4));
            std::snprintf(reinterpret_cast<char*>(q + 24), 32, "%-31s", Names[R(std::size(Names))]);
            char note[80];
            const int n = std::snprintf(note, sizeof note, "%s %s #%u", Words[R(std::size(Words))],
                                        Words[R(std::size(Words))], static_cast<unsigned>(R(100000)));
            std::memcpy(q + 56, note, static_cast<std::size_t>(std::min(n, m_RecordSize - 56)));
        }
    }

    void Blob(unsigned char* p) {
        for (std::size_t i = 0; i < PageSize; i += 8) {
            const std::uint64_t v = m_Gen();
            std::memcpy(p + i, &v, 8);
        }
    }

    // Runs of record pages, of empty pages and of blobs; deflate -6 packs this about 3:1.
    void Write(std::FILE* out, std::uint64_t bytes) {
        std::vector<unsigned char> page(PageSize);
        for (std::uint64_t done = 0; done < bytes;) {
            const std::uint64_t x = R(100);
            const int kind = x < 13 ? 1 : x < 52 ? 2 : 0;
            const std::uint64_t run = 1 + (kind == 1 ? R(32) : kind == 2 ? R(16) : R(64));
            for (std::uint64_t i = 0; i < run && done < bytes; ++i) {
                if (kind == 0)
                    Records(page.data());
                else if (kind == 1)
                    std::memset(page.data(), 0, PageSize);
                else
                    Blob(page.data());
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(PageSize, bytes - done));
                std::fwrite(page.data(), 1, n, out);
                done += n;
            }
        }
    }

private:
    std::mt19937_64 m_Gen;
    int m_RecordSize;
    std::uint32_t m_PageNo = 0;
    std::uint64_t m_RecordId = 1;
};

struct DataSet {
    std::string name;
    int files;
    std::uint64_t fileSize;
};

void MakeData(const fs::path& dir, const DataSet& set) {
    fs::create_directories(dir);
    for (int i = 0; i < set.files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, set.files > 100 ? "rec%05d.dat" : "table%02d.mdb", i);
        std::FILE* out = std::fopen((dir / name).c_str(), "wb");
        if (!out) {
            std::perror(name);
            std::exit(1);
        }
        Pages(1000 + static_cast<std::uint64_t>(i), i % 3).Write(out, set.fileSize);
        std::fclose(out);
    }
}

// ---- one engine run, in a process of its own ----

std::int32_t Quiet(char*, std::uint32_t) {
    return 0;
}

// Runs the engine and prints "<result> <longest gap between hook calls, ms> <cancel latency, ms>".
int EngineChild(const std::string& mode, const std::string& archive, const std::string& dir, double cancelAt) {
    auto start = Clock::now(), last = start;
    double gap = 0;
    Clock::time_point cancelled{};
    zipengine::SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
        const auto now = Clock::now();
        gap = std::max(gap, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        if (cancelAt > 0 && total && done >= cancelAt * static_cast<double>(total)) {
            cancelled = now;
            return false;
        }
        return true;
    });
    std::int32_t result;
    if (mode == "zip") {
        zipengine::ZIPUSERFUNCTIONS uf;
        uf.print = Quiet;
        zipengine::ZpInit(&uf);
        zipengine::ZPOPT options;
        options.szRootDir = dir.c_str();
        zipengine::ZpSetOptions(&options);
        const std::string pattern = dir + "/*.*";
        const char* names[] = {"querty", pattern.c_str()};
        result = zipengine::ZpArchive({2, archive.c_str(), names});
    } else {
        zipengine::USERFUNCTIONS uf;
        uf.print = Quiet;
        zipengine::DCL dcl;
        dcl.fQuiet = 2;
        dcl.noflag = 1;
        dcl.lpszZipFN = archive.c_str();
        dcl.lpszExtractDir = dir.c_str();
        result = zipengine::Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, &dcl, &uf);
    }
    const auto end = Clock::now();
    gap = std::max(gap, std::chrono::duration<double, std::milli>(end - last).count());
    const double latency =
        cancelled == Clock::time_point{} ? -1 : std::chrono::duration<double, std::milli>(end - cancelled).count();
    std::printf("%d %.1f %.1f\n", result, gap, latency);
    return 0;
}

struct Run {
    double seconds = 0;
    double cpu = 0; // user and system time
    long maxRssKiB = 0;
    int status = -1;
    std::string out;
};

Run Spawn(const std::vector<std::string>& args, const fs::path& cwd = {}) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0)
        std::exit(1);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFd[1], 1);
        ::close(pipeFd[0]);
        ::close(pipeFd[1]);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    Run run;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;)
        run.out.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFd[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.seconds = Seconds(start);
    run.maxRssKiB = usage.ru_maxrss;
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Row {
    std::string set;
    std::string job;
    double ours, peer, oursCpu, peerCpu, mib;
    double sizeRatio;
    double gap;
    double cancel;
    long rss;
};

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::string(argv[1]) == "--engine")
        return EngineChild(argv[2], argv[3], argv[4], argc > 5 ? std::atof(argv[5]) : 0);

    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i)
        wanted.push_back(argv[i]);
    if (wanted.empty())
        wanted = {"256M", "1G", "5000"};
    const std::vector<DataSet> known{{"256M", 8, 32ull << 20},
                                     {"1G", 16, 64ull << 20},
                                     {"2G", 16, 128ull << 20},
                                     {"5000", 5000, 8192},
                                     {"20000", 20000, 8192}};
    const int runs = std::max(1, std::atoi(std::getenv("ZEL_BENCH_RUNS") ? std::getenv("ZEL_BENCH_RUNS") : "3"));
    const char* base = std::getenv("ZEL_BENCH_DIR");
    const fs::path root =
        fs::path(base ? base : fs::temp_directory_path().string()) / ("zel-zip-bench-" + std::to_string(::getpid()));
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    std::vector<Row> rows;
    bool ok = true;
    for (const auto& name : wanted) {
        auto set = std::find_if(known.begin(), known.end(), [&](const DataSet& d) { return d.name == name; });
        if (set == known.end()) {
            std::fprintf(stderr, "unknown data set %s\n", name.c_str());
            return 2;
        }
        const fs::path dir = root / set->name, data = dir / "data";
        const std::string ours = (dir / "ours.zip").string(), peer = (dir / "infozip.zip").string();
        std::fprintf(stderr, "%s: making the data...\n", set->name.c_str());
        MakeData(data, *set);
        const double mib = static_cast<double>(set->files) * static_cast<double>(set->fileSize) / (1 << 20);

        std::vector<double> zipOurs, zipPeer, unzipOurs, unzipPeer, zipGap, unzipGap;
        std::vector<double> zipOursCpu, zipPeerCpu, unzipOursCpu, unzipPeerCpu;
        long zipRss = 0, unzipRss = 0;
        for (int r = 0; r < runs; ++r) {
            std::fprintf(stderr, "%s: run %d of %d\n", set->name.c_str(), r + 1, runs);
            fs::remove(ours);
            fs::remove(peer);
            // Alternate which tool goes first, so neither always meets a cold or a warm cache.
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn + r) % 2 == 0) {
                    Run z = Spawn({self, "--engine", "zip", ours, data.string()});
                    ok = ok && z.status == 0 && z.out.rfind("0 ", 0) == 0;
                    zipOurs.push_back(z.seconds);
                    zipOursCpu.push_back(z.cpu);
                    zipGap.push_back(std::atof(z.out.c_str() + z.out.find(' ')));
                    zipRss = std::max(zipRss, z.maxRssKiB);
                } else {
                    Run z = Spawn({"zip", "-q", "-6", "-r", peer, "."}, data);
                    ok = ok && z.status == 0;
                    zipPeer.push_back(z.seconds);
                    zipPeerCpu.push_back(z.cpu);
                }
            }
            for (int turn = 0; turn < 2; ++turn) {
                const fs::path x = dir / "x";
                fs::remove_all(x);
                fs::create_directories(x);
                if ((turn + r) % 2 == 0) {
                    Run u = Spawn({self, "--engine", "unzip", peer, x.string()});
                    ok = ok && u.status == 0 && u.out.rfind("0 ", 0) == 0;
                    unzipOurs.push_back(u.seconds);
                    unzipOursCpu.push_back(u.cpu);
                    unzipGap.push_back(std::atof(u.out.c_str() + u.out.find(' ')));
                    unzipRss = std::max(unzipRss, u.maxRssKiB);
                } else {
                    Run u = Spawn({"unzip", "-o", "-j", "-q", peer, "-d", x.string()});
                    ok = ok && u.status == 0;
                    unzipPeer.push_back(u.seconds);
                    unzipPeerCpu.push_back(u.cpu);
                }
            }
        }
        fs::remove_all(dir / "x");
        // Both readers must find the engine's archive whole.
        const bool tested =
            Spawn({"unzip", "-tqq", ours}).status == 0 &&
            Spawn({"/usr/bin/python3", "-c",
                   "import sys, zipfile\nsys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)", ours})
                    .status == 0;
        ok = ok && tested;
        const double sizeRatio = static_cast<double>(fs::file_size(ours)) / static_cast<double>(fs::file_size(peer));
        // Cancel half-way: how long until the engine has returned and cleaned up.
        auto latency = [&](const std::string& mode, const std::string& archive, const fs::path& target) {
            Run c = Spawn({self, "--engine", mode, archive, target.string(), "0.5"});
            return std::atof(c.out.c_str() + c.out.rfind(' '));
        };
        fs::remove(ours);
        const double zipCancel = latency("zip", ours, data);
        ok = ok && !fs::exists(ours);
        fs::create_directories(dir / "x");
        const double unzipCancel = latency("unzip", peer, dir / "x");
        rows.push_back({set->name, "zip", Median(zipOurs), Median(zipPeer), Median(zipOursCpu), Median(zipPeerCpu), mib,
                        sizeRatio, *std::max_element(zipGap.begin(), zipGap.end()), zipCancel, zipRss});
        rows.push_back({set->name, "unzip", Median(unzipOurs), Median(unzipPeer), Median(unzipOursCpu),
                        Median(unzipPeerCpu), mib, 0, *std::max_element(unzipGap.begin(), unzipGap.end()), unzipCancel,
                        unzipRss});
        if (!tested)
            std::fprintf(stderr, "%s: the engine's archive failed a reader's test\n", set->name.c_str());
        fs::remove_all(dir);
    }
    fs::remove_all(root);

    std::printf("\n%-6s %-6s %8s %8s %6s %8s %8s %9s %9s %8s %8s %8s\n", "data", "job", "ours s", "peer s", "ratio",
                "ours cpu", "peer cpu", "ours MiB/s", "size/zip6", "gap ms", "cancel", "peak MiB");
    for (const auto& r : rows) {
        char size[16] = "-";
        if (r.sizeRatio > 0)
            std::snprintf(size, sizeof size, "%.4f", r.sizeRatio);
        std::printf("%-6s %-6s %8.2f %8.2f %6.2f %8.2f %8.2f %9.1f %9s %8.0f %8.0f %8.1f\n", r.set.c_str(),
                    r.job.c_str(), r.ours, r.peer, r.ours / r.peer, r.oursCpu, r.peerCpu, r.mib / r.ours, size, r.gap,
                    r.cancel, r.rss / 1024.0);
    }
    std::printf(
        "(%d runs each, medians; peers: zip -q -6 -r, unzip -o -j -q; cpu: user and system seconds; gap: the\n"
        "longest time without a hook call; cancel: ms from a cancel half-way to the engine's return; %u cores)\n",
        runs, std::thread::hardware_concurrency());
    return ok ? 0 : 1;
}
