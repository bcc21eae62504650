#include "archive/KTZipFiles.h"

#include "archive/CodeModule.h"
#include "platform/error/Error.h"
#include "platform/files/Files.h"

#include <algorithm>

namespace {

constexpr const char* SeedEntry = "querty";

std::int16_t Flag(bool value) {
    return value ? 1 : 0;
}

} // namespace

KTZipFiles::KTZipFiles() : m_FileList{SeedEntry} {}

bool KTZipFiles::RecurseFolders() const {
    return m_RecurseFolders == 1;
}
void KTZipFiles::SetRecurseFolders(bool bRecurse) {
    m_RecurseFolders = Flag(bRecurse);
}
std::string KTZipFiles::ZipFileName() const {
    return m_ZipFileName;
}
void KTZipFiles::SetZipFileName(const std::string& sZipFileName) {
    m_ZipFileName = sZipFileName;
}
bool KTZipFiles::Encrypted() const {
    return m_Encrypted == 1;
}
void KTZipFiles::SetEncrypted(bool bEncrypt) {
    m_Encrypted = Flag(bEncrypt);
}
bool KTZipFiles::IncludeSystemFiles() const {
    return m_IncludeSystemFiles == 1;
}
void KTZipFiles::SetIncludeSystemFiles(bool bInclude) {
    m_IncludeSystemFiles = Flag(bInclude);
}
std::int32_t KTZipFiles::ZipFileCount() const {
    return static_cast<std::int32_t>(m_FileList.size()) - 1;
}
std::string KTZipFiles::RootDirectory() const {
    return m_RootDirectory;
}
void KTZipFiles::SetRootDirectory(const std::string& sRootDir) {
    m_RootDirectory = sRootDir;
}
bool KTZipFiles::UpdatingZip() const {
    return m_UpdatingZip == 1;
}
void KTZipFiles::SetUpdatingZip(bool bUpdating) {
    m_UpdatingZip = Flag(bUpdating);
}

void KTZipFiles::AddFile(std::string sFileName) {
    auto found = std::find_if(m_FileList.begin(), m_FileList.end(),
                              [&](const std::string& item) { return files::SameName(item, sFileName); });
    if (found != m_FileList.end())
        throw zel::Error(zel::vbObjectError + AlreadyListed, "KTZip::AddFile", "File is already in Zip List");
    m_FileList.push_back(std::move(sFileName));
}

void KTZipFiles::RemoveFile(std::string sFileName) {
    auto found = std::find_if(m_FileList.begin(), m_FileList.end(),
                              [&](const std::string& item) { return files::SameName(item, sFileName); });
    if (found == m_FileList.end())
        throw zel::Error(zel::vbObjectError + NotListed, "KTZip::RemoveFile", "File is not in Zip List");
    m_FileList.erase(found);
}

std::int32_t KTZipFiles::MakeZipFile() {
    try {
        CodeModule::ZipNameList names;
        std::size_t count = 0;
        for (const auto& item : m_FileList) {
            if (count >= names.s.size())
                throw zel::Error(zel::rt::SubscriptOutOfRange, "KTZipFiles::MakeZipFile",
                                 "Subscript out of range: the zip list holds more than 99 names");
            names.s[count++] = item;
        }
        return CodeModule::VBZip(static_cast<std::int16_t>(count), m_ZipFileName, names, 0, m_RecurseFolders,
                                 m_UpdatingZip, 0, m_RootDirectory, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    } catch (const zel::Error& e) {
        throw e.WithSource("KTZipFiles::MakeZipFile");
    }
}

std::string KTZipFiles::GetLastMessage() const {
    return CodeModule::LastMessageText;
}
