#include "platform/files/Native.h"

#include "platform/error/Error.h"
#include "platform/files/Names.h"

namespace files::native {

fs::path Path(const std::string& native) {
    return fs::path(std::u8string(native.begin(), native.end()));
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

int ErrnoOf(const std::error_code& ec) {
    const std::error_condition condition = ec.default_error_condition();
    return condition.category() == std::generic_category() ? condition.value() : EIO;
}

void Fail(std::int32_t number, const char* source) {
    throw zel::rt::Raise(number, source);
}

SplitPath Split(const std::string& path) {
    std::string native = NativePath(path);
    auto pos = native.rfind('/');
    if (pos == std::string::npos)
        return {"", native};
    return {native.substr(0, pos + 1), native.substr(pos + 1)};
}

std::string FolderOrDot(const std::string& folder) {
    return folder.empty() ? std::string(".") : folder;
}

bool IsPlainFile(const std::string& native) {
    std::error_code ec;
    return fs::is_regular_file(Path(native), ec);
}

bool IsFolder(const std::string& native) {
    std::error_code ec;
    return fs::is_directory(Path(native), ec);
}

bool Exists(const std::string& native) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(Path(native), ec));
}

bool IsReadOnly(const std::string& native) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(Path(native), ec);
    return !ec && fs::exists(st) && !fs::is_symlink(st) &&
           (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

} // namespace files::native
