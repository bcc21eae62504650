#pragma once

#include "platform/files/Files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A receive as a transaction on disk, kept inside the data folder, so that a receive that fails, is cancelled or
// is killed never leaves the customer without data:
//   ZEL-RECOVERY\journal       the state, replaced atomically before each step that depends on it
//   ZEL-RECOVERY\saved\        what the clearing moved away, in its folders relative to the data folder
//   ZEL-RECOVERY\FIXED.ZIP     the download
//   ZEL-RECOVERY\new\          the archive's files before they are put in place
//   ZEL-RECOVERY\kept-<time>\  saved files that could not go back because their places were taken
// States: Clearing (saving, downloading, unpacking), Installing (the new files, each with its identity, are
// being put in place), Committed (the new data set is complete; what is saved is no longer needed). Before the
// commit a recovery puts the old data set back and removes only files it can prove are this receive's own;
// after it, a recovery finishes tidying. Every step can be repeated, so a recovery that is itself killed is
// simply run again.
class RecoveryFolder {
public:
    // Called after each file handled, for progress, and with the same figures again while a longer wait keeps
    // the window alive; false asks to stop (honoured before the commit only).
    using StepHook = std::function<bool(std::uint64_t done, std::uint64_t total)>;

    // A staged file (name in new\) and its place relative to the data folder ("data_qmx\x.qmx").
    struct Placement {
        std::string staged;
        std::string target;
    };

    // What a recovery did.
    struct Outcome {
        bool rolledBack = false;       // an unfinished receive was undone
        bool tidied = false;           // a finished receive was tidied up
        int restored = 0;              // saved files put back
        std::vector<std::string> kept; // saved files whose places were taken, relative to the data folder
        std::string keptFolder;        // where those are now
    };

    explicit RecoveryFolder(std::string dataFolder, StepHook step = {});

    std::string Path() const;
    std::string DownloadPath() const;
    std::string StagingPath() const;
    // A receive left something to undo or to tidy.
    bool Pending() const;

    // Starts the transaction (before anything is moved).
    void Begin();
    // Moves the files matching the pattern (relative to the data folder) into saved\, in name order. Raises 53
    // when nothing matches and 75 for a read-only file, as deleting them would; files moved before stay saved.
    void Save(const std::string& relativePattern);
    // Records the plan with each staged file's identity, then puts the files in place; a file standing in a
    // target's place (any case) is saved first. Raises when a target is a folder or a place cannot be saved.
    void Install(const std::vector<Placement>& plan);
    // The new data set is in place: from here on a recovery tidies instead of undoing.
    void Commit();
    // Removes what the transaction kept (after Commit, or by Recover).
    void Discard();

    // Undoes an unfinished receive or tidies a finished one. When keepDownloadAs is given the downloaded archive
    // is moved there instead of being deleted.
    Outcome Recover(const std::string& keepDownloadAs = {});

private:
    enum class State { None, Clearing, Installing, Committed };
    struct Entry {
        files::FileId id;
        std::string target;
    };

    void WriteJournal(State state, const std::vector<Entry>& entries);
    State ReadJournal(std::vector<Entry>& entries) const;
    void Step();
    // Runs work beside the caller, who keeps the window alive until it is done; what it throws comes through.
    void KeptAlive(const std::function<void()>& work);
    void RemoveFilesUnder(const std::string& folder);
    void PutBack(const std::string& relativeFolder, Outcome& outcome);

    std::string m_DataFolder;
    StepHook m_Step;
    std::uint64_t m_Done = 0;
    std::uint64_t m_Total = 0;
    bool m_Committed = false;
};
