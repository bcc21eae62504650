#include "platform/files/Names.h"

#include "platform/files/Os.h"

#include <algorithm>
#include <mutex>
#include <random>

namespace files {

namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// "*" and "?" glob without regard to (ASCII) case; "?" takes one whole UTF-8 character.
bool Glob(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            ++n;
            while (n < name.size() && IsContinuation(name[n]))
                ++n;
        } else if (p < pattern.size() && FoldCase(pattern[p]) == FoldCase(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

std::string NativePath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FoldCase(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = FoldCase(c);
    return folded;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    if (Glob(pattern, name))
        return true;
    // Windows rules on top of the glob.
    std::string_view p(pattern);
    if (p.size() >= 2 && p.substr(p.size() - 2) == ".*")
        return Glob(p.substr(0, p.size() - 2), name);
    if (p.size() >= 1 && p.back() == '.' && name.find('.') == std::string::npos)
        return Glob(p.substr(0, p.size() - 1), name);
    return false;
}

bool HasWildcards(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

bool IsTemporaryName(const std::string& name) {
    return name.find(TemporaryMarker) != std::string::npos;
}

namespace {
constexpr char SuffixChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::size_t SuffixLength = 6;
} // namespace

std::string TemporaryName(const std::string& name) {
    static std::mutex lock;
    static std::mt19937 random{std::random_device{}()};
    std::string suffix(SuffixLength, '0');
    {
        const std::lock_guard<std::mutex> hold(lock);
        for (char& c : suffix)
            c = SuffixChars[random() % (sizeof SuffixChars - 1)];
    }
    return name + TemporaryMarker + suffix;
}

bool IsTemporaryOf(const std::string& candidate, const std::string& name) {
    const std::string head = name + TemporaryMarker;
    if (candidate.size() != head.size() + SuffixLength || candidate.compare(0, head.size(), head) != 0)
        return false;
    return candidate.find_first_not_of(SuffixChars, head.size()) == std::string::npos;
}

std::string ToAnsi(const std::string& utf8) {
    return os::ToAnsi(utf8);
}

std::string FromAnsi(const std::string& ansi) {
    return os::FromAnsi(ansi);
}

} // namespace files
