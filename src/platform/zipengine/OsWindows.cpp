#include "platform/zipengine/Os.h"

#include "platform/zipengine/Paths.h"

#include "platform/files/Names.h"

#include <string_view>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// <windows.h> defines macros of the names the platform's shape gives our own constants.
#include "platform/error/WindowsMacros.h"

namespace zipengine::os {

namespace fs = std::filesystem;

bool LocalTime(std::time_t time, std::tm& out) {
    return localtime_s(&out, &time) == 0;
}

std::string VolumeOf(const fs::path& full, bool resolved) {
    wchar_t volume[MAX_PATH + 1] = {};
    if (resolved && GetVolumePathNameW(full.c_str(), volume, MAX_PATH + 1))
        return detail::Utf8(fs::path(volume));
    return detail::Utf8(full.root_path());
}

// Windows reads some names as something else: it drops trailing dots and blanks (a part of nothing else, such as
// "..." or ".. ", names no file of its own), a ":" names a drive (which takes the path out of the extraction
// folder) or a stream, and a device name such as "NUL" or "COM1.txt" is the device in every folder. Such a part
// becomes a plain name of the folder.
void MakePlainName(std::string& part, bool& stripped) {
    const std::size_t kept = part.find_last_not_of(". ");
    if (kept == std::string::npos) {
        stripped = stripped || !part.empty();
        part.clear();
        return;
    }
    part.erase(kept + 1);
    for (char& c : part)
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            c = '_';
    std::string base = files::FoldCase(std::string_view(part).substr(0, part.find('.')));
    base.erase(base.find_last_not_of(' ') + 1);
    const bool numbered =
        base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '0' && base[3] <= '9';
    if (numbered || base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$")
        part.insert(part.begin(), '_'); // one character: GCC 12 takes the text form for an overlapping copy
}

} // namespace zipengine::os
