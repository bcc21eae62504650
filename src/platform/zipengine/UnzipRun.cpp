#include "platform/zipengine/UnzipRun.h"

#include "platform/zipengine/EndRecords.h"
#include "platform/zipengine/EntryNames.h"
#include "platform/zipengine/Os.h"
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

constexpr std::int32_t PasswordBufferSize = 81;

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
            why = Shown(p) + " is not a folder";
            return false;
        }
        if (!fs::exists(st) && !fs::create_directory(p, ec) && ec) {
            why = "could not create " + Shown(p) + " (" + ec.message() + ")";
            return false;
        }
    }
    return true;
}

// The run's result when it ends at a step; nothing when it goes on.
using Ending = std::optional<std::int32_t>;

// One run: its steps, and one entry's steps, as member functions in the order they run.
class UnzipRun {
public:
    UnzipRun(const DCL& dcl, USERFUNCTIONS* uf);
    std::int32_t Run(std::int32_t ifnc, std::int32_t xfnc);

private:
    struct Target {
        fs::path path;
        std::vector<std::string> parts; // under the extraction folder
        std::string relative;           // the parts joined with "/"
    };
    struct Pending {
        std::string shown;
        fs::path target;
    };

    // ---- the steps of a run, in the order they run ----
    Ending TakeRequest(std::int32_t ifnc, std::int32_t xfnc);
    Ending RefuseTooManyEntries();
    Ending Open();
    Ending MakeExtractionFolder();
    void ShowMembersAndComment();
    Ending RefuseTooLarge();
    Ending ExtractEntries();
    std::int32_t Summarize();

    // ---- one entry, in the order its steps run ----
    Ending NextEntry(zip_int64_t i);
    bool Stat(zip_uint64_t index, zip_stat_t& st, bool& symlink);
    Ending StopIfAsked(const std::string& name);
    void List(const zip_stat_t& st, const std::string& name);
    std::optional<Target> TargetOf(const std::string& name, const std::string& shown, bool symlink);
    bool MayWrite(const Target& target, const zip_stat_t& st, const std::string& shown);
    bool MayReplace(const fs::path& target, std::time_t changed, std::time_t entryTime);
    Ending Queue(zip_uint64_t index, const zip_stat_t& st, const std::string& shown, const Target& target);
    Ending ExtractWithPassword(zip_uint64_t index, const zip_stat_t& st, const std::string& name,
                               const std::string& shown, const Target& target);

    // ---- putting results in place ----
    Ending Drain(std::size_t keep);
    Ending PutInPlace(const std::string& shown, const fs::path& target, ExtractResult& r);
    void NoteProblem(std::int32_t code, const std::string& text);
    bool Report();
    std::int32_t Cancelled(const std::string& shown);

    const DCL& m_Dcl;
    USERFUNCTIONS* m_Uf;
    Printer m_Print;
    // A listing only shows what the archive declares; whatever reads or writes its data stays within bounds.
    const bool m_Listing;
    const bool m_Writing;
    Progress m_Progress;
    fs::path m_Archive;
    std::optional<files::FileId> m_ArchiveId;
    fs::path m_Dir;
    zip_int64_t m_Count = 0;
    std::uint64_t m_Total = 0; // the entries' declared sizes

    // Entries that need no password are read on worker threads; their results are put in place here, in entry
    // order, so that what a stopped run leaves is the same as if the entries had been read one by one.
    ZipPtr m_Zip;
    SharedArchive m_Shared{nullptr, {}};
    std::optional<ExtractPool> m_Pool;
    std::deque<Pending> m_Pending;
    const std::size_t m_Window = std::size_t(4) * PackThreads();
    std::uint64_t m_Here = 0; // bytes read on this thread

    std::int32_t m_Result = 0;
    int m_Failed = 0;
    int m_Done = 0;
    std::set<std::string> m_Written; // targets of this run, compared without regard to case
    std::optional<std::string> m_Password;
    bool m_NoMorePasswords = false;
    bool m_SkipExisting = false;
    bool m_OverwriteAll = false;
};

