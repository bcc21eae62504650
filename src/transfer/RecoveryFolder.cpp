#include "transfer/RecoveryFolder.h"

#include "platform/error/Error.h"
#include "platform/error/ProgressHook.h"
#include "platform/files/Files.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace {

const char* const Source = "RecoveryFolder";
const char* const JournalName = "journal";

// "data_qmx\x.qmx" -> "data_qmx\"; "x.qmx" -> "".
std::string FolderOf(const std::string& relative) {
    const auto cut = relative.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : relative.substr(0, cut + 1);
}

std::string NameOf(const std::string& relative) {
    return relative.substr(FolderOf(relative).size());
}

std::string Stamp() {
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", local);
    return text;
}

std::string Reason(int err) {
    return std::generic_category().message(err);
}

// The CRC-32 of a whole file; nothing when it cannot be read.
std::optional<std::uint32_t> CrcOf(const std::string& path) {
    std::FILE* file = files::OpenFile(files::NativePath(path), "rb");
    if (!file)
        return std::nullopt;
    std::vector<unsigned char> buffer(1 << 16);
    uLong crc = crc32(0, nullptr, 0);
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return static_cast<std::uint32_t>(crc);
}

// Removing a file can wait on the disk for milliseconds (a drive that trims freed blocks), while the waits of
// files removed at the same time overlap: thousands of files go several at once.
constexpr std::size_t AtOnceLimit = 8;
constexpr std::size_t LargestBatch = 256;

