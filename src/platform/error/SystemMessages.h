#pragma once

#include "platform/error/LastError.h"

#include <cstdarg>
#include <string>

// The platform's texts for its system error codes, as the profile class and the workflows show them.
namespace winapi {

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x0100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x0200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x0400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x0800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x2000;

// Set by FormatMessageA for an id it has no text for.
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// The platform's text for a system error code, ending in "\r\n". Only FORMAT_MESSAGE_FROM_SYSTEM (with or
// without FORMAT_MESSAGE_IGNORE_INSERTS) is offered; the language is ignored (English texts, the same on every
// system, so that a box reads the same wherever it was tested). Returns the length without the NUL; 0 with last
// error 317 for an unknown id, 122 when the buffer is too small.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId, char* lpBuffer,
                     DWORD nSize, va_list* Arguments);
// The same text without its line break: "Error <code>" for an unknown code.
std::string SystemMessage(DWORD code);

} // namespace winapi
