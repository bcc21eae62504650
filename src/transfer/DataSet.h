#pragma once

#include <string>
#include <vector>

// The product's data set, defined once: what a send packs is exactly what a receive replaces. TOVA: every file of
// the data folder; Ledgra: ledgra2.mdb and every file of data_qmx, and norvane.mdb in the online edition. Never
// part of it: hidden and system files, the program's archives (ZEL.ZIP, FIXED.ZIP), its temporaries, and
// ZEL-RECOVERY (a folder; sub-folders never are).
namespace dataset {

// The names handed to the archive builder, relative to the data folder, in the order they are packed.
std::vector<std::string> Entries(bool ledgra, bool online);
// Whether a file that the entries name (folder ends in a separator) belongs to the data set.
bool Member(const std::string& folder, const std::string& name);
// The data set's files now in the data folder, relative to it, with their names as they are on disk.
std::vector<std::string> List(const std::string& dataFolder, bool ledgra, bool online);

} // namespace dataset
