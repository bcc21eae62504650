#include "platform/zipengine/Printer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zipengine::detail {

void Printer::operator()(const std::string& text) {
    if (!m_Fn)
        return;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t n = std::min(text.size() - pos, m_Buffer.size() - 1);
        std::memcpy(m_Buffer.data(), text.data() + pos, n);
        m_Buffer[n] = '\0';
        m_Fn(m_Buffer.data(), static_cast<std::uint32_t>(n));
        pos += n;
    }
}

std::string ErrnoText(int err) {
    return err ? std::string(std::strerror(err)) : std::string("unknown error");
}

} // namespace zipengine::detail