UnzipRun::UnzipRun(const DCL& dcl, USERFUNCTIONS* uf)
    : m_Dcl(dcl), m_Uf(uf), m_Print(uf ? uf->print : nullptr, UnzipPrintBufferSize), m_Listing(dcl.nvflag != 0),
      m_Writing(!dcl.ntflag && !dcl.nvflag), m_Progress(EngineSettings().hook) {}

std::int32_t UnzipRun::Run(std::int32_t ifnc, std::int32_t xfnc) {
    if (Ending end = TakeRequest(ifnc, xfnc))
        return *end;
    if (Ending end = RefuseTooManyEntries())
        return *end;
    if (Ending end = Open())
        return *end;
    if (Ending end = MakeExtractionFolder())
        return *end;
    ShowMembersAndComment();
    if (Ending end = RefuseTooLarge())
        return *end;
    if (Ending end = ExtractEntries())
        return *end;
    return Summarize();
}

Ending UnzipRun::TakeRequest(std::int32_t ifnc, std::int32_t xfnc) {
    if (ifnc > 0 || xfnc > 0) {
        m_Print("unzip error: include and exclude lists are not supported.\n");
        return PK_PARAM;
    }
    if (!m_Dcl.lpszZipFN || !*m_Dcl.lpszZipFN) {
        m_Print("unzip error: no archive name was given.\n");
        return PK_PARAM;
    }
    m_Archive = ResolveNoCase(PathOf(files::NativePath(m_Dcl.lpszZipFN)));
    return {};
}

// libzip reads the count from the same end records, taking time and memory for each entry.
Ending UnzipRun::RefuseTooManyEntries() {
    if (const auto declared = DeclaredEntries(m_Archive); declared && *declared > MaxEntries && !m_Listing) {
        m_Print("unzip error: " + Shown(m_Archive) + " holds " + std::to_string(*declared) +
                " files, far more than a " + "data set (at most " + std::to_string(MaxEntries) +
                "); the archive is damaged or not a data set, " + "and nothing was extracted.\n");
        return PK_ERR;
    }
    return {};
}

// Opening checks every entry's header: a while for a large archive, so the hook keeps being called. A cancel asked for
// meanwhile is acted on at the first entry.
Ending UnzipRun::Open() {
    int err = 0;
    m_Zip = zel::RunBeside([&] { return ZipPtr(zip_open(Utf8(m_Archive).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err)); },
                           [&] { m_Progress.Poll(); });
    if (!m_Zip) {
        if (err == ZIP_ER_NOENT || err == ZIP_ER_OPEN)
            m_Print("unzip error: cannot find or open " + Shown(m_Archive) + ".\n");
        else if (std::string twice; err == ZIP_ER_EXISTS && !(twice = DuplicateEntryName(m_Archive)).empty())
            m_Print("unzip error: " + Shown(m_Archive) + " holds more than one entry named " + Printable(twice) +
                    "; nothing was extracted.\n");
        else
            m_Print("unzip error: " + Shown(m_Archive) + " is not a zip archive or it is damaged.\n");
        return PK_NOZIP;
    }
    m_Shared.za = m_Zip.get();
    if (files::FileId id; files::Identify(Utf8(m_Archive), id, true))
        m_ArchiveId = id;
    return {};
}

Ending UnzipRun::MakeExtractionFolder() {
    m_Dir = (m_Dcl.lpszExtractDir && *m_Dcl.lpszExtractDir)
                ? ResolveNoCase(PathOf(files::NativePath(m_Dcl.lpszExtractDir)))
                : fs::path(".");
    std::error_code ec;
    if (m_Writing && !fs::is_directory(m_Dir, ec)) {
        fs::create_directories(m_Dir, ec);
        if (!fs::is_directory(m_Dir, ec)) {
            m_Print("unzip error: could not create the folder " + Shown(m_Dir) + ".\n");
            return PK_PARAM;
        }
    }
    return {};
}