// Runs work(i) for every i in [first, end), on up to AtOnceLimit threads, and returns once all are done; the
// first exception any of them threw comes through.
void AtOnce(std::size_t first, std::size_t end, const std::function<void(std::size_t)>& work) {
    std::atomic<std::size_t> next{first};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto run = [&] {
        for (std::size_t i = next++; i < end; i = next++) {
            try {
                work(i);
            } catch (...) {
                const std::lock_guard guard(failureLock);
                if (!failure)
                    failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t n = 1; n < std::min(AtOnceLimit, end - first); ++n) {
        try {
            helpers.emplace_back(run);
        } catch (const std::system_error&) {
            break; // fewer threads: the work is the same
        }
    }
    run();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

// Runs work(i) for every i in [0, count) at once in batches, each through `beside`, which keeps the window alive
// until it is done; then each item of the batch counts as a step, in order, so that no step is counted while
// work is under way. The batches grow from one item, so that the first step comes at once.
void InBatches(std::size_t count, const std::function<void(std::size_t)>& work,
               const std::function<void(const std::function<void()>&)>& beside, const std::function<void()>& step) {
    std::size_t first = 0;
    for (std::size_t batch = 1; first < count; batch = std::min(batch * 2, LargestBatch)) {
        const std::size_t end = std::min(count, first + batch);
        beside([&] { AtOnce(first, end, work); });
        for (; first < end; ++first)
            step();
    }
}

// Removes the folders under and including `folder` that hold nothing: only what is empty, never a file.
void PruneEmpty(const std::string& folder) {
    const files::Listing listing = files::List(folder);
    for (const std::string& sub : listing.folders)
        PruneEmpty(folder + sub + "\\");
    files::RemoveFolderIfEmpty(folder);
}

} // namespace

RecoveryFolder::RecoveryFolder(std::string dataFolder, StepHook step)
    : m_DataFolder(std::move(dataFolder)), m_Step(std::move(step)) {}

std::string RecoveryFolder::Path() const {
    return m_DataFolder + "ZEL-RECOVERY\\";
}

std::string RecoveryFolder::DownloadPath() const {
    return Path() + "FIXED.ZIP";
}

std::string RecoveryFolder::StagingPath() const {
    return Path() + "new\\";
}

bool RecoveryFolder::Pending() const {
    return files::ExistsPath(files::NativePath(Path() + JournalName));
}

std::vector<std::string> RecoveryFolder::KeptFolders() const {
    std::vector<std::string> kept;
    for (const std::string& name : files::List(Path()).folders)
        if (name.rfind("kept-", 0) == 0)
            kept.push_back(Path() + name + "\\");
    return kept;
}

void RecoveryFolder::KeptAlive(const std::function<void()>& work) {
    // Writing a large data set out can take seconds: the window stays alive meanwhile, and its figures stand.
    zel::RunBeside(work, [this] {
        if (m_Step)
            m_Step(m_Done, m_Total);
    });
}

void RecoveryFolder::Step() {
    ++m_Done;
    if (m_Step && !m_Step(m_Done, m_Total) && !m_Committed)
        throw zel::Error(zel::rt::PathFileAccessError, Source, "The receive was cancelled.");
}

void RecoveryFolder::WriteJournal() {
    const std::string bytes = m_Journal.Serialize();
    const int err = files::ReplaceFile(files::NativePath(Path() + JournalName),
                                       [&](int fd) { return files::WriteAll(fd, bytes.data(), bytes.size()); });
    if (err != 0)
        throw zel::rt::Raise(files::IsDiskFull(err) ? zel::rt::DiskFull : zel::rt::PathFileAccessError, Source);
    files::SyncFolder(Path());
}

std::string RecoveryFolder::CopyFor(const std::string& place, CopyNames& taken) const {
    if (taken.names.empty()) {
        for (const Journal::Saved& s : m_Journal.saved)
            taken.names.insert(files::FoldCase(s.copy));
        for (const std::string& leftover : m_Journal.leftovers)
            taken.names.insert(files::FoldCase(leftover));
    }
    // An earlier receive's copy that could not be removed yet may hold the usual name: the next free folder.
    for (int n = 1;; ++n) {
        const std::string copy = (n == 1 ? std::string("saved\\") : "saved-" + std::to_string(n) + "\\") + place;
        const std::string folder = FolderOf(copy);
        if (taken.listed.insert(folder).second)
            for (const std::string& name : files::List(Path() + folder).files)
                taken.names.insert(files::FoldCase(folder + name));
        if (taken.names.insert(files::FoldCase(copy)).second)
            return copy;
    }
}

void RecoveryFolder::Begin() {
    m_Committed = false;
    m_Done = 0;
    m_Total = 0;
    // A finished receive whose old copies could not all be removed leaves them to whichever transaction comes next.
    std::optional<Journal> earlier;
    if (Pending()) {
        earlier = ReadJournal();
        if (!earlier || earlier->state != Journal::State::Committed)
            throw zel::Error(zel::rt::PathFileAccessError, Source,
                             "An earlier receive in " + Path() + " has not been put back yet.");
    }
    m_Journal = Journal{};
    if (earlier) {
        m_Journal.leftovers = earlier->leftovers;
        for (const Journal::Saved& s : earlier->saved)
            m_Journal.leftovers.push_back(s.copy);
    }
    // Each sync can wait on the disk: the window stays alive meanwhile.
    KeptAlive([&] {
        files::MakeFolders(Path());
        files::SyncFolder(m_DataFolder);
        WriteJournal();
    });
}

void RecoveryFolder::Save(const std::vector<std::string>& relativeFiles) {
    const std::size_t first = m_Journal.saved.size();
    // A look at every file and the journal's sync, beside the window.
    KeptAlive([&] {
        for (const std::string& place : relativeFiles)
            if (files::ReadOnlyExact(m_DataFolder + place))
                throw zel::rt::Raise(zel::rt::PathFileAccessError, Source);
        CopyNames taken;
        for (const std::string& place : relativeFiles)
            m_Journal.saved.push_back({place, CopyFor(place, taken)});
        WriteJournal();
    });
    m_Total += relativeFiles.size();
    std::set<std::string> made;
    for (std::size_t i = first; i < m_Journal.saved.size(); ++i) {
        const Journal::Saved& s = m_Journal.saved[i];
        if (made.insert(FolderOf(s.copy)).second)
            files::MakeFolders(Path() + FolderOf(s.copy));
        files::Move(m_DataFolder + s.place, Path() + s.copy);
        Step();
    }
}

void RecoveryFolder::Install(const std::vector<Placement>& plan) {
    m_Done = 0;
    m_Total = plan.size();
    std::vector<Journal::Placed> placed;
    placed.reserve(plan.size());
    KeptAlive([&] {
        // The staged files must be on disk before the journal names them.
        files::SyncFiles(StagingPath());
        for (const Placement& p : plan) {
            Journal::Placed entry;
            if (!files::Identify(StagingPath() + p.staged, entry.id))
                throw zel::Error(zel::rt::FileNotFound, Source, "The unpacked file " + p.staged + " is missing.");
            entry.target = p.target;
            entry.crc = p.crc;
            placed.push_back(std::move(entry));
        }
    });

    // One listing per folder: what stands in each place, found without regard to case as the product would.
    std::map<std::string, std::map<std::string, std::string>> fileIn;
    std::vector<std::string> folders;
    std::vector<std::string> displaced(plan.size());
    for (const Placement& p : plan) {
        const std::string folder = FolderOf(p.target);
        if (fileIn.count(folder))
            continue;
        files::MakeFolders(m_DataFolder + folder);
        folders.push_back(folder);
        const files::Listing listing = files::List(m_DataFolder + folder);
        auto& f = fileIn[folder];
        for (const std::string& name : listing.files)
            f.emplace(files::FoldCase(name), name);
        for (const std::string& name : listing.folders)
            f.emplace(files::FoldCase(name), std::string()); // a folder: nothing can go there
    }
    CopyNames taken;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const std::string folder = FolderOf(plan[i].target);
        auto standing = fileIn[folder].find(files::FoldCase(NameOf(plan[i].target)));
        if (standing == fileIn[folder].end())
            continue;
        if (standing->second.empty())
            throw zel::Error(zel::rt::PathFileAccessError, Source,
                             "Cannot put " + plan[i].target + " in place: " + m_DataFolder + plan[i].target +
                                 " is a folder.");
        // Replaced, so saved first: it goes back should the receive not finish.
        displaced[i] = folder + standing->second;
        m_Journal.saved.push_back({displaced[i], CopyFor(displaced[i], taken)});
        fileIn[folder].erase(standing);
    }
    m_Journal.state = Journal::State::Installing;
    m_Journal.placed = std::move(placed);
    // The journal names every file before any is moved.
    KeptAlive([&] { WriteJournal(); });

    std::map<std::string, std::string> copyOf;
    for (const Journal::Saved& s : m_Journal.saved)
        copyOf[s.place] = s.copy;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (!displaced[i].empty()) {
            const std::string& copy = copyOf[displaced[i]];
            files::MakeFolders(Path() + FolderOf(copy));
            files::Move(m_DataFolder + displaced[i], Path() + copy);
        }
        files::Move(StagingPath() + plan[i].staged, m_DataFolder + plan[i].target);
        Step();
    }
    KeptAlive([&] {
        for (const std::string& folder : folders)
            files::SyncFolder(m_DataFolder + folder);
    });
}

