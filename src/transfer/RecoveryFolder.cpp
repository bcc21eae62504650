#include "transfer/RecoveryFolder.h"

#include "platform/error/Error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

namespace {

const char* const Source = "RecoveryFolder";
const char* const JournalName = "journal";
const char* const Magic = "zel-receive-journal 1";

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
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return text;
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
    return files::FileExists(Path() + JournalName) || files::FolderExists(Path() + "saved");
}

void RecoveryFolder::KeptAlive(const std::function<void()>& work) {
    // Writing a large data set out can take seconds: the window stays alive meanwhile, and its figures stand.
    auto done = std::async(std::launch::async, work);
    while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (m_Step)
            m_Step(m_Done, m_Total);
    done.get();
}

void RecoveryFolder::Step() {
    ++m_Done;
    if (m_Step && !m_Step(m_Done, m_Total) && !m_Committed)
        throw zel::Error(zel::rt::PathFileAccessError, Source, "The receive was cancelled.");
}

void RecoveryFolder::WriteJournal(State state, const std::vector<Entry>& entries) {
    std::ostringstream text;
    text << Magic << "\n"
         << "state "
         << (state == State::Clearing     ? "clearing"
             : state == State::Installing ? "installing"
                                          : "committed")
         << "\n";
    for (const Entry& e : entries)
        text << "file " << e.id.device << ' ' << e.id.inode << ' ' << e.id.size << ' ' << e.id.mtimeNs << ' '
             << e.target << "\n";
    text << "end\n";
    const std::string bytes = text.str();
    const int err = files::ReplaceFile(files::NativePath(Path() + JournalName),
                                       [&](int fd) { return files::WriteAll(fd, bytes.data(), bytes.size()); });
    if (err != 0)
        throw zel::rt::Raise(err == ENOSPC ? zel::rt::DiskFull : zel::rt::PathFileAccessError, Source);
    files::SyncFolder(Path());
}

RecoveryFolder::State RecoveryFolder::ReadJournal(std::vector<Entry>& entries) const {
    entries.clear();
    std::string text;
    const int err = [&] {
        std::ifstream in(files::NativePath(Path() + JournalName), std::ios::binary);
        if (!in)
            return ENOENT;
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        return 0;
    }();
    if (err != 0)
        return files::FolderExists(Path() + "saved") ? State::Clearing : State::None;
    std::istringstream in(text);
    std::string line;
    State state = State::Clearing;
    bool complete = false;
    if (!std::getline(in, line) || line != Magic)
        return State::Clearing;
    while (std::getline(in, line)) {
        if (line == "end") {
            complete = true;
            break;
        }
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        if (word == "state") {
            fields >> word;
            state = word == "installing" ? State::Installing : word == "committed" ? State::Committed : State::Clearing;
        } else if (word == "file") {
            Entry e;
            fields >> e.id.device >> e.id.inode >> e.id.size >> e.id.mtimeNs;
            fields.get();
            std::getline(fields, e.target);
            if (!fields.fail() && !e.target.empty())
                entries.push_back(std::move(e));
        }
    }
    // A journal is replaced whole, so it is never cut short; should one be anyway, nothing is taken for ours.
    if (!complete) {
        entries.clear();
        return State::Clearing;
    }
    return state;
}

void RecoveryFolder::Begin() {
    m_Committed = false;
    m_Done = 0;
    m_Total = 0;
    files::MakeFolders(Path() + "saved");
    files::SyncFolder(m_DataFolder);
    WriteJournal(State::Clearing, {});
}

void RecoveryFolder::Save(const std::string& relativePattern) {
    const std::string folder = FolderOf(relativePattern);
    const std::string from = m_DataFolder + folder;
    std::vector<std::string> names;
    const std::string single = NameOf(relativePattern);
    const bool wildcards = single.find_first_of("*?") != std::string::npos;
    if (files::FileId exact; !wildcards && files::Identify(from + single, exact))
        names.push_back(single); // an exact name wins over names that differ only in case
    if (names.empty()) {
        names = files::Dir(m_DataFolder + relativePattern);
        if (!wildcards && names.size() > 1)
            names.resize(1);
    }
    if (names.empty())
        throw zel::rt::Raise(zel::rt::FileNotFound, Source);
    const std::string to = Path() + "saved\\" + folder;
    if (!folder.empty())
        files::MakeFolders(to);
    m_Total += names.size();
    for (const std::string& name : names) {
        // A read-only file stops the clearing as it would stop a deletion.
        if (files::ReadOnly(from + name))
            throw zel::rt::Raise(zel::rt::PathFileAccessError, Source);
        files::Move(from + name, to + name);
        Step();
    }
}

