#pragma once

#include <string>
#include <vector>

// Keeps the files that a receive clears, inside the data folder, so that a receive that fails or is
// interrupted never leaves the customer without data. Layout:
//   <data folder>ZEL-RECOVERY\places   places cleared, one pattern relative to the data folder a line
//   <data folder>ZEL-RECOVERY\cleared  present once the clearing is complete
//   <data folder>ZEL-RECOVERY\saved\   the saved files, in their folders relative to the data folder
class RecoveryFolder {
public:
    explicit RecoveryFolder(std::string dataFolder);

    std::string Path() const;
    // Left by a receive that did not finish.
    bool Exists() const;

    // Moves the files matching relativePattern (relative to the data folder, "*" and "?" in the last
    // component) into the folder, in name order. Raises 53 when nothing matches and 75 for a read-only
    // file, as deleting them would; files moved before a failure stay saved.
    void Save(const std::string& relativePattern);
    // From now on, whatever lies in the cleared places was put there by this receive.
    void MarkCleared();

    // Puts the saved files back. When the clearing was complete, the files put in the cleared places
    // since are removed first, except keepName (the downloaded archive in the data folder). A saved file
    // whose place is taken is never overwritten: it stays saved and an error names it. Returns the number
    // of files put back.
    int Restore(const std::string& keepName);
    // The receive succeeded: the saved files and the folder go.
    void Discard();

private:
    std::vector<std::string> Places() const;
    std::string SavedPath(const std::string& relative) const;

    std::string m_DataFolder;
};
