#include "platform/zipengine/UnzipRun.h"

#include "platform/zipengine/EndRecords.h"
#include "platform/zipengine/EntryNames.h"
#include "platform/zipengine/Packer.h"
#include "platform/zipengine/Paths.h"
#include "platform/zipengine/Printer.h"
#include "platform/zipengine/Progress.h"
#include "platform/zipengine/ResultCodes.h"
#include "platform/zipengine/Settings.h"
#include "platform/zipengine/Unpacker.h"
#include "platform/zipengine/ZipHandle.h"

#include "platform/error/ProgressHook.h"
#include "platform/files/Entries.h"
#include "platform/files/Names.h"
#include "platform/files/Runtime.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zipengine::detail {

namespace {

inline constexpr std::int32_t PasswordBufferSize = 81;

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

} // namespace

std::int32_t RunUnzip(std::int32_t ifnc, std::int32_t xfnc, const DCL& dcl, USERFUNCTIONS* uf) {
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
    Progress progress(EngineSettings().hook);
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
                r.detail = ErrnoText(e);
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

} // namespace zipengine::detail
