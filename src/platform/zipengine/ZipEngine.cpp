#include "platform/zipengine/ZipEngine.h"

#include "platform/zipengine/EngineShared.h"
#include "platform/zipengine/Packer.h"
#include "platform/zipengine/Unpacker.h"

#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <zip.h>
#include <zlib.h>
// zlib.h maps this name onto a call; UzpVer has a field of that name.
#undef zlib_version

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <set>

namespace zipengine {

using namespace detail;

namespace {

// A name as it can be shown in a message: control characters written out, so a name cannot break the lines.
std::string Printable(const std::string& name) {
    std::string shown;
    for (unsigned char c : name) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else
            shown += static_cast<char>(c);
    }
    return shown;
}

bool HasControlCharacter(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

std::uint32_t U16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const unsigned char* p) {
    return U16(p) | (U16(p + 2) << 16);
}
std::uint64_t U64(const unsigned char* p) {
    return U32(p) | (std::uint64_t(U32(p + 4)) << 32);
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The archive's end records: the file, open, and its tail up to the end of the central directory's end record,
// which starts 22 bytes before the tail's end (a comment after it is cut off); null when there is none.
FilePtr EndRecord(const fs::path& archive, std::vector<unsigned char>& tail) {
    const std::string path = Utf8(archive);
    std::uint64_t size = 0;
    FilePtr file(files::SizeOf(path, size) ? files::OpenFile(path, "rb") : nullptr, &std::fclose);
    if (!file)
        return file;
    tail.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, 65535 + 22)));
    if (!files::Seek(file.get(), size - tail.size()) ||
        std::fread(tail.data(), 1, tail.size(), file.get()) != tail.size())
        return FilePtr(nullptr, &std::fclose);
    for (std::int64_t i = static_cast<std::int64_t>(tail.size()) - 22; i >= 0; --i) {
        if (U32(tail.data() + i) == 0x06054b50) {
            tail.resize(static_cast<std::size_t>(i) + 22);
            return file;
        }
    }
    return FilePtr(nullptr, &std::fclose);
}

// libzip refuses an archive in which two entries share a name without saying which; the central directory
// does. Empty when it cannot be told.
std::string DuplicateEntryName(const fs::path& archive) {
    std::vector<unsigned char> tail;
    FilePtr file = EndRecord(archive, tail);
    if (!file)
        return {};
    const unsigned char* eocd = tail.data() + tail.size() - 22;
    const std::uint32_t cdSize = U32(eocd + 12), cdOffset = U32(eocd + 16);
    if (cdOffset == 0xffffffffu || cdSize > 64u * 1024 * 1024)
        return {};
    std::vector<unsigned char> cd(cdSize);
    if (!files::Seek(file.get(), cdOffset) || std::fread(cd.data(), 1, cd.size(), file.get()) != cd.size())
        return {};
    std::set<std::string> seen;
    for (std::size_t pos = 0; pos + 46 <= cd.size() && U32(&cd[pos]) == 0x02014b50;) {
        const std::size_t nameLength = U16(&cd[pos + 28]), extra = U16(&cd[pos + 30]), comment = U16(&cd[pos + 32]);
        if (pos + 46 + nameLength > cd.size())
            return {};
        std::string name(reinterpret_cast<const char*>(&cd[pos + 46]), nameLength);
        if (!seen.insert(name).second)
            return name;
        pos += 46 + nameLength + extra + comment;
    }
    return {};
}

// How many entries the end records declare, read before libzip opens the archive (which takes time and memory for
// each entry); nothing when they cannot be read, and then libzip says what is wrong.
std::optional<std::uint64_t> DeclaredEntries(const fs::path& archive) {
    std::vector<unsigned char> tail;
    FilePtr file = EndRecord(archive, tail);
    if (!file)
        return std::nullopt;
    const unsigned char* eocd = tail.data() + tail.size() - 22;
    if (U16(eocd + 10) != 0xffff)
        return U16(eocd + 10);
    // Zip64: the locator right before the end record tells where the Zip64 end record is.
    unsigned char record[56];
    if (tail.size() < 42 || U32(eocd - 20) != 0x07064b50 || !files::Seek(file.get(), U64(eocd - 20 + 8)) ||
        std::fread(record, 1, sizeof record, file.get()) != sizeof record || U32(record) != 0x06064b50)
        return std::nullopt;
    return U64(record + 32);
}

