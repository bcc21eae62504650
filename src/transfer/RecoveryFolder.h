#pragma once

#include "transfer/Journal.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// A receive as a transaction on disk, kept inside the data folder, so that a receive that fails, is cancelled or
// is killed never leaves the customer without data:
//   ZEL-RECOVERY\journal       the record (Journal), replaced atomically before each step that depends on it
//   ZEL-RECOVERY\saved\        what the clearing moved away, in its folders relative to the data folder
//   ZEL-RECOVERY\FIXED.ZIP     the download
//   ZEL-RECOVERY\new\          the archive's files before they are put in place
//   ZEL-RECOVERY\kept-<time>\  saved files that could not go back because their places were taken
// Before the commit a recovery puts the old data set back and removes only files it can prove are this receive's
// own; after it, a recovery finishes tidying. Every step can be repeated, so a recovery that is itself killed is
// simply run again. Everything it removes is what the journal records or its own working files; a record it
// cannot read makes it touch nothing. The caller holds the data folder's lock (DataFolderLock) throughout.
class RecoveryFolder {
public:
    // Called after each file handled, for progress, and with the same figures again while a longer wait keeps
    // the window alive; false asks to stop (honoured before the commit only).
    using StepHook = std::function<bool(std::uint64_t done, std::uint64_t total)>;

    // A staged file (name in new\), its place relative to the data folder ("data_qmx\x.qmx"), and the CRC-32 its
    // archive recorded.
    struct Placement {
        std::string staged;
        std::string target;
        std::optional<std::uint32_t> crc;
    };

    // A file the recovery could not deal with: its place, why, and where its saved copy is.
    struct Problem {
        std::string place;
        std::string reason;
        std::string copy;
    };

    // What a recovery did.
    struct Outcome {
        bool damaged = false;          // the journal cannot be read: nothing was touched
        bool rolledBack = false;       // an unfinished receive was undone
        bool tidied = false;           // a finished receive was tidied up
        int restored = 0;              // saved files put back
        std::vector<std::string> kept; // saved files whose places were taken, relative to the data folder
        std::string keptFolder;        // where those are now
        std::vector<Problem> stuck;    // saved files that could not go back; tried again by the next recovery
        std::vector<Problem> untidied; // after the commit: previous copies not removed yet; tried again likewise
    };

    explicit RecoveryFolder(std::string dataFolder, StepHook step = {});

    std::string Path() const;
    std::string DownloadPath() const;
    std::string StagingPath() const;
    // A receive left a record: something to undo or to tidy, or a record that cannot be read.
    bool Pending() const;
    // The kept-<time> folders an earlier recovery made for the customer, full paths.
    std::vector<std::string> KeptFolders() const;

    // Starts the transaction (before anything is moved).
    void Begin();
    // Moves the files (relative to the data folder) into saved\, recorded before the first one moves. A read-only
    // file stops it with 75, as deleting it would, before anything moves.
    void Save(const std::vector<std::string>& relativeFiles);
    // Records the plan with each staged file's identity, then puts the files in place; a file standing in a
    // target's place (any case) is saved first. Raises when a target is a folder or a place cannot be saved.
    void Install(const std::vector<Placement>& plan);
    // The new data set is in place: from here on a recovery tidies instead of undoing.
    void Commit();
    // Removes what the transaction kept (after Commit). What cannot be removed yet is named and stays recorded,
    // for the next recovery to try again.
    std::vector<Problem> Discard();

    // Undoes an unfinished receive or tidies a finished one. When keepDownloadAs is given the downloaded archive
    // is moved there instead of being deleted.
    Outcome Recover(const std::string& keepDownloadAs = {});

private:
    void WriteJournal();
    void Step();
    // Runs work beside the caller, who keeps the window alive until it is done; what it throws comes through.
    void KeptAlive(const std::function<void()>& work);
    // The names of copies taken so far, without regard to case, and the folders whose files were listed for it.
    struct CopyNames {
        std::set<std::string> names;
        std::set<std::string> listed;
    };
    // A free name in the recovery folder for the copy of a file of the data set.
    std::string CopyFor(const std::string& place, CopyNames& taken) const;
    // The file at the target is the one this receive put there.
    bool Ours(const Journal::Placed& placed) const;
    void PutBack(Outcome& outcome);
    void RemoveWorkFiles(const std::string& keepDownloadAs);
    void RemoveLeftovers();
    // Ends the journal once nothing is left for it to record; otherwise writes what is left.
    void Close();
    std::optional<Journal> ReadJournal() const;

    std::string m_DataFolder;
    StepHook m_Step;
    Journal m_Journal;
    std::uint64_t m_Done = 0;
    std::uint64_t m_Total = 0;
    bool m_Committed = false;
};