void RecoveryFolder::Commit() {
    m_Journal.state = Journal::State::Committed;
    m_Journal.placed.clear(); // the new files are the customer's now
    KeptAlive([&] { WriteJournal(); });
    m_Committed = true;
}

std::vector<RecoveryFolder::Problem> RecoveryFolder::Discard() {
    m_Committed = true;
    m_Done = 0;
    m_Total = m_Journal.saved.size();
    std::vector<int> errs(m_Journal.saved.size(), 0);
    InBatches(
        errs.size(), [&](std::size_t i) { errs[i] = files::RemoveOwn(Path() + m_Journal.saved[i].copy); },
        [this](const std::function<void()>& work) { KeptAlive(work); }, [this] { Step(); });
    std::vector<Problem> problems;
    std::vector<Journal::Saved> remaining;
    for (std::size_t i = 0; i < errs.size(); ++i) {
        const Journal::Saved& s = m_Journal.saved[i];
        if (errs[i] != 0 && errs[i] != ENOENT) {
            problems.push_back({s.place, Reason(errs[i]), Path() + s.copy});
            remaining.push_back(s);
        }
    }
    m_Journal.saved = std::move(remaining);
    // The download alone can be large enough that removing it would hold the window.
    KeptAlive([&] {
        RemoveLeftovers();
        RemoveWorkFiles({});
    });
    // The journal goes last: until then a recovery knows the copies are garbage and finishes the job.
    Close();
    return problems;
}