// Bytes in the units the file manager shows.
std::string Amount(std::uint64_t bytes) {
    char text[32];
    if (bytes >= (std::uint64_t(1) << 30))
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1 << 30));
    else if (bytes >= (1u << 20))
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
    else
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>((bytes + 1023) / 1024));
    return text;
}

// What an archive of a data set can hold. The products' data sets are a database of up to a few GiB and up to
// some tens of thousands of other files (the benchmark's largest: 2 GiB, 20,000 files). An archive that declares
// more is broken or hostile; unpacked, it would fill the customer's disk, where the staging folder is, before
// anything noticed. Several times the largest data set still passes.
constexpr std::uint64_t MaxEntries = 100000;
constexpr std::uint64_t MaxTotalSize = std::uint64_t(64) << 30;

// Room an extraction needs beyond the files' own bytes: the file system's blocks (up to one more per file), and
// some left free for everything else on that disk.
std::uint64_t NeededSpace(std::uint64_t total, std::uint64_t files) {
    return total + total / 32 + files * 4096 + (std::uint64_t(1) << 20);
}

struct SafeName {
    std::vector<std::string> parts;
    bool stripped = false; // "..", an absolute path or a drive letter was removed
};

#ifdef _WIN32
// Windows reads some names as something else: it drops trailing dots and blanks (a part of nothing else, such as
// "..." or ".. ", names no file of its own), a ":" names a drive (which takes the path out of the extraction
// folder) or a stream, and a device name such as "NUL" or "COM1.txt" is the device in every folder. Such a part
// becomes a plain name of the folder.
void MakeWindowsName(std::string& comp, bool& stripped) {
    if (comp == "." || comp == "..")
        return;
    const std::size_t kept = comp.find_last_not_of(". ");
    if (kept == std::string::npos) {
        stripped = stripped || !comp.empty();
        comp.clear();
        return;
    }
    comp.erase(kept + 1);
    for (char& c : comp)
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            c = '_';
    std::string base = files::FoldCase(std::string_view(comp).substr(0, comp.find('.')));
    base.erase(base.find_last_not_of(' ') + 1);
    const bool numbered =
        base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '0' && base[3] <= '9';
    if (numbered || base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$")
        comp.insert(0, "_");
}
#endif

SafeName Sanitise(const std::string& name, bool spaceToUnderscore) {
    SafeName out;
    std::string comp;
    bool first = true;
    auto flush = [&](bool last) {
        (void)last;
        if (first && comp.size() >= 2 && comp[1] == ':' && std::isalpha(static_cast<unsigned char>(comp[0]))) {
            comp.erase(0, 2);
            out.stripped = true;
        }
        first = false;
#ifdef _WIN32
        MakeWindowsName(comp, out.stripped);
#endif
        if (comp == "..")
            out.stripped = true;
        else if (!comp.empty() && comp != ".") {
            if (spaceToUnderscore)
                std::replace(comp.begin(), comp.end(), ' ', '_');
            out.parts.push_back(comp);
        }
        comp.clear();
    };
    if (!name.empty() && (name[0] == '/' || name[0] == '\\'))
        out.stripped = true;
    for (char c : name) {
        if (c == '/' || c == '\\')
            flush(false);
        else
            comp += c;
    }
    flush(true);
    return out;
}

bool IsSymlinkEntry(zip_t* za, zip_uint64_t index) {
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    if (zip_file_get_external_attributes(za, index, 0, &opsys, &attr) != 0)
        return false;
    return opsys == ZIP_OPSYS_UNIX && ((attr >> 16) & 0170000u) == 0120000u;
}

// Creates the folders of parts[0..n) under base, refusing to pass through links or files.
bool MakeFolders(const fs::path& base, const std::vector<std::string>& parts, std::size_t n, std::string& why) {
    fs::path p = base;
    for (std::size_t i = 0; i < n; ++i) {
        p /= PathOf(parts[i]);
        std::error_code ec;
        auto st = fs::symlink_status(p, ec);
        if (fs::is_symlink(st) || (fs::exists(st) && !fs::is_directory(st))) {
            why = Utf8(p) + " is not a folder";
            return false;
        }
        if (!fs::exists(st) && !fs::create_directory(p, ec) && ec) {
            why = "could not create " + Utf8(p) + " (" + ec.message() + ")";
            return false;
        }
    }
    return true;
}

std::int32_t Unzip(std::int32_t ifnc, std::int32_t xfnc, const DCL& dcl, USERFUNCTIONS* uf) {
    Printer print(uf ? uf->print : nullptr, UnzipPrintBufferSize);
    const int quiet = dcl.fQuiet;
    if (ifnc > 0 || xfnc > 0) {
        print("unzip error: include and exclude lists are not supported.\n");
        return PK_PARAM;
    }
    if (!dcl.lpszZipFN || !*dcl.lpszZipFN) {
        print("unzip error: no archive name was given.\n");
        return PK_PARAM;
    }
    fs::path archive = ResolveNoCase(PathOf(files::NativePath(dcl.lpszZipFN)));
    // A listing only shows what the archive declares; whatever reads or writes its data stays within bounds.
    const bool listing = dcl.nvflag != 0;
    // libzip reads the count from the same end records.
    if (const auto declared = DeclaredEntries(archive); declared && *declared > MaxEntries && !listing) {
        print("unzip error: " + Utf8(archive) + " holds " + std::to_string(*declared) + " files, far more than a " +
              "data set (at most " + std::to_string(MaxEntries) + "); the archive is damaged or not a data set, and " +
              "nothing was extracted.\n");
        return PK_ERR;
    }
    // Opening checks every entry's header: a while for a large archive, so the hook keeps being called.
    Progress progress(S().hook);
    int err = 0;
    // A cancel asked for meanwhile is acted on at the first entry.
    ZipPtr za =
        zel::RunBeside([&] { return ZipPtr(zip_open(Utf8(archive).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err)); },
                       [&] { progress.Poll(); });
    if (!za) {
        if (err == ZIP_ER_NOENT || err == ZIP_ER_OPEN)
            print("unzip error: cannot find or open " + Utf8(archive) + ".\n");
        else if (std::string twice; err == ZIP_ER_EXISTS && !(twice = DuplicateEntryName(archive)).empty())
            print("unzip error: " + Utf8(archive) + " holds more than one entry named " + Printable(twice) +
                  "; nothing was extracted.\n");
        else
            print("unzip error: " + Utf8(archive) + " is not a zip archive or it is damaged.\n");
        return PK_NOZIP;
    }
    std::optional<files::FileId> archiveId;
    if (files::FileId id; files::Identify(Utf8(archive), id, true))
        archiveId = id;

    fs::path dir = (dcl.lpszExtractDir && *dcl.lpszExtractDir)
                       ? ResolveNoCase(PathOf(files::NativePath(dcl.lpszExtractDir)))
                       : fs::path(".");
    const bool writing = !dcl.ntflag && !dcl.nvflag;
    std::error_code ec;
    if (writing && !fs::is_directory(dir, ec)) {
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir, ec)) {
            print("unzip error: could not create the folder " + Utf8(dir) + ".\n");
            return PK_PARAM;
        }
    }

    zip_int64_t count = zip_get_num_entries(za.get(), 0);
    if (uf)
        uf->NumMembers = static_cast<std::uint32_t>(count);
    if (dcl.nzflag) {
        int clen = 0;
        const char* comment = zip_get_archive_comment(za.get(), &clen, 0);
        if (comment && clen > 0)
            print(std::string(comment, static_cast<std::size_t>(clen)) + "\n");
    }

    std::uint64_t total = 0;
    bool beyond = false;
    for (zip_int64_t i = 0; i < count && !beyond; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
            beyond = st.size > MaxTotalSize - total;
            total += beyond ? 0 : st.size;
        }
    }
    if (beyond && !listing) {
        print("unzip error: the files in " + Utf8(archive) + " would take more than " + Amount(MaxTotalSize) +
              ", far more than a data set; the archive is damaged or not a data set, and nothing was extracted.\n");
        return PK_ERR;
    }
    if (writing) {
        // The declared sizes, checked against the disk before anything is written there; the data of an entry may
        // not run past its declared size (ExtractEntry).
        const std::uint64_t needed = NeededSpace(total, static_cast<std::uint64_t>(count));
        const fs::space_info space = fs::space(dir, ec);
        if (!ec && space.available < needed) {
            print("unzip error: there is not enough free space on the drive " + DriveOf(dir) + " to extract " +
                  Utf8(archive) + ": its files take " + Amount(total) + ", and the drive has " +
                  Amount(space.available) +
                  " free (a little more than the files take must stay free). Make room on that drive, then try "
                  "again.\n");
            return PK_DISK;
        }
    }
    progress.SetTotal(total);
    // This call comes after the opening and before any entry is read.
    progress.Report(0);
    // Entries that need no password are read on worker threads; their results are put in place here, in entry
    // order, so that what a stopped run leaves is the same as if the entries had been read one by one.
    SharedArchive shared{za.get(), {}};
    ExtractPool pool(shared, PackThreads());
    struct Pending {
        std::string shown;
        fs::path target;
    };
    std::deque<Pending> pending;
    const std::size_t window = 4 * PackThreads();
    std::uint64_t here = 0; // bytes read on this thread
    auto report = [&] { return progress.Update(here + pool.Done()); };

    std::int32_t result = 0;
    int failed = 0;
    int done = 0;
    std::set<std::string> written; // targets of this run, compared without regard to case
    std::optional<std::string> password;
    bool noMorePasswords = false;
    bool skipExisting = false, overwriteAll = false;
    auto fail = [&](std::int32_t code, const std::string& text) {
        print(text);
        result = std::max(result, code);
        ++failed;
    };
    auto cancelled = [&](const std::string& shown) {
        pool.Stop();
        print("unzip: cancelled; " + (pending.empty() ? shown : pending.front().shown) +
              " and the files after it were not extracted.\n");
        return IZ_CTRLC;
    };
    // Puts one entry in place and reports it; a result when the run ends here.
    auto finish = [&](const std::string& shown, const fs::path& target, Extracted& r) -> std::optional<std::int32_t> {
        if (r.outcome == Outcome::Ok && r.temp) {
            if (int e = r.temp->CommitTo(Utf8(target))) {
                r.outcome = Outcome::WriteError;
                r.detail = SysText(e);
            }
        }
        switch (r.outcome) {
        case Outcome::Ok:
            ++done;
            if (quiet < 2)
                print((writing ? "  inflating: " + Utf8(target) : "    testing: " + shown + "   OK") + "\n");
            break;
        case Outcome::NoPassword:
            fail(IZ_BADPWD, "  skipping: " + shown + " needs a password, and none was given.\n");
            break;
        case Outcome::Unsupported:
            fail(PK_ERR, "  skipping: " + shown + " is packed in a way that is not supported (" + r.detail + ").\n");
            break;
        case Outcome::BadPassword:
        case Outcome::Damaged:
            fail(PK_ERR, "  error: " + shown + " is damaged (" + r.detail + "); it was not extracted.\n");
            break;
        case Outcome::WriteError:
            fail(PK_ERR, "  error: could not write " + Utf8(target) + " (" + r.detail + ").\n");
            break;
        case Outcome::DiskFull:
            pool.Stop();
            print("unzip error: there is not enough disk space to extract " + shown + " into " + Utf8(dir) + ".\n");
            return PK_DISK;
        case Outcome::Cancelled:
            pool.Stop();
            print("unzip: cancelled; " + shown + " and the files after it were not extracted.\n");
            return IZ_CTRLC;
        }
        return std::nullopt;
    };
    // Puts the oldest results in place until no more than `keep` are outstanding.
    auto drain = [&](std::size_t keep) -> std::optional<std::int32_t> {
        while (pending.size() > keep) {
            std::optional<Extracted> r = pool.TakeOldest(zel::ProgressInterval);
            if (!r) {
                if (!report())
                    return cancelled({});
                continue;
            }
            const Pending p = std::move(pending.front());
            pending.pop_front();
            if (auto end = finish(p.shown, p.target, *r))
                return end;
        }
        return std::nullopt;
    };

    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        bool readable = false, symlink = false;
        {
            std::lock_guard guard(shared.lock);
            readable = zip_stat_index(za.get(), index, 0, &st) == 0 && (st.valid & ZIP_STAT_NAME);
            symlink = readable && IsSymlinkEntry(za.get(), index);
        }
        if (!readable) {
            fail(PK_ERR, "  error: entry " + std::to_string(i + 1) + " of the archive cannot be read.\n");
            continue;
        }
        const std::string name = st.name;
        const std::string shown = Printable(name);
        if (!report())
            return cancelled(shown);
        if (uf && uf->ServCallBk && uf->ServCallBk(name.c_str(), static_cast<std::uint32_t>(name.size())) != 0) {
            if (auto end = drain(0))
                return *end;
            print("unzip: stopped at the caller's request.\n");
            return IZ_CTRLC;
        }
        if (dcl.nvflag) {
            if (uf && uf->SendApplicationMessage) {
                std::tm tm{};
                std::time_t t = st.mtime;
                if (const std::tm* lt = std::localtime(&t))
                    tm = *lt;
                auto factor = st.size ? static_cast<std::uint32_t>(100 - (st.comp_size * 100 / st.size)) : 0u;
                uf->SendApplicationMessage(
                    static_cast<std::uint32_t>(st.size), static_cast<std::uint32_t>(st.comp_size), factor,
                    static_cast<std::uint32_t>(tm.tm_mon + 1), static_cast<std::uint32_t>(tm.tm_mday),
                    static_cast<std::uint32_t>(tm.tm_year + 1900), static_cast<std::uint32_t>(tm.tm_hour),
                    static_cast<std::uint32_t>(tm.tm_min), ' ', name.c_str(),
                    st.comp_method == ZIP_CM_STORE ? "Stored" : "Defl:N", st.crc,
                    st.encryption_method != ZIP_EM_NONE ? 'E' : ' ');
            }
            continue;
        }
        if (HasControlCharacter(name)) {
            fail(PK_ERR, "  skipping: " + shown + " has a control character in its name; it was not extracted.\n");
            continue;
        }
        const bool isDir = !name.empty() && (name.back() == '/' || name.back() == '\\');
        SafeName safe = Sanitise(name, dcl.SpaceToUnderscore != 0);
        if (safe.stripped)
            fail(PK_WARN, "  warning: " + shown + " tries to leave the extraction folder; unsafe parts removed.\n");
        if (isDir) {
            std::string why;
            if (writing && dcl.ndflag && !safe.parts.empty() && !MakeFolders(dir, safe.parts, safe.parts.size(), why))
                fail(PK_ERR, "  error: " + why + ".\n");
            continue;
        }
        if (safe.parts.empty()) {
            fail(PK_WARN, "  skipping: " + shown + " has no usable file name.\n");
            continue;
        }
        if (symlink) {
            fail(PK_WARN, "  skipping: " + shown + " is a symbolic link; links are not created.\n");
            continue;
        }
        std::vector<std::string> parts = dcl.ndflag ? safe.parts : std::vector<std::string>{safe.parts.back()};
        fs::path target = dir;
        std::string relative;
        for (const auto& p : parts) {
            target /= PathOf(p);
            relative += (relative.empty() ? "" : "/") + p;
        }

        if (writing) {
            if (!written.insert(files::FoldCase(relative)).second) {
                fail(PK_WARN,
                     "  skipping: " + shown + " would overwrite another file of this archive (" + relative + ").\n");
                continue;
            }
            auto tst = fs::symlink_status(target, ec);
            files::FileId existing;
            const bool identified = files::Identify(Utf8(target), existing, true);
            if (identified && archiveId && SameFile(existing, *archiveId)) {
                fail(PK_WARN, "  skipping: " + shown + " would overwrite the archive itself.\n");
                continue;
            }
            if (fs::is_directory(tst)) {
                fail(PK_ERR, "  error: cannot write " + Utf8(target) + ": a folder of that name exists.\n");
                continue;
            }
            if (fs::exists(tst)) {
                const std::time_t changed = identified ? ChangedAt(existing) : std::time(nullptr);
                if ((dcl.ExtractOnlyNewer || dcl.nfflag) && changed >= st.mtime)
                    continue;
                if (!dcl.noflag && !overwriteAll) {
                    if (skipExisting || !uf || !uf->replace)
                        continue;
                    std::string shownPath = Utf8(target);
                    std::vector<char> buf(shownPath.begin(), shownPath.end());
                    buf.resize(std::max<std::size_t>(buf.size() + 1, 257), '\0');
                    std::int32_t answer = uf->replace(buf.data());
                    if (answer == IDM_REPLACE_NONE) {
                        skipExisting = true;
                        continue;
                    }
                    if (answer == IDM_REPLACE_ALL)
                        overwriteAll = true;
                    else if (answer != IDM_REPLACE_YES)
                        continue;
                }
            } else if (dcl.nfflag) {
                continue; // freshen: existing files only
            }
            std::string why;
            if (parts.size() > 1 && !MakeFolders(dir, parts, parts.size() - 1, why)) {
                fail(PK_ERR, "  error: " + why + ".\n");
                continue;
            }
        }

        const std::optional<fs::path> out = writing ? std::optional<fs::path>(target) : std::nullopt;
        if (st.encryption_method == ZIP_EM_NONE) {
            pending.push_back({shown, target});
            pool.Submit(index, st, out);
            if (auto end = drain(window - 1))
                return *end;
            continue;
        }
        // An encrypted entry is read here, after the entries before it, as the password is asked for here.
        if (auto end = drain(0))
            return *end;
        Extracted r;
        for (;;) {
            if (!password) {
                if (noMorePasswords || !uf || !uf->password) {
                    r.outcome = Outcome::NoPassword;
                    break;
                }
                char buf[PasswordBufferSize] = {};
                if (uf->password(buf, PasswordBufferSize, "Enter password for: ", name.c_str()) != 0) {
                    noMorePasswords = true;
                    r.outcome = Outcome::NoPassword;
                    break;
                }
                buf[PasswordBufferSize - 1] = '\0';
                // Archive passwords are bytes: the Windows tools that made these archives used the ANSI code page.
                password = files::ToAnsi(std::string(buf));
            }
            r = ExtractEntry(shared, index, st, password->c_str(), out ? &*out : nullptr, [&](std::uint64_t n) {
                here += n;
                return report();
            });
            if (r.outcome == Outcome::BadPassword) {
                print("  incorrect password for " + shown + "\n");
                password.reset();
                continue;
            }
            break;
        }
        if (auto end = finish(shown, target, r))
            return *end;
    }
    if (auto end = drain(0))
        return *end;
    if (failed)
        print("  " + std::to_string(failed) + " problem(s) in " + Utf8(archive) + "; not every file was extracted.\n");
    else if (quiet < 2)
        print(dcl.ntflag ? "No errors detected in compressed data of " + Utf8(archive) + ".\n"
                         : "  " + std::to_string(done) + " file(s) extracted.\n");
    return result;
}

