#include "archive/KTUnzipFiles.h"

#include "archive/CodeModule.h"
#include "platform/error/Error.h"

#include <limits>
#include <optional>

namespace {

std::int16_t Flag(bool value) {
    return value ? 1 : 0;
}

std::int16_t Narrow(std::int32_t value) {
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        throw zel::rt::Raise(zel::rt::Overflow, "KTUnZipFiles::Unzip");
    return static_cast<std::int16_t>(value);
}

} // namespace

bool KTUnzipFiles::ExtractNewer() const {
    return m_ExtractNewer == 1;
}
void KTUnzipFiles::SetExtractNewer(bool bExtractNewer) {
    m_ExtractNewer = Flag(bExtractNewer);
}
bool KTUnzipFiles::SpaceToUnderScore() const {
    return m_SpaceToUnderScore == 1;
}
void KTUnzipFiles::SetSpaceToUnderScore(bool bConvert) {
    m_SpaceToUnderScore = Flag(bConvert);
}
bool KTUnzipFiles::PromptOverwrite() const {
    return m_PromptOverwrite == 1;
}
void KTUnzipFiles::SetPromptOverwrite(bool bPrompt) {
    m_PromptOverwrite = Flag(bPrompt);
}
std::int32_t KTUnzipFiles::MessageLevel() const {
    return m_MessageLevel;
}
void KTUnzipFiles::SetMessageLevel(std::int32_t iLevel) {
    m_MessageLevel = iLevel;
}
bool KTUnzipFiles::WriteToStdOut() const {
    return m_WriteToStdOut == 1;
}
void KTUnzipFiles::SetWriteToStdOut(bool bWrite) {
    m_WriteToStdOut = Flag(bWrite);
}
bool KTUnzipFiles::TestZip() const {
    return m_TestZip == 1;
}
void KTUnzipFiles::SetTestZip(bool bTest) {
    m_TestZip = Flag(bTest);
}
std::int32_t KTUnzipFiles::ExtractList() const {
    return m_ExtractList;
}
void KTUnzipFiles::SetExtractList(std::int32_t zExType) {
    m_ExtractList = zExType;
}
bool KTUnzipFiles::ExtractOnlyNewer() const {
    return m_ExtractOnlyNewer == 1;
}
void KTUnzipFiles::SetExtractOnlyNewer(bool bOnlyNewer) {
    m_ExtractOnlyNewer = Flag(bOnlyNewer);
}
bool KTUnzipFiles::DisplayComment() const {
    return m_DisplayComment == 1;
}
void KTUnzipFiles::SetDisplayComment(bool bDisplay) {
    m_DisplayComment = Flag(bDisplay);
}
bool KTUnzipFiles::HonorDirectories() const {
    return m_HonorDirectories == 1;
}
void KTUnzipFiles::SetHonorDirectories(bool bHonor) {
    m_HonorDirectories = Flag(bHonor);
}
bool KTUnzipFiles::OverWriteFiles() const {
    return m_OverWriteFiles == 1;
}
void KTUnzipFiles::SetOverWriteFiles(bool bOverWrite) {
    m_OverWriteFiles = Flag(bOverWrite);
}
bool KTUnzipFiles::ConvertCRtoCRLF() const {
    return m_ConvertCRtoCRLF == 1;
}
void KTUnzipFiles::SetConvertCRtoCRLF(bool bConvert) {
    m_ConvertCRtoCRLF = Flag(bConvert);
}
bool KTUnzipFiles::Verbose() const {
    return m_Verbose == 1;
}
void KTUnzipFiles::SetVerbose(bool bVerbose) {
    m_Verbose = Flag(bVerbose);
}
bool KTUnzipFiles::CaseSensitive() const {
    return m_CaseSensitive == 1;
}
void KTUnzipFiles::SetCaseSensitive(bool bCaseSensitive) {
    m_CaseSensitive = Flag(bCaseSensitive);
}
std::int32_t KTUnzipFiles::Privilege() const {
    return m_Privilege;
}
void KTUnzipFiles::SetPrivilege(std::int32_t zPriv) {
    m_Privilege = zPriv;
}

std::string KTUnzipFiles::ZipFileName() const {
    return m_ZipFileName;
}
void KTUnzipFiles::SetZipFileName(const std::string& sZipFileName) {
    m_ZipFileName = sZipFileName;
    m_ZipFileNameSet = true;
}
std::string KTUnzipFiles::ExtractDir() const {
    return m_ExtractDir;
}
void KTUnzipFiles::SetExtractDir(const std::string& sExtractDir) {
    m_ExtractDir = sExtractDir;
    m_ExtractDirSet = true;
}

std::int32_t KTUnzipFiles::Unzip(const std::string& sZipFileName, const std::string& sExtractDir) {
    try {
        if (!sZipFileName.empty())
            SetZipFileName(sZipFileName);
        if (!sExtractDir.empty())
            SetExtractDir(sExtractDir);
        std::int16_t privilege = Narrow(m_Privilege);
        std::int16_t extractList = Narrow(m_ExtractList);
        std::int16_t messageLevel = Narrow(m_MessageLevel);
        // A text never set goes over as null text.
        auto zipFileName = m_ZipFileNameSet ? std::optional<std::string>(m_ZipFileName) : std::nullopt;
        auto extractDir = m_ExtractDirSet ? std::optional<std::string>(m_ExtractDir) : std::nullopt;
        return CodeModule::VBUnzip(zipFileName, extractDir, m_ExtractNewer, m_SpaceToUnderScore, m_PromptOverwrite,
                                   messageLevel, m_WriteToStdOut, m_TestZip, extractList, m_ExtractOnlyNewer,
                                   m_DisplayComment, m_HonorDirectories, m_OverWriteFiles, m_ConvertCRtoCRLF, m_Verbose,
                                   m_CaseSensitive, privilege);
    } catch (const zel::Error& e) {
        throw e.WithSource("KTUnZipFiles::Unzip");
    }
}

std::string KTUnzipFiles::GetLastMessage() const {
    return CodeModule::LastMessageText;
}
