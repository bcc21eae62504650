#pragma once

#include "platform/files/Lock.h"

#include <string>

// The one lock per data folder, on ZEL-RECOVERY\lock: whoever holds it is the only copy of the program that moves,
// packs or removes the folder's files, also from another workstation on a shared folder. Held for a whole send,
// a whole receive and every recovery. Released, with the lock file and an empty recovery folder removed, when the
// object ends; the operating system drops it should the process die.
class DataFolderLock {
public:
    explicit DataFolderLock(std::string dataFolder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    // False when another copy holds it; raises when the lock cannot be made at all.
    bool Take();
    // What the user is told when another copy holds the folder's lock.
    static std::string HeldText(const std::string& dataFolder);

private:
    std::string m_DataFolder;
    files::LockFile m_Lock;
};