void FillText(char* field, const char* value) {
    if (!field)
        return;
    std::size_t room = std::strlen(field); // the caller pre-fills the field with blanks
    std::size_t n = std::min(room, std::strlen(value));
    std::memcpy(field, value, n);
    field[n] = '\0';
}

} // namespace

// ---- zip32 ----

std::int32_t ZpInit(const ZIPUSERFUNCTIONS* lpZipUserFunc) {
    S().zipFunctions = lpZipUserFunc ? *lpZipUserFunc : ZIPUSERFUNCTIONS{};
    return 1;
}

std::int32_t ZpSetOptions(const ZPOPT* lpOpts) {
    State& s = S();
    s.options = lpOpts ? *lpOpts : ZPOPT{};
    s.rootDir = s.options.szRootDir ? std::optional<std::string>(s.options.szRootDir) : std::nullopt;
    s.options.Date = s.options.szRootDir = s.options.szTempDir = nullptr;
    return 1;
}

std::int32_t ZpArchive(ZCL C) {
    return Archive(C);
}

// ---- unzip32 ----

std::int32_t UzpVersion2(UzpVer* version) {
    if (!version)
        return 0;
    FillText(version->betalevel, "");
    FillText(version->date, "");
    FillText(version->zlib_version, zlibVersion());
    const std::uint8_t ver[4] = {6, 0, 0, 0};
    std::memcpy(version->unzip, ver, 4);
    std::memcpy(version->windll, ver, 4);
    return 0;
}

std::int32_t Wiz_SingleEntryUnzip(std::int32_t ifnc, const char* const* ifnv, std::int32_t xfnc,
                                  const char* const* xfnv, const DCL* lpDCL, USERFUNCTIONS* lpUserFunc) {
    (void)ifnv;
    (void)xfnv;
    const DCL dcl = lpDCL ? *lpDCL : DCL{};
    return Unzip(ifnc, xfnc, dcl, lpUserFunc);
}

void SetProgressHook(zel::ProgressHook hook) {
    S().hook = std::move(hook);
}

void SetFileFilter(FileFilter filter) {
    S().filter = std::move(filter);
}

namespace {
const Zip32Library g_Zip32{&ZpInit, &ZpSetOptions, &ZpArchive};
const Unzip32Library g_Unzip32{&UzpVersion2, &Wiz_SingleEntryUnzip};
} // namespace

const Zip32Library* Zip32() {
    return &g_Zip32;
}

const Unzip32Library* Unzip32() {
    return &g_Unzip32;
}

} // namespace zipengine
