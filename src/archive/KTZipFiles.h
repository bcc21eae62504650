#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds one zip archive from a list of names and wildcard patterns through the zip engine.
class KTZipFiles {
public:
    // The class's own errors are raised as zel::vbObjectError + one of these codes.
    static constexpr std::int32_t AlreadyListed = 2001; // AddFile: the name is in the list already
    static constexpr std::int32_t NotListed = 2002;     // RemoveFile: the name is not in the list

    KTZipFiles();

    bool RecurseFolders() const;
    void SetRecurseFolders(bool bRecurse);
    std::string ZipFileName() const;
    void SetZipFileName(const std::string& sZipFileName);
    bool Encrypted() const;
    void SetEncrypted(bool bEncrypt);
    bool IncludeSystemFiles() const;
    void SetIncludeSystemFiles(bool bInclude);
    std::int32_t ZipFileCount() const;
    std::string RootDirectory() const;
    void SetRootDirectory(const std::string& sRootDir);
    bool UpdatingZip() const;
    void SetUpdatingZip(bool bUpdating);

    void AddFile(std::string sFileName);    // raises 0x800407D1 for a name already listed
    void RemoveFile(std::string sFileName); // raises 0x800407D2 for a name not listed
    std::int32_t MakeZipFile();             // 0 = archive written
    std::string GetLastMessage() const;

private:
    std::vector<std::string> m_FileList; // insertion order; keys compare without regard to case
    std::int16_t m_RecurseFolders = 0;
    std::string m_ZipFileName;
    std::int16_t m_Encrypted = 0;
    std::int16_t m_IncludeSystemFiles = 0;
    std::string m_RootDirectory = "\\";
    std::int16_t m_UpdatingZip = 0;
};
