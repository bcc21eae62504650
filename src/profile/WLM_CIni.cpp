#include "profile/WLM_CIni.h"

#include "platform/error/LastError.h"
#include "platform/error/SystemMessages.h"
#include "platform/profileapi/ProfileApi.h"

#include <cstring>

namespace {

constexpr profileapi::DWORD kValueBufferSize = 255;
constexpr profileapi::DWORD kListBufferSize = 32767;
constexpr profileapi::DWORD kMessageBufferSize = 255;

// The NUL-terminated items of a list the platform filled, reading only items that end within the count it
// returned: an item cut short by truncation ends beyond the count and is left out rather than taken as data.
std::vector<std::string> SplitList(const std::vector<char>& buffer, profileapi::DWORD count) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start < count) {
        const void* nul = std::memchr(buffer.data() + start, '\0', count - start);
        if (!nul)
            break;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data());
        if (end == start)
            break; // the empty item that closes the list
        items.emplace_back(buffer.data() + start, end - start);
        start = end + 1;
    }
    return items;
}

} // namespace

WLM_CIni::WLM_CIni() = default;

WLM_CIni::~WLM_CIni() = default;

std::string WLM_CIni::FileName() const {
    return m_FileName;
}

void WLM_CIni::SetFileName(const std::string& New_FileName) {
    m_FileName = New_FileName;
}

std::string WLM_CIni::LastErrorDescription() const {
    return m_LastErrorDescription;
}

bool WLM_CIni::ReadValue(const std::string& psSection, const std::string& psKey, std::string& psValue) {
    if (!CheckFileName())
        return false;
    std::vector<char> buffer(kValueBufferSize, '\0');
    profileapi::DWORD count = profileapi::GetPrivateProfileStringA(psSection.c_str(), psKey.c_str(), "", buffer.data(),
                                                                   kValueBufferSize, m_FileName.c_str());
    if (count == 0) {
        RecordLastError();
        return false;
    }
    psValue.assign(buffer.data());
    return true;
}

bool WLM_CIni::ReadSection(const std::string& psSection, std::vector<std::string>& psKeys,
                           std::vector<std::string>& psValues) {
    if (!CheckFileName())
        return false;
    std::vector<char> buffer(kListBufferSize, '\0');
    profileapi::DWORD count =
        profileapi::GetPrivateProfileSectionA(psSection.c_str(), buffer.data(), kListBufferSize, m_FileName.c_str());
    if (count == 0) {
        RecordLastError();
        return false;
    }
    std::vector<std::string> entries = SplitList(buffer, count);
    if (entries.empty()) {
        // The section's only entry did not fit the buffer; the platform's code says so.
        RecordLastError();
        return false;
    }
    std::vector<std::string> keys, values;
    for (const std::string& entry : entries) {
        // An entry without "=" is a key with an empty value.
        auto eq = entry.find('=');
        keys.push_back(entry.substr(0, eq));
        values.push_back(eq == std::string::npos ? std::string() : entry.substr(eq + 1));
    }
    psKeys = std::move(keys);
    psValues = std::move(values);
    return true;
}

bool WLM_CIni::WriteValue(const std::string& psSection, const std::string& psKey, const std::string& psValue) {
    if (!CheckFileName())
        return false;
    profileapi::BOOL written =
        profileapi::WritePrivateProfileStringA(psSection.c_str(), psKey.c_str(), psValue.c_str(), m_FileName.c_str());
    if (!written)
        RecordLastError();
    return written != 0;
}

bool WLM_CIni::WriteSection(const std::string& psSection, const std::vector<std::string>& psKeys,
                            const std::vector<std::string>& psValues) {
    if (!CheckFileName())
        return false;
    if (psKeys.size() != psValues.size()) {
        m_LastErrorDescription = "Key array and Value array must be of the same size";
        return false;
    }
    std::string block;
    for (std::size_t i = 0; i < psKeys.size(); ++i) {
        block += psKeys[i] + "=" + psValues[i];
        block.push_back('\0');
    }
    // c_str() adds the NUL that closes the list.
    profileapi::BOOL written =
        profileapi::WritePrivateProfileSectionA(psSection.c_str(), block.c_str(), m_FileName.c_str());
    if (!written)
        RecordLastError();
    return written != 0;
}

bool WLM_CIni::Enum_SectionNames(std::vector<std::string>& psSectionNames) {
    if (!CheckFileName())
        return false;
    std::vector<char> buffer(kListBufferSize, '\0');
    profileapi::DWORD count =
        profileapi::GetPrivateProfileSectionNamesA(buffer.data(), kListBufferSize, m_FileName.c_str());
    if (count == 0) {
        RecordLastError();
        return false;
    }
    std::vector<std::string> names = SplitList(buffer, count);
    if (names.empty()) {
        RecordLastError();
        return false;
    }
    psSectionNames = std::move(names);
    return true;
}

bool WLM_CIni::CheckFileName() {
    if (!m_FileName.empty())
        return true;
    m_LastErrorDescription = "No filename specified";
    return false;
}

void WLM_CIni::RecordLastError() {
    m_LastErrorCode = static_cast<std::int32_t>(winapi::GetLastError());
    if (m_LastErrorCode == 0) {
        m_LastErrorDescription = "An unknown error has occured";
        return;
    }
    std::vector<char> buffer(kMessageBufferSize, '\0');
    winapi::DWORD length = winapi::FormatMessageA(
        winapi::FORMAT_MESSAGE_FROM_SYSTEM | winapi::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<winapi::DWORD>(m_LastErrorCode), 0, buffer.data(), kMessageBufferSize, nullptr);
    if (length == 0) {
        m_LastErrorDescription = "Unknown error " + std::to_string(static_cast<std::uint32_t>(m_LastErrorCode));
        return;
    }
    m_LastErrorDescription.assign(buffer.data());
}
