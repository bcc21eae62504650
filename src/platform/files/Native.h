#pragma once

// What the file services' own sources share: native paths as the file system library takes them, and the few
// questions every concern asks of them. Internal to the file services.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace files::native {

namespace fs = std::filesystem;

// A native path as the file system library takes it: from UTF-8, so names outside ASCII survive on Windows.
fs::path Path(const std::string& native);
std::string Utf8(const fs::path& path);
// errno of a file system library error, EIO when it has none.
int ErrnoOf(const std::error_code& ec);
[[noreturn]] void Fail(std::int32_t number, const char* source);

struct SplitPath {
    std::string folder; // native, with its trailing "/"; empty for the current folder
    std::string name;
};
SplitPath Split(const std::string& path);
std::string FolderOrDot(const std::string& folder);

bool IsPlainFile(const std::string& native);
bool IsFolder(const std::string& native);
bool Exists(const std::string& native);
// The owner-write bit stands in for the read-only attribute on POSIX systems (root ignores permission bits); the
// file system library maps the attribute itself onto it on Windows.
bool IsReadOnly(const std::string& native);

} // namespace files::native
