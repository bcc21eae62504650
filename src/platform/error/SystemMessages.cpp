#include "platform/error/SystemMessages.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <vector>

namespace winapi {

namespace {

struct Message {
    DWORD id;
    const char* text;
};

constexpr Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {15, "The system cannot find the drive specified.\r\n"},
    {19, "The media is write protected.\r\n"},
    {21, "The device is not ready.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of the file.\r\n"},
    {39, "The disk is full.\r\n"},
    {80, "The file exists.\r\n"},
    {82, "The directory or file cannot be created.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
};

} // namespace

DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId, char* lpBuffer,
                     DWORD nSize, va_list* Arguments) {
    (void)lpSource;     // only system messages are offered
    (void)dwLanguageId; // and only in English
    constexpr DWORD unsupported = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                                  FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (dwFlags & unsupported) != 0 || !lpBuffer)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    auto it =
        std::find_if(std::begin(kMessages), std::end(kMessages), [&](const Message& m) { return m.id == dwMessageId; });
    if (it == std::end(kMessages))
        return winapi::Failed(ERROR_MR_MID_NOT_FOUND);
    std::string_view text(it->text);
    if ((dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && text.find('%') != std::string_view::npos && !Arguments)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    if (text.size() + 1 > nSize)
        return winapi::Failed(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(lpBuffer, text.data(), text.size());
    lpBuffer[text.size()] = '\0';
    return static_cast<DWORD>(text.size());
}

std::string SystemMessage(DWORD code) {
    std::vector<char> buffer(256, '\0');
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer.data(),
                   static_cast<DWORD>(buffer.size()), nullptr);
    std::string text(buffer.data());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.empty() ? "Error " + std::to_string(code) : text;
}

} // namespace winapi
