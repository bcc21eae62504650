// Writes a seeded, database-like data set in one of the products' layouts.
//   bench_datagen <data folder> <tova|ledgra|online> <MiB | 0> <files> <seed> [<smallest KiB> <largest KiB>]
// With MiB > 0 the bytes are spread over <files> tables of uneven sizes (for Ledgra the databases take a large
// share); with MiB = 0 each of the <files> files is small (1 to 15 KiB, about 8 on average, unless a range is
// given) and the databases are 1 MiB.
// Files are made of 4 KiB pages: records of one fixed layout per table, runs of empty pages, and now and then an
// incompressible blob, which together deflate about 3:1.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t PageSize = 4096;

class Random {
public:
    explicit Random(std::uint64_t seed) : m_State(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_State += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
    bool Chance(unsigned percent) { return Below(100) < percent; }

private:
    std::uint64_t m_State;
};

const std::array<std::string_view, 24> Words = {
    "ACME LTD",   "Nordvik AB", "Helsinki",    "Oslo",     "Tampere",      "Bergen",      "Invoice",  "Credit note",
    "Paid",       "Open",       "Overdue",     "EUR",      "SEK",          "NOK",         "Main st.", "Harbour Road",
    "Consulting", "Licence",    "Maintenance", "Hardware", "Travel costs", "Office rent", "",         "see note"};

enum class FieldKind { Counter, Date, Amount, Code, Text, Flag };
struct Field {
    FieldKind kind;
    std::size_t width;
};

// One table: its record layout and the state that makes records follow on from each other.
class Table {
public:
    Table(Random& rnd) : m_Rnd(rnd) {
        const std::size_t fields = 6 + rnd.Below(10);
        m_Layout.push_back({FieldKind::Counter, 4});
        for (std::size_t i = 1; i < fields; ++i) {
            switch (rnd.Below(6)) {
            case 0:
                m_Layout.push_back({FieldKind::Date, 4});
                break;
            case 1:
                m_Layout.push_back({FieldKind::Amount, 8});
                break;
            case 2:
                m_Layout.push_back({FieldKind::Code, 6 + rnd.Below(6)});
                break;
            case 3:
            case 4:
                m_Layout.push_back({FieldKind::Text, 12 + rnd.Below(28)});
                break;
            default:
                m_Layout.push_back({FieldKind::Flag, 1});
                break;
            }
        }
        for (const Field& f : m_Layout)
            m_RecordSize += f.width;
        m_Day = 40000 + rnd.Below(3000);
    }

    // A data page: a header, as many records as fit (some pages are left part full), the rest zero.
    void Page(std::uint32_t number, unsigned char* page) {
        std::memset(page, 0, PageSize);
        const std::size_t room = (PageSize - 16) / m_RecordSize;
        const std::size_t count = m_Rnd.Chance(30) ? 1 + m_Rnd.Below(static_cast<std::uint32_t>(room)) : room;
        std::uint32_t header[4] = {number, 0x51a2b3c4u, static_cast<std::uint32_t>(count),
                                   static_cast<std::uint32_t>(16 + count * m_RecordSize)};
        std::memcpy(page, header, sizeof header);
        unsigned char* at = page + 16;
        for (std::size_t r = 0; r < count; ++r)
            at = Record(at);
    }

private:
    unsigned char* Record(unsigned char* at) {
        for (const Field& f : m_Layout) {
            switch (f.kind) {
            case FieldKind::Counter: {
                const std::uint32_t id = ++m_Id;
                std::memcpy(at, &id, 4);
                break;
            }
            case FieldKind::Date: {
                m_Day += m_Rnd.Chance(20) ? 1 : 0;
                const std::uint32_t day = m_Day - m_Rnd.Below(3);
                std::memcpy(at, &day, 4);
                break;
            }
            case FieldKind::Amount: {
                const std::int64_t cents =
                    static_cast<std::int64_t>(m_Rnd.Below(m_Rnd.Chance(70) ? 1000000 : 1000000000));
                std::memcpy(at, &cents, 8);
                break;
            }
            case FieldKind::Code: {
                std::snprintf(reinterpret_cast<char*>(at), f.width, "%c%0*u", 'A' + m_Rnd.Below(6),
                              static_cast<int>(f.width) - 2, m_Rnd.Below(50000));
                break;
            }
            case FieldKind::Text: {
                // A word, often followed by a reference number, padded with blanks.
                char text[64];
                const std::string_view w = Words[m_Rnd.Below(Words.size())];
                int n = m_Rnd.Chance(60)
                            ? std::snprintf(text, sizeof text, "%.*s %u", static_cast<int>(w.size()), w.data(),
                                            m_Rnd.Below(1000000))
                            : std::snprintf(text, sizeof text, "%.*s", static_cast<int>(w.size()), w.data());
                const std::size_t used = std::min(static_cast<std::size_t>(n), f.width);
                std::memcpy(at, text, used);
                std::memset(at + used, ' ', f.width - used);
                break;
            }
            case FieldKind::Flag:
                *at = static_cast<unsigned char>(m_Rnd.Chance(90) ? 'N' : 'Y');
                break;
            }
            at += f.width;
        }
        return at;
    }

