#include "transfer/DataSet.h"

#include "platform/files/Files.h"

namespace dataset {

std::vector<std::string> Entries(bool ledgra, bool online) {
    if (!ledgra)
        return {"*.*"};
    if (online)
        return {"norvane.mdb", "ledgra2.mdb", "data_qmx\\*.*"};
    return {"ledgra2.mdb", "data_qmx\\*.*"};
}

bool Member(const std::string& folder, const std::string& name) {
    return !files::IsTemporaryName(name) && !files::SameName(name, "ZEL.ZIP") && !files::SameName(name, "FIXED.ZIP") &&
           !files::HiddenOrSystem(folder + name);
}

std::vector<std::string> List(const std::string& dataFolder, bool ledgra, bool online) {
    std::vector<std::string> found;
    for (const std::string& entry : Entries(ledgra, online)) {
        const auto cut = entry.find_last_of('\\');
        const std::string folder = cut == std::string::npos ? std::string() : entry.substr(0, cut + 1);
        std::vector<std::string> names;
        if (entry.find_first_of("*?") != std::string::npos) {
            names = files::Dir(dataFolder + entry);
        } else if (files::FileExists(dataFolder + entry)) {
            // One name is one file, whatever its case on disk.
            const std::string native = files::ResolvePath(dataFolder + entry);
            names.push_back(native.substr(native.find_last_of('/') + 1));
        }
        for (const std::string& name : names)
            if (Member(dataFolder + folder, name))
                found.push_back(folder + name);
    }
    return found;
}

} // namespace dataset