void UnzipRun::ShowMembersAndComment() {
    m_Count = zip_get_num_entries(m_Zip.get(), 0);
    if (m_Uf)
        m_Uf->NumMembers = static_cast<std::uint32_t>(m_Count);
    if (m_Dcl.nzflag) {
        int clen = 0;
        const char* comment = zip_get_archive_comment(m_Zip.get(), &clen, 0);
        if (comment && clen > 0)
            m_Print(std::string(comment, static_cast<std::size_t>(clen)) + "\n");
    }
}

// The declared sizes, checked against what a data set holds and against the disk before anything is written there;
// the data of an entry may not run past its declared size (ExtractEntry).
Ending UnzipRun::RefuseTooLarge() {
    bool beyond = false;
    for (zip_int64_t i = 0; i < m_Count && !beyond; ++i) {
        zip_stat_t st;
        if (zip_stat_index(m_Zip.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
            beyond = st.size > MaxTotalSize - m_Total;
            m_Total += beyond ? 0 : st.size;
        }
    }
    if (beyond && !m_Listing) {
        m_Print("unzip error: the files in " + Shown(m_Archive) + " would take more than " + Amount(MaxTotalSize) +
                ", far more than a data set; the archive is damaged or not a data set, and nothing was extracted.\n");
        return PK_ERR;
    }
    if (m_Writing) {
        const std::uint64_t needed = NeededSpace(m_Total, static_cast<std::uint64_t>(m_Count));
        std::error_code ec;
        const fs::space_info space = fs::space(m_Dir, ec);
        if (!ec && space.available < needed) {
            m_Print("unzip error: there is not enough free space on the drive " + DriveOf(m_Dir) + " to extract " +
                    Shown(m_Archive) + ": its files take " + Amount(m_Total) + ", and the drive has " +
                    Amount(space.available) +
                    " free (a little more than the files take must stay free). Make room on that drive, then try "
                    "again.\n");
            return PK_DISK;
        }
    }
    return {};
}

Ending UnzipRun::ExtractEntries() {
    m_Progress.SetTotal(m_Total);
    // This call comes after the opening and before any entry is read.
    m_Progress.Report(0);
    m_Pool.emplace(m_Shared, PackThreads());
    for (zip_int64_t i = 0; i < m_Count; ++i)
        if (Ending end = NextEntry(i))
            return end;
    return Drain(0);
}

std::int32_t UnzipRun::Summarize() {
    if (m_Failed)
        m_Print("  " + std::to_string(m_Failed) + " problem(s) in " + Shown(m_Archive) +
                "; not every file was extracted.\n");
    else if (m_Dcl.fQuiet < 2)
        m_Print(m_Dcl.ntflag ? "No errors detected in compressed data of " + Shown(m_Archive) + ".\n"
                             : "  " + std::to_string(m_Done) + " file(s) extracted.\n");
    return m_Result;
}

// ---- one entry ----

Ending UnzipRun::NextEntry(zip_int64_t i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    bool symlink = false;
    if (!Stat(index, st, symlink)) {
        NoteProblem(PK_ERR, "  error: entry " + std::to_string(i + 1) + " of the archive cannot be read.\n");
        return {};
    }
    const std::string name = st.name;
    const std::string shown = Printable(name);
    if (!Report())
        return Cancelled(shown);
    if (Ending end = StopIfAsked(name))
        return end;
    if (m_Listing) {
        List(st, name);
        return {};
    }
    const std::optional<Target> target = TargetOf(name, shown, symlink);
    if (!target || (m_Writing && !MayWrite(*target, st, shown)))
        return {};
    if (st.encryption_method == ZIP_EM_NONE)
        return Queue(index, st, shown, *target);
    return ExtractWithPassword(index, st, name, shown, *target);
}

bool UnzipRun::Stat(zip_uint64_t index, zip_stat_t& st, bool& symlink) {
    std::lock_guard guard(m_Shared.lock);
    const bool readable = zip_stat_index(m_Zip.get(), index, 0, &st) == 0 && (st.valid & ZIP_STAT_NAME);
    symlink = readable && IsSymlinkEntry(m_Zip.get(), index);
    return readable;
}

// The service callback may stop the run before each entry; what was read up to there is put in place.
Ending UnzipRun::StopIfAsked(const std::string& name) {
    if (!m_Uf || !m_Uf->ServCallBk || m_Uf->ServCallBk(name.c_str(), static_cast<std::uint32_t>(name.size())) == 0)
        return {};
    if (Ending end = Drain(0))
        return end;
    m_Print("unzip: stopped at the caller's request.\n");
    return IZ_CTRLC;
}

void UnzipRun::List(const zip_stat_t& st, const std::string& name) {
    if (!m_Uf || !m_Uf->SendApplicationMessage)
        return;
    std::tm tm{};
    if (std::tm local{}; os::LocalTime(st.mtime, local))
        tm = local;
    auto factor = st.size ? static_cast<std::uint32_t>(100 - (st.comp_size * 100 / st.size)) : 0u;
    m_Uf->SendApplicationMessage(static_cast<std::uint32_t>(st.size), static_cast<std::uint32_t>(st.comp_size), factor,
                                 static_cast<std::uint32_t>(tm.tm_mon + 1), static_cast<std::uint32_t>(tm.tm_mday),
                                 static_cast<std::uint32_t>(tm.tm_year + 1900), static_cast<std::uint32_t>(tm.tm_hour),
                                 static_cast<std::uint32_t>(tm.tm_min), ' ', name.c_str(),
                                 st.comp_method == ZIP_CM_STORE ? "Stored" : "Defl:N", st.crc,
                                 st.encryption_method != ZIP_EM_NONE ? 'E' : ' ');
}

// Where the entry goes: its safe name's parts under the extraction folder (the last one alone without ndflag).
// Nothing for an entry that is skipped or a folder (made here with ndflag).
std::optional<UnzipRun::Target> UnzipRun::TargetOf(const std::string& name, const std::string& shown, bool symlink) {
    if (HasControlCharacter(name)) {
        NoteProblem(PK_ERR, "  skipping: " + shown + " has a control character in its name; it was not extracted.\n");
        return std::nullopt;
    }
    const bool isDir = !name.empty() && (name.back() == '/' || name.back() == '\\');
    SafeName safe = Sanitise(name, m_Dcl.SpaceToUnderscore != 0);
    if (safe.stripped)
        NoteProblem(PK_WARN, "  warning: " + shown + " tries to leave the extraction folder; unsafe parts removed.\n");
    if (isDir) {
        std::string why;
        if (m_Writing && m_Dcl.ndflag && !safe.parts.empty() && !MakeFolders(m_Dir, safe.parts, safe.parts.size(), why))
            NoteProblem(PK_ERR, "  error: " + why + ".\n");
        return std::nullopt;
    }
    if (safe.parts.empty()) {
        NoteProblem(PK_WARN, "  skipping: " + shown + " has no usable file name.\n");
        return std::nullopt;
    }
    if (symlink) {
        NoteProblem(PK_WARN, "  skipping: " + shown + " is a symbolic link; links are not created.\n");
        return std::nullopt;
    }
    Target target{m_Dir, m_Dcl.ndflag ? safe.parts : std::vector<std::string>{safe.parts.back()}, {}};
    for (const auto& p : target.parts) {
        target.path /= PathOf(p);
        target.relative += (target.relative.empty() ? "" : "/") + p;
    }
    return target;
}

// Whether the entry may be written to its target: once per run and name, never over the archive or a folder, over an
// existing file only as the record and the user say, and only where its folders can be made.
bool UnzipRun::MayWrite(const Target& target, const zip_stat_t& st, const std::string& shown) {
    if (!m_Written.insert(files::FoldCase(target.relative)).second) {
        NoteProblem(PK_WARN, "  skipping: " + shown + " would overwrite another file of this archive (" +
                                 target.relative + ").\n");
        return false;
    }
    std::error_code ec;
    const auto status = fs::symlink_status(target.path, ec);
    files::FileId existing;
    const bool identified = files::Identify(Utf8(target.path), existing, true);
    if (identified && m_ArchiveId && SameFile(existing, *m_ArchiveId)) {
        NoteProblem(PK_WARN, "  skipping: " + shown + " would overwrite the archive itself.\n");
        return false;
    }
    if (fs::is_directory(status)) {
        NoteProblem(PK_ERR, "  error: cannot write " + Shown(target.path) + ": a folder of that name exists.\n");
        return false;
    }
    if (fs::exists(status)) {
        const std::time_t changed = identified ? ChangedAt(existing) : std::time(nullptr);
        if (!MayReplace(target.path, changed, st.mtime))
            return false;
    } else if (m_Dcl.nfflag) {
        return false; // freshen: existing files only
    }
    std::string why;
    if (target.parts.size() > 1 && !MakeFolders(m_Dir, target.parts, target.parts.size() - 1, why)) {
        NoteProblem(PK_ERR, "  error: " + why + ".\n");
        return false;
    }
    return true;
}

// An existing file: kept when it is as new as the entry and only newer files are wanted; replaced when the record
// says so, else as the replace callback answers (for every file after it too, for "all" and "none").
bool UnzipRun::MayReplace(const fs::path& target, std::time_t changed, std::time_t entryTime) {
    if ((m_Dcl.ExtractOnlyNewer || m_Dcl.nfflag) && changed >= entryTime)
        return false;
    if (m_Dcl.noflag || m_OverwriteAll)
        return true;
    if (m_SkipExisting || !m_Uf || !m_Uf->replace)
        return false;
    std::string shownPath = Shown(target);
    std::vector<char> buf(shownPath.begin(), shownPath.end());
    buf.resize(std::max<std::size_t>(buf.size() + 1, 257), '\0');
    const std::int32_t answer = m_Uf->replace(buf.data());
    if (answer == IDM_REPLACE_NONE) {
        m_SkipExisting = true;
        return false;
    }
    if (answer == IDM_REPLACE_ALL)
        m_OverwriteAll = true;
    return answer == IDM_REPLACE_ALL || answer == IDM_REPLACE_YES;
}

// An entry without a password goes to the workers; the oldest results are put in place while too many wait.
Ending UnzipRun::Queue(zip_uint64_t index, const zip_stat_t& st, const std::string& shown, const Target& target) {
    m_Pending.push_back({shown, target.path});
    m_Pool->Submit(index, st, m_Writing ? std::optional<fs::path>(target.path) : std::nullopt);
    return Drain(m_Window - 1);
}

// An encrypted entry is read here, after the entries before it, as the password is asked for here; a wrong one is
// asked for again, and one password serves every entry after it.
Ending UnzipRun::ExtractWithPassword(zip_uint64_t index, const zip_stat_t& st, const std::string& name,
                                     const std::string& shown, const Target& target) {
    if (Ending end = Drain(0))
        return end;
    const fs::path* out = m_Writing ? &target.path : nullptr;
    ExtractResult r;
    for (;;) {
        if (!m_Password) {
            if (m_NoMorePasswords || !m_Uf || !m_Uf->password) {
                r.status = ExtractStatus::NoPassword;
                break;
            }
            char buf[PasswordBufferSize] = {};
            if (m_Uf->password(buf, PasswordBufferSize, "Enter password for: ", name.c_str()) != 0) {
                m_NoMorePasswords = true;
                r.status = ExtractStatus::NoPassword;
                break;
            }
            buf[PasswordBufferSize - 1] = '\0';
            // Archive passwords are bytes: the Windows tools that made these archives used the ANSI code page.
            m_Password = files::ToAnsi(std::string(buf));
        }
        r = ExtractEntry(m_Shared, index, st, m_Password->c_str(), out, [&](std::uint64_t n) {
            m_Here += n;
            return Report();
        });
        if (r.status == ExtractStatus::BadPassword) {
            m_Print("  incorrect password for " + shown + "\n");
            m_Password.reset();
            continue;
        }
        break;
    }
    return PutInPlace(shown, target.path, r);
}

// ---- putting results in place ----

// Puts the oldest results in place until no more than `keep` are outstanding.
Ending UnzipRun::Drain(std::size_t keep) {
    while (m_Pending.size() > keep) {
        std::optional<ExtractResult> r = m_Pool->TakeOldest(zel::ProgressInterval);
        if (!r) {
            if (!Report())
                return Cancelled({});
            continue;
        }
        const Pending p = std::move(m_Pending.front());
        m_Pending.pop_front();
        if (Ending end = PutInPlace(p.shown, p.target, *r))
            return end;
    }
    return {};
}

// Puts one entry in place and reports it.
Ending UnzipRun::PutInPlace(const std::string& shown, const fs::path& target, ExtractResult& r) {
    if (r.status == ExtractStatus::Ok && r.temp) {
        if (int e = r.temp->CommitTo(Utf8(target))) {
            r.status = ExtractStatus::WriteError;
            r.detail = ErrnoText(e);
        }
    }
    switch (r.status) {
    case ExtractStatus::Ok:
        ++m_Done;
        if (m_Dcl.fQuiet < 2)
            m_Print((m_Writing ? "  inflating: " + Shown(target) : "    testing: " + shown + "   OK") + "\n");
        break;
    case ExtractStatus::NoPassword:
        NoteProblem(IZ_BADPWD, "  skipping: " + shown + " needs a password, and none was given.\n");
        break;
    case ExtractStatus::Unsupported:
        NoteProblem(PK_ERR, "  skipping: " + shown + " is packed in a way that is not supported (" + r.detail + ").\n");
        break;
    case ExtractStatus::BadPassword:
    case ExtractStatus::Damaged:
        NoteProblem(PK_ERR, "  error: " + shown + " is damaged (" + r.detail + "); it was not extracted.\n");
        break;
    case ExtractStatus::WriteError:
        NoteProblem(PK_ERR, "  error: could not write " + Shown(target) + " (" + r.detail + ").\n");
        break;
    case ExtractStatus::DiskFull:
        m_Pool->Stop();
        m_Print("unzip error: there is not enough disk space to extract " + shown + " into " + Shown(m_Dir) + ".\n");
        return PK_DISK;
    case ExtractStatus::Cancelled:
        m_Pool->Stop();
        m_Print("unzip: cancelled; " + shown + " and the files after it were not extracted.\n");
        return IZ_CTRLC;
    }
    return {};
}

// A problem with one entry: printed and counted, and the run goes on.
void UnzipRun::NoteProblem(std::int32_t code, const std::string& text) {
    m_Print(text);
    m_Result = std::max(m_Result, code);
    ++m_Failed;
}

// The hook, with the bytes read here and by the workers; false once the caller asked to cancel.
bool UnzipRun::Report() {
    return m_Progress.Update(m_Here + m_Pool->Done());
}

std::int32_t UnzipRun::Cancelled(const std::string& shown) {
    m_Pool->Stop();
    m_Print("unzip: cancelled; " + (m_Pending.empty() ? shown : m_Pending.front().shown) +
            " and the files after it were not extracted.\n");
    return IZ_CTRLC;
}

} // namespace

std::int32_t RunUnzip(std::int32_t ifnc, std::int32_t xfnc, const DCL& dcl, USERFUNCTIONS* uf) {
    return UnzipRun(dcl, uf).Run(ifnc, xfnc);
}

} // namespace zipengine::detail
