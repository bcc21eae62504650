#include "transfer/DataFolderLock.h"

#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <cerrno>

namespace {

std::string RecoveryPath(const std::string& dataFolder) {
    return dataFolder + "ZEL-RECOVERY\\";
}

} // namespace

DataFolderLock::DataFolderLock(std::string dataFolder) : m_DataFolder(std::move(dataFolder)) {}

DataFolderLock::~DataFolderLock() {
    if (!m_Lock.Held())
        return;
    m_Lock.UnlockAndRemove();
    files::RemoveFolderIfEmpty(RecoveryPath(m_DataFolder));
}

bool DataFolderLock::Take() {
    // The folder may vanish between its creation and the lock file's, when another copy lets go of it.
    for (int attempt = 0; attempt < 20; ++attempt) {
        files::MakeFolders(RecoveryPath(m_DataFolder));
        const int err = m_Lock.TryLock(files::NativePath(RecoveryPath(m_DataFolder) + "lock"));
        if (err == 0)
            return true;
        if (err == EWOULDBLOCK)
            return false;
        if (err != ENOENT)
            break;
    }
    throw zel::rt::Raise(zel::rt::PathFileAccessError, "DataFolderLock");
}

std::string DataFolderLock::HeldText(const std::string& dataFolder) {
    return "Another copy of ZEL FTP CLIENT is sending or receiving the files in " + dataFolder +
           ". Wait until it has finished, then try again.";
}
