#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One profile (INI) file read and written through the platform's profile functions. Never raises:
// operations return false and leave a text in LastErrorDescription.
class WLM_CIni {
public:
    WLM_CIni();
    ~WLM_CIni();

    std::string FileName() const;
    void SetFileName(const std::string& New_FileName);
    std::string LastErrorDescription() const;

    bool ReadValue(const std::string& psSection, const std::string& psKey, std::string& psValue);
    bool ReadSection(const std::string& psSection, std::vector<std::string>& psKeys,
                     std::vector<std::string>& psValues);
    bool WriteValue(const std::string& psSection, const std::string& psKey, const std::string& psValue);
    bool WriteSection(const std::string& psSection, const std::vector<std::string>& psKeys,
                      const std::vector<std::string>& psValues);
    bool Enum_SectionNames(std::vector<std::string>& psSectionNames);

private:
    bool CheckFileName();
    void RecordLastError();

    std::string m_FileName;
    std::int32_t m_LastErrorCode = 0;
    std::string m_LastErrorDescription;
};
