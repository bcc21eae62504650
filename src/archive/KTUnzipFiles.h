#pragma once

#include <cstdint>
#include <string>

// Unpacks a zip archive into a folder through the unzip engine.
class KTUnzipFiles {
public:
    bool ExtractNewer() const;
    void SetExtractNewer(bool bExtractNewer);
    bool SpaceToUnderScore() const;
    void SetSpaceToUnderScore(bool bConvert);
    bool PromptOverwrite() const;
    void SetPromptOverwrite(bool bPrompt);
    std::int32_t MessageLevel() const;
    void SetMessageLevel(std::int32_t iLevel);
    bool WriteToStdOut() const;
    void SetWriteToStdOut(bool bWrite);
    bool TestZip() const;
    void SetTestZip(bool bTest);
    std::int32_t ExtractList() const;
    void SetExtractList(std::int32_t zExType);
    bool ExtractOnlyNewer() const;
    void SetExtractOnlyNewer(bool bOnlyNewer);
    bool DisplayComment() const;
    void SetDisplayComment(bool bDisplay);
    bool HonorDirectories() const;
    void SetHonorDirectories(bool bHonor);
    bool OverWriteFiles() const;
    void SetOverWriteFiles(bool bOverWrite);
    bool ConvertCRtoCRLF() const;
    void SetConvertCRtoCRLF(bool bConvert);
    bool Verbose() const;
    void SetVerbose(bool bVerbose);
    bool CaseSensitive() const;
    void SetCaseSensitive(bool bCaseSensitive);
    std::int32_t Privilege() const;
    void SetPrivilege(std::int32_t zPriv);
    std::string ZipFileName() const;
    void SetZipFileName(const std::string& sZipFileName);
    std::string ExtractDir() const;
    void SetExtractDir(const std::string& sExtractDir);

    // Empty arguments keep the stored archive path and folder. 0 = every entry extracted intact.
    std::int32_t Unzip(const std::string& sZipFileName = {}, const std::string& sExtractDir = {});
    std::string GetLastMessage() const;

private:
    std::int16_t m_ExtractNewer = 0;
    std::int16_t m_SpaceToUnderScore = 0;
    std::int16_t m_PromptOverwrite = 0;
    std::int32_t m_MessageLevel = 2;
    std::int16_t m_WriteToStdOut = 0;
    std::int16_t m_TestZip = 0;
    std::int32_t m_ExtractList = 0;
    std::int16_t m_ExtractOnlyNewer = 0;
    std::int16_t m_DisplayComment = 0;
    std::int16_t m_HonorDirectories = 1;
    std::int16_t m_OverWriteFiles = 1;
    std::int16_t m_ConvertCRtoCRLF = 0;
    std::int16_t m_Verbose = 0;
    std::int16_t m_CaseSensitive = 1;
    std::int32_t m_Privilege = 0;
    std::string m_ZipFileName;
    std::string m_ExtractDir;
    bool m_ZipFileNameSet = false;
    bool m_ExtractDirSet = false;
};
