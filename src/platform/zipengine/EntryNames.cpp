#include "platform/zipengine/EntryNames.h"

#include "platform/zipengine/Os.h"

#include "platform/files/Names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

namespace zipengine::detail {

std::string Printable(const std::string& name) {
    std::string shown;
    for (unsigned char c : name) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else
            shown += static_cast<char>(c);
    }
    return shown;
}

bool HasControlCharacter(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

SafeName Sanitise(const std::string& name, bool spaceToUnderscore) {
    SafeName out;
    std::string comp;
    bool first = true;
    auto flush = [&](bool last) {
        (void)last;
        if (first && comp.size() >= 2 && comp[1] == ':' && std::isalpha(static_cast<unsigned char>(comp[0]))) {
            comp.erase(0, 2);
            out.stripped = true;
        }
        first = false;
        if (comp != "." && comp != "..")
            os::MakePlainName(comp, out.stripped);
        if (comp == "..")
            out.stripped = true;
        else if (!comp.empty() && comp != ".") {
            if (spaceToUnderscore)
                std::replace(comp.begin(), comp.end(), ' ', '_');
            out.parts.push_back(comp);
        }
        comp.clear();
    };
    if (!name.empty() && (name[0] == '/' || name[0] == '\\'))
        out.stripped = true;
    for (char c : name) {
        if (c == '/' || c == '\\')
            flush(false);
        else
            comp += c;
    }
    flush(true);
    return out;
}

} // namespace zipengine::detail
