#include "platform/zipengine/Paths.h"

#include "platform/zipengine/Os.h"

#include "platform/files/Runtime.h"

#include <cstdint>

namespace zipengine::detail {

fs::path PathOf(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string Shown(const fs::path& path) {
    fs::path native = path;
    return Utf8(native.make_preferred());
}

fs::path ResolveNoCase(const fs::path& path) {
    if (files::ExistsPath(Utf8(path)))
        return path;
    fs::path out = path.root_path();
    for (const fs::path& part : path.relative_path()) {
        const std::string found = files::ResolvePath(Utf8(out / part));
        out /= PathOf(found.substr(found.rfind('/') + 1));
    }
    return out;
}

bool SameFile(const files::FileId& a, const files::FileId& b) {
    return a.device == b.device && a.inode == b.inode;
}

std::string DriveOf(const fs::path& folder) {
    std::error_code ec;
    fs::path full = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (full.has_relative_path() && !full.has_filename())
        full = full.parent_path(); // no trailing separator
    return Shown(PathOf(os::VolumeOf(full, !ec)));
}

std::time_t ChangedAt(const files::FileId& id) {
    constexpr std::int64_t second = 1000000000;
    return static_cast<std::time_t>(id.mtimeNs / second - (id.mtimeNs % second < 0 ? 1 : 0));
}

} // namespace zipengine::detail