void RecoveryFolder::Install(const std::vector<Placement>& plan) {
    // The staged files must be on disk before the journal names them, and the journal before any is moved.
    m_Done = 0;
    m_Total = plan.size();
    std::vector<Entry> entries;
    entries.reserve(plan.size());
    KeptAlive([&] {
        files::SyncFiles(StagingPath());
        for (const Placement& p : plan) {
            Entry e;
            if (!files::Identify(StagingPath() + p.staged, e.id))
                throw zel::Error(zel::rt::FileNotFound, Source, "The unpacked file " + p.staged + " is missing.");
            e.target = p.target;
            entries.push_back(std::move(e));
        }
        WriteJournal(State::Installing, entries);
    });

    // One listing per folder: what stands in each place, found without regard to case as the product would.
    std::map<std::string, std::map<std::string, std::string>> fileIn;
    std::map<std::string, std::map<std::string, std::string>> folderIn;
    std::vector<std::string> folders;
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
        auto& d = folderIn[folder];
        for (const std::string& name : listing.folders)
            d.emplace(files::FoldCase(name), name);
    }
    for (const Placement& p : plan) {
        const std::string folder = FolderOf(p.target);
        const std::string key = files::FoldCase(NameOf(p.target));
        if (folderIn[folder].count(key))
            throw zel::Error(zel::rt::PathFileAccessError, Source,
                             "Cannot put " + p.target + " in place: " + m_DataFolder + folder + folderIn[folder][key] +
                                 " is a folder.");
        auto standing = fileIn[folder].find(key);
        if (standing != fileIn[folder].end()) {
            // Replaced, so saved first: it goes back should the receive not finish.
            files::MakeFolders(Path() + "saved\\" + folder);
            files::Move(m_DataFolder + folder + standing->second, Path() + "saved\\" + folder + standing->second);
            fileIn[folder].erase(standing);
        }
        files::Move(StagingPath() + p.staged, m_DataFolder + p.target);
        Step();
    }
    KeptAlive([&] {
        for (const std::string& folder : folders)
            files::SyncFolder(m_DataFolder + folder);
    });
}

void RecoveryFolder::Commit() {
    KeptAlive([&] { WriteJournal(State::Committed, {}); });
    m_Committed = true;
}

void RecoveryFolder::RemoveFilesUnder(const std::string& folder) {
    const files::Listing listing = files::List(folder);
    for (const std::string& sub : listing.folders)
        RemoveFilesUnder(folder + sub + "\\");
    for (const std::string& name : listing.files) {
        files::Remove(folder + name);
        Step();
    }
    files::RemoveTree(folder);
}

void RecoveryFolder::Discard() {
    m_Committed = true;
    m_Done = 0;
    m_Total = 0;
    // The journal goes last: until then a recovery knows the copies are garbage and finishes the job.
    RemoveFilesUnder(Path() + "saved\\");
    RemoveFilesUnder(StagingPath());
    files::Remove(DownloadPath());
    for (const std::string& name : files::List(Path()).files)
        if (name != JournalName)
            files::Remove(Path() + name);
    files::Remove(Path() + JournalName);
    if (files::List(Path()).folders.empty())
        files::RemoveTree(Path());
}

void RecoveryFolder::PutBack(const std::string& relativeFolder, Outcome& outcome) {
    const std::string saved = Path() + "saved\\" + relativeFolder;
    const files::Listing listing = files::List(saved);
    for (const std::string& sub : listing.folders)
        PutBack(relativeFolder + sub + "\\", outcome);
    if (listing.files.empty())
        return;
    const std::string place = m_DataFolder + relativeFolder;
    files::MakeFolders(place);
    const files::Listing standing = files::List(place);
    for (const std::string& name : listing.files) {
        // Whatever stands in the place now is someone's later work: both are kept.
        if (std::binary_search(standing.files.begin(), standing.files.end(), name) ||
            std::binary_search(standing.folders.begin(), standing.folders.end(), name)) {
            outcome.kept.push_back(relativeFolder + name);
        } else {
            files::Move(saved + name, place + name);
            ++outcome.restored;
        }
        Step();
    }
    files::SyncFolder(place);
}

RecoveryFolder::Outcome RecoveryFolder::Recover(const std::string& keepDownloadAs) {
    Outcome outcome;
    std::vector<Entry> entries;
    const State state = ReadJournal(entries);
    m_Committed = true; // a recovery always runs to its end
    m_Done = 0;
    m_Total = 0;
    if (state == State::None) {
        // Only what an earlier recovery left for the customer may be here; nothing to do.
        return outcome;
    }
    if (state == State::Committed) {
        Discard();
        outcome.tidied = true;
        return outcome;
    }
    outcome.rolledBack = true;
    // Files this receive put in place, recognised by identity: a file of the same name made later is not ours.
    for (const Entry& e : entries) {
        files::FileId id;
        if (files::Identify(m_DataFolder + e.target, id) && id == e.id)
            files::Remove(m_DataFolder + e.target);
        Step();
    }
    RemoveFilesUnder(StagingPath());
    for (const std::string& name : files::List(Path()).files)
        if (files::IsTemporaryName(name))
            files::Remove(Path() + name);

    PutBack("", outcome);

    if (!outcome.kept.empty()) {
        std::string kept = Path() + "kept-" + Stamp();
        for (int n = 2; files::FolderExists(kept); ++n)
            kept = Path() + "kept-" + Stamp() + "-" + std::to_string(n);
        files::Move(Path() + "saved", kept);
        outcome.keptFolder = kept + "\\";
    }
    if (files::FileExists(DownloadPath())) {
        if (keepDownloadAs.empty()) {
            files::Remove(DownloadPath());
        } else {
            // The archive just downloaded is newer than one an earlier receive left there.
            files::Remove(keepDownloadAs);
            files::Move(DownloadPath(), keepDownloadAs);
        }
    }
    files::Remove(Path() + JournalName);
    Discard();
    return outcome;
}
