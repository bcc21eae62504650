#include "platform/zipengine/EntryNames.h"

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

namespace {

#ifdef _WIN32
// Windows reads some names as something else: it drops trailing dots and blanks (a part of nothing else, such as
// "..." or ".. ", names no file of its own), a ":" names a drive (which takes the path out of the extraction
// folder) or a stream, and a device name such as "NUL" or "COM1.txt" is the device in every folder. Such a part
// becomes a plain name of the folder.
void MakeWindowsName(std::string& comp, bool& stripped) {
    if (comp == "." || comp == "..")
        return;
    const std::size_t kept = comp.find_last_not_of(". ");
    if (kept == std::string::npos) {
        stripped = stripped || !comp.empty();
        comp.clear();
        return;
    }
    comp.erase(kept + 1);
    for (char& c : comp)
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            c = '_';
    std::string base = files::FoldCase(std::string_view(comp).substr(0, comp.find('.')));
    base.erase(base.find_last_not_of(' ') + 1);
    const bool numbered =
        base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '0' && base[3] <= '9';
    if (numbered || base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$")
        comp.insert(0, "_");
}
#endif

} // namespace

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
#ifdef _WIN32
        MakeWindowsName(comp, out.stripped);
#endif
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
