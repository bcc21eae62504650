#include "platform/zipengine/Os.h"

#include "platform/zipengine/Paths.h"

#include <sys/stat.h>

namespace zipengine::os {

namespace fs = std::filesystem;

bool LocalTime(std::time_t time, std::tm& out) {
    return localtime_r(&time, &out) != nullptr;
}

// The last folder upwards on the same device.
std::string VolumeOf(const fs::path& full, bool resolved) {
    struct stat st {};
    if (!resolved || ::stat(full.c_str(), &st) != 0)
        return detail::Utf8(full);
    fs::path mount = full;
    for (fs::path up = full.parent_path(); up != mount; up = up.parent_path()) {
        struct stat above {};
        if (::stat(up.c_str(), &above) != 0 || above.st_dev != st.st_dev)
            break;
        mount = up;
    }
    return detail::Utf8(mount);
}

// Every name but "." and ".." is a plain name of its folder here.
void MakePlainName(std::string& /*part*/, bool& /*stripped*/) {}

} // namespace zipengine::os