void RecoveryFolder::RemoveLeftovers() {
    std::vector<std::string> remaining;
    for (const std::string& copy : m_Journal.leftovers) {
        const int err = files::RemoveOwn(Path() + copy);
        if (err != 0 && err != ENOENT)
            remaining.push_back(copy); // tried again quietly, by whatever comes next
    }
    m_Journal.leftovers = std::move(remaining);
}

void RecoveryFolder::Close() {
    if (!m_Journal.saved.empty() || !m_Journal.placed.empty() || !m_Journal.leftovers.empty()) {
        // Nothing left to undo: only copies to remove.
        if (m_Journal.saved.empty() && m_Journal.placed.empty())
            m_Journal.state = Journal::State::Committed;
        WriteJournal();
        return;
    }
    files::RemoveOwn(Path() + JournalName);
    files::SyncFolder(Path());
    // Holds the lock file while the lock is held: then it stays, and goes with the lock.
    files::RemoveFolderIfEmpty(Path());
}

std::optional<Journal> RecoveryFolder::ReadJournal() const {
    std::string text;
    if (files::ReadAll(files::NativePath(Path() + JournalName), text) != 0)
        return std::nullopt;
    return Journal::Parse(text);
}

void RecoveryFolder::RemoveWorkFiles(const std::string& keepDownloadAs) {
    // The program's own working files: what cannot go now is harmless where it is, inside the recovery folder,
    // and is overwritten by the next receive. The staged files of a receive that did not finish go several at once.
    const std::vector<std::string> staged = files::List(StagingPath()).files;
    AtOnce(0, staged.size(), [&](std::size_t i) { files::RemoveOwn(StagingPath() + staged[i]); });
    try {
        files::RemoveTree(StagingPath());
    } catch (const zel::Error&) {
    }
    for (const std::string& name : files::List(Path()).files)
        if (name.rfind(std::string(JournalName) + files::TemporaryMarker, 0) == 0 ||
            name.rfind(NameOf(DownloadPath()) + files::TemporaryMarker, 0) == 0)
            files::RemoveOwn(Path() + name);
    if (files::FileExists(DownloadPath())) {
        if (keepDownloadAs.empty())
            files::RemoveOwn(DownloadPath());
        else // the archive just downloaded is newer than one an earlier receive left there
            files::RenameOver(files::NativePath(DownloadPath()), files::NativePath(keepDownloadAs));
    }
    for (const std::string& name : files::List(Path()).folders)
        if (name == "saved" || name.rfind("saved-", 0) == 0)
            PruneEmpty(Path() + name + "\\");
}

bool RecoveryFolder::Ours(const Journal::Placed& placed) const {
    files::FileId now;
    if (!files::Identify(m_DataFolder + placed.target, now))
        return false;
    if (now == placed.id)
        return true;
    if (now.size != placed.id.size || now.mtimeNs != placed.id.mtimeNs)
        return false;
    // Same size and time under another device or file number: a renumbered device, or a file system whose file
    // numbers change with a move. The content the archive recorded decides; without it the file is left alone.
    return placed.crc && CrcOf(m_DataFolder + placed.target) == placed.crc;
}

