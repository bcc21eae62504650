#pragma once

#include <string>
#include <string_view>

// Names and text: the rules every layer shares for file names, and the code page at the Windows boundary.
namespace files {

// The native form of a Windows-style path: "\" becomes "/".
std::string NativePath(const std::string& path);

// The one rule for comparing names without regard to case, as the products' file system does: ASCII letters
// fold, everything else (UTF-8 included) compares as it is.
char FoldCase(char c);
std::string FoldCase(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

// Whether a name matches a pattern of "*" and "?" without regard to case, with the Windows rules
// ("x.*" also matches "x", so "*.*" matches every name; "x." matches names without a dot).
bool MatchesPattern(const std::string& name, const std::string& pattern);
bool HasWildcards(const std::string& name);

// Every temporary file of the program carries this in its name ("<target>.zel~XXXXXX"), so that what a killed
// run left behind is never taken for the customer's data.
inline constexpr const char* TemporaryMarker = ".zel~";
bool IsTemporaryName(const std::string& name);
// A new temporary name for a file of the given name: the name, the marker and six random characters of [0-9a-z].
std::string TemporaryName(const std::string& name);
// The candidate is one of the program's temporaries of exactly that name (the scheme above, nothing else).
bool IsTemporaryOf(const std::string& candidate, const std::string& name);

// The program's text is UTF-8. What Windows programs exchange in the ANSI code page (the products' profile files,
// the original tools' passwords) is converted at that boundary; elsewhere both are the text as it is.
std::string ToAnsi(const std::string& utf8);
std::string FromAnsi(const std::string& ansi);

} // namespace files
