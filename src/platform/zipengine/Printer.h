#pragma once

// The engines' messages, through the caller's print callback. Internal to the engine.

#include "platform/zipengine/ZipEngine.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zipengine::detail {

// The print buffers of the libraries, bytes and the zero byte included.
inline constexpr std::size_t ZipPrintBufferSize = 4097;
inline constexpr std::size_t UnzipPrintBufferSize = 32801;

// Sends text through the print callback in pieces that fit its buffer.
class Printer {
public:
    Printer(DLLPRNT fn, std::size_t bufferSize) : m_Fn(fn), m_Buffer(bufferSize) {}
    void operator()(const std::string& text);

private:
    DLLPRNT m_Fn;
    std::vector<char> m_Buffer;
};

// An errno as the messages show it.
std::string ErrnoText(int err);

} // namespace zipengine::detail