void RecoveryFolder::PutBack(Outcome& outcome) {
    // What stands in each folder before anything goes back, without regard to case as the product sees it:
    // someone's later work, kept. Saved files that differ only in case all go back.
    // A saved place whose copy is gone holds the old file: never moved, or put back by an earlier recovery.
    std::set<std::string> oldHeld, blockedPlaces;
    std::vector<bool> present(m_Journal.saved.size());
    for (std::size_t i = 0; i < m_Journal.saved.size(); ++i)
        if (!(present[i] = files::ExistsPath(files::NativePath(Path() + m_Journal.saved[i].copy))))
            oldHeld.insert(m_Journal.saved[i].place);
    for (const Journal::Placed& p : m_Journal.placed)
        blockedPlaces.insert(files::FoldCase(p.target));
    std::map<std::string, std::set<std::string>> standing;
    std::vector<Journal::Saved> kept, stuck;
    for (std::size_t i = 0; i < m_Journal.saved.size(); ++i) {
        const Journal::Saved& s = m_Journal.saved[i];
        const std::string folder = FolderOf(s.place);
        const std::string copy = Path() + s.copy;
        if (!present[i]) {
            Step();
            continue;
        }
        if (!standing.count(folder)) {
            auto& taken = standing[folder];
            const files::Listing listing = files::List(m_DataFolder + folder);
            for (const std::string& name : listing.files)
                if (!oldHeld.count(folder + name))
                    taken.insert(files::FoldCase(name));
            for (const std::string& name : listing.folders)
                taken.insert(files::FoldCase(name));
        }
        if (blockedPlaces.count(files::FoldCase(s.place))) {
            for (Problem& problem : outcome.stuck)
                if (files::SameName(problem.place, s.place))
                    problem.copy = copy;
            stuck.push_back(s);
        } else if (standing[folder].count(files::FoldCase(NameOf(s.place)))) {
            kept.push_back(s);
        } else {
            try {
                files::MakeFolders(m_DataFolder + folder);
                files::Move(copy, m_DataFolder + s.place);
                ++outcome.restored;
            } catch (const zel::Error& e) {
                outcome.stuck.push_back({s.place, e.Description(), copy});
                stuck.push_back(s);
            }
        }
        Step();
    }
    std::set<std::string> folders;
    for (const Journal::Saved& s : m_Journal.saved)
        folders.insert(FolderOf(s.place));
    for (const std::string& folder : folders)
        if (files::FolderExists(m_DataFolder + folder))
            files::SyncFolder(m_DataFolder + folder);

    if (!kept.empty()) {
        std::string keptFolder = Path() + "kept-" + Stamp();
        for (int n = 2; files::FolderExists(keptFolder); ++n)
            keptFolder = Path() + "kept-" + Stamp() + "-" + std::to_string(n);
        for (const Journal::Saved& s : kept) {
            try {
                files::MakeFolders(keptFolder + "\\" + FolderOf(s.place));
                files::Move(Path() + s.copy, keptFolder + "\\" + s.place);
                outcome.kept.push_back(s.place);
            } catch (const zel::Error& e) {
                outcome.stuck.push_back({s.place, e.Description(), Path() + s.copy});
                stuck.push_back(s);
            }
        }
        if (!outcome.kept.empty())
            outcome.keptFolder = keptFolder + "\\";
    }
    m_Journal.saved = std::move(stuck);
}

RecoveryFolder::Outcome RecoveryFolder::Recover(const std::string& keepDownloadAs) {
    Outcome outcome;
    m_Committed = true; // a recovery always runs to its end
    m_Done = 0;
    m_Total = 0;
    if (!Pending())
        return outcome; // only what an earlier recovery left for the customer may be here
    std::optional<Journal> journal = ReadJournal();
    if (!journal) {
        outcome.damaged = true;
        return outcome;
    }
    m_Journal = std::move(*journal);
    if (m_Journal.state == Journal::State::Committed) {
        outcome.tidied = true;
        outcome.untidied = Discard();
        return outcome;
    }
    outcome.rolledBack = true;
    m_Total = m_Journal.placed.size() + m_Journal.saved.size();
    // Files this receive put in place, recognised by identity: a file of the same name made later is not ours.
    // One that cannot be removed keeps its place's saved copy where it is, to be tried again.
    std::vector<std::optional<std::string>> failed(m_Journal.placed.size());
    InBatches(
        failed.size(),
        [&](std::size_t i) {
            const Journal::Placed& p = m_Journal.placed[i];
            try {
                if (Ours(p))
                    files::Remove(m_DataFolder + p.target);
            } catch (const zel::Error& e) {
                failed[i] = e.Description();
            }
        },
        [this](const std::function<void()>& work) { KeptAlive(work); }, [this] { Step(); });
    std::vector<Journal::Placed> blocked;
    for (std::size_t i = 0; i < failed.size(); ++i) {
        if (!failed[i])
            continue;
        const Journal::Placed& p = m_Journal.placed[i];
        blocked.push_back(p);
        outcome.stuck.push_back({p.target, "the new file there cannot be removed (" + *failed[i] + ")", ""});
    }
    m_Journal.placed = blocked;
    PutBack(outcome);
    KeptAlive([&] {
        RemoveLeftovers();
        RemoveWorkFiles(keepDownloadAs);
    });
    // What could not go back stays recorded, and only that is tried again by the next recovery.
    Close();
    return outcome;
}