    Random& m_Rnd;
    std::vector<Field> m_Layout;
    std::size_t m_RecordSize = 0;
    std::uint32_t m_Id = 0;
    std::uint32_t m_Day = 0;
};

void WriteFile(const fs::path& path, std::uint64_t bytes, Random& rnd) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        std::perror(path.c_str());
        std::exit(1);
    }
    Table table(rnd);
    std::vector<unsigned char> page(PageSize);
    std::uint32_t number = 0;
    int emptyRun = 0;
    int blobRun = 0;
    for (std::uint64_t written = 0; written < bytes;) {
        if (emptyRun == 0 && blobRun == 0) {
            const unsigned roll = rnd.Below(1000);
            if (roll < 8)
                emptyRun = 1 + static_cast<int>(rnd.Below(20)); // freed space, in runs
            else if (roll < 20)
                blobRun = 1 + static_cast<int>(rnd.Below(16)); // an attachment that is already compressed
        }
        if (emptyRun > 0) {
            std::fill(page.begin(), page.end(), 0);
            --emptyRun;
        } else if (blobRun > 0) {
            for (std::size_t i = 0; i < PageSize; i += 8) {
                const std::uint64_t v = rnd.Next();
                std::memcpy(page.data() + i, &v, 8);
            }
            --blobRun;
        } else {
            table.Page(number, page.data());
        }
        ++number;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(PageSize, bytes - written));
        if (std::fwrite(page.data(), 1, n, out) != n) {
            std::perror(path.c_str());
            std::exit(1);
        }
        written += n;
    }
    if (std::fclose(out) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

std::string Numbered(const char* stem, unsigned i, const char* ext) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%05u.%s", stem, i, ext);
    return name;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 8) {
        std::fprintf(stderr,
                     "usage: %s <data folder> <tova|ledgra|online> <MiB | 0> <files> <seed> "
                     "[<smallest KiB> <largest KiB>]\n",
                     argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    const std::string layout = argv[2];
    const std::uint64_t total = std::strtoull(argv[3], nullptr, 10) << 20;
    const unsigned files = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    Random rnd(std::strtoull(argv[5], nullptr, 10));
    const std::uint32_t smallest = argc == 8 ? static_cast<std::uint32_t>(std::strtoul(argv[6], nullptr, 10)) : 1;
    const std::uint32_t largest = argc == 8 ? static_cast<std::uint32_t>(std::strtoul(argv[7], nullptr, 10)) : 15;
    if ((layout != "tova" && layout != "ledgra" && layout != "online") || files == 0 || smallest == 0 ||
        largest <= smallest)
        return 2;

    const bool ledgra = layout != "tova";
    const fs::path bulk = ledgra ? folder / "data_qmx" : folder;
    fs::create_directories(bulk);

    std::uint64_t rest = total;
    if (ledgra) {
        // The databases: a large share of a large set, 1 MiB in a set of small files.
        const std::uint64_t main = total ? total / 3 : 1u << 20;
        WriteFile(folder / "ledgra2.mdb", main, rnd);
        rest -= total ? main : 0;
        if (layout == "online") {
            const std::uint64_t online = total ? total / 6 : 1u << 20;
            WriteFile(folder / "norvane.mdb", online, rnd);
            rest -= total ? online : 0;
        }
    }
    const char* ext = ledgra ? "qmx" : "dat";
    const char* stem = ledgra ? "qx" : "tv";
    if (total == 0) {
        for (unsigned i = 0; i < files; ++i)
            WriteFile(bulk / Numbered(stem, i, ext), smallest * 1024 + rnd.Below((largest - smallest) * 1024), rnd);
        return 0;
    }
    // Uneven tables: weights 1..4, the last file taking what rounding left.
    std::vector<unsigned> weights(files);
    unsigned sum = 0;
    for (unsigned& w : weights)
        sum += (w = 1 + rnd.Below(4));
    const std::uint64_t tables = rest;
    for (unsigned i = 0; i < files; ++i) {
        const std::uint64_t bytes = i + 1 == files ? rest : tables * weights[i] / sum;
        WriteFile(bulk / Numbered(stem, i, ext), bytes, rnd);
        rest -= bytes;
    }
    return 0;
}
