#include "platform/profileapi/ProfileApi.h"

#include "platform/files/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace profileapi {

namespace {

using winapi::ERROR_ACCESS_DENIED;
using winapi::ERROR_FILE_NOT_FOUND;
using winapi::ERROR_INVALID_PARAMETER;
using winapi::ERROR_MORE_DATA;
using winapi::ERROR_PATH_NOT_FOUND;
using winapi::ERROR_SUCCESS;

constexpr const char* kBlanks = " \t\r\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string Trim(std::string_view text) {
    auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(kBlanks);
    return std::string(text.substr(first, last - first + 1));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// One line of a profile file as stored, with what it means.
struct Line {
    enum Kind { Blank, Comment, Section, Entry, Bare };

    std::string text; // without the line break
    std::string eol;  // "\r\n", "\n", or empty for a last line without a break
    Kind kind = Blank;
    std::string name;  // section name, or key (trimmed); a bare line's whole trimmed text
    std::string value; // value of an entry, trimmed

    static Line Make(std::string text, std::string eol) {
        Line line;
        line.text = std::move(text);
        line.eol = std::move(eol);
        std::string t = Trim(line.text);
        if (t.empty()) {
            line.kind = Blank;
        } else if (t[0] == ';') {
            line.kind = Comment;
        } else if (t[0] == '[') {
            line.kind = Section;
            auto close = t.find(']');
            line.name = Trim(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1));
        } else if (auto eq = t.find('='); eq != std::string::npos) {
            line.kind = Entry;
            line.name = Trim(std::string_view(t).substr(0, eq));
            line.value = Trim(std::string_view(t).substr(eq + 1));
        } else {
            line.kind = Bare;
            line.name = t;
        }
        return line;
    }
};

constexpr std::size_t npos = std::string::npos;

// A whole profile file, kept line by line so that a write changes only the lines it means to.
class Document {
public:
    void Parse(std::string_view content) {
        if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
            m_bom = kUtf8Bom;
            content.remove_prefix(kUtf8Bom.size());
        }
        while (!content.empty()) {
            auto nl = content.find('\n');
            std::string_view text = content.substr(0, nl);
            // A view, not a std::string assigned in the branches: GCC 12 at -O3 reports a false
            // -Wmaybe-uninitialized inside std::string assignment there (GCC bug 105616).
            std::string_view eol;
            if (nl != npos) {
                eol = "\n";
                if (!text.empty() && text.back() == '\r') {
                    text.remove_suffix(1);
                    eol = "\r\n";
                }
                content.remove_prefix(nl + 1);
            } else {
                content = {};
            }
            m_lines.push_back(Line::Make(std::string(text), std::string(eol)));
        }
    }

    std::string Serialize() const {
        std::string out = m_bom;
        for (const Line& line : m_lines)
            out += line.text + line.eol;
        return out;
    }

    // The first header with this name, or npos.
    std::size_t FindSection(std::string_view name) const {
        std::string wanted = Trim(name);
        for (std::size_t i = 0; i < m_lines.size(); ++i)
            if (m_lines[i].kind == Line::Section && files::SameName(m_lines[i].name, wanted))
                return i;
        return npos;
    }

    // Index of the next header after the one at `header`, or the number of lines.
    std::size_t SectionEnd(std::size_t header) const {
        for (std::size_t i = header + 1; i < m_lines.size(); ++i)
            if (m_lines[i].kind == Line::Section)
                return i;
        return m_lines.size();
    }

    // Index just after the last non-blank line of the section: blank lines that separate it from the next
    // section stay where they are.
    std::size_t BodyEnd(std::size_t header) const {
        std::size_t end = SectionEnd(header);
        while (end > header + 1 && m_lines[end - 1].kind == Line::Blank)
            --end;
        return end;
    }

    std::size_t FindKey(std::size_t header, std::string_view key) const {
        std::string wanted = Trim(key);
        std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i)
            if ((m_lines[i].kind == Line::Entry || m_lines[i].kind == Line::Bare) &&
                files::SameName(m_lines[i].name, wanted))
                return i;
        return npos;
    }

    std::vector<std::string> SectionNames() const {
        std::vector<std::string> names;
        for (const Line& line : m_lines)
            if (line.kind == Line::Section)
                AddUnique(names, line.name);
        return names;
    }

    std::vector<std::string> KeyNames(std::size_t header) const {
        std::vector<std::string> names;
        for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
            if (m_lines[i].kind == Line::Entry || m_lines[i].kind == Line::Bare)
                AddUnique(names, m_lines[i].name);
        return names;
    }

    // The section's lines the way the platform hands them out: "key=value" trimmed, bare lines as they are.
    std::vector<std::string> SectionLines(std::size_t header) const {
        std::vector<std::string> items;
        for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
            const Line& line = m_lines[i];
            if (line.kind == Line::Entry)
                items.push_back(line.name + "=" + line.value);
            else if (line.kind == Line::Bare)
                items.push_back(line.name);
        }
        return items;
    }

    const Line& At(std::size_t i) const { return m_lines[i]; }

    void Erase(std::size_t from, std::size_t to) {
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(from),
                      m_lines.begin() + static_cast<std::ptrdiff_t>(to));
    }

    void Replace(std::size_t i, std::string text) { m_lines[i] = Line::Make(std::move(text), m_lines[i].eol); }

    // Inserts new lines before index `at`, in the file's own line-break style.
    void Insert(std::size_t at, const std::vector<std::string>& texts) {
        std::string eol = Eol();
        if (at > 0 && m_lines[at - 1].eol.empty())
            m_lines[at - 1].eol = eol;
        std::vector<Line> lines;
        for (const std::string& text : texts)
            lines.push_back(Line::Make(text, eol));
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), lines.begin(), lines.end());
    }

    // A new section at the end, set off from what precedes it by one blank line.
    void AppendSection(const std::string& section, std::vector<std::string> texts) {
        texts.insert(texts.begin(), "[" + section + "]");
        if (!m_lines.empty() && m_lines.back().kind != Line::Blank)
            texts.insert(texts.begin(), std::string());
        Insert(m_lines.size(), texts);
    }

private:
    static void AddUnique(std::vector<std::string>& names, const std::string& name) {
        if (name.empty())
            return; // an empty name would end the NUL-separated list early
        for (const std::string& n : names)
            if (files::SameName(n, name))
                return;
        names.push_back(name);
    }

    std::string Eol() const {
        for (const Line& line : m_lines)
            if (!line.eol.empty())
                return line.eol;
        return "\r\n";
    }

    std::string m_bom;
    std::vector<Line> m_lines;
};

// Where a profile file name points: a name without a folder lives in the Windows folder.
std::string ProfilePath(const char* fileName) {
    std::string name = fileName;
    if (name.find_first_of("\\/") == npos) {
        std::string windows = files::Environ("WINDIR");
        if (!windows.empty())
            name = windows + "\\" + name;
    }
    std::string path = files::ResolvePath(name);
    // Writing through a link replaces the file it points to, not the link.
    std::error_code ec;
    const std::filesystem::path native(std::u8string(path.begin(), path.end()));
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(native, ec))) {
        const std::u8string real = std::filesystem::weakly_canonical(native, ec).u8string();
        if (!ec)
            path.assign(real.begin(), real.end());
    }
    return path;
}

DWORD CodeForErrno(int err) {
    return err == ENOENT ? ERROR_PATH_NOT_FOUND : files::SystemCode(err, ERROR_ACCESS_DENIED);
}

struct Loaded {
    DWORD code = ERROR_SUCCESS; // ERROR_FILE_NOT_FOUND for a missing file
    Document doc;
};

Loaded Load(const std::string& path) {
    Loaded result;
    std::string content;
    if (const int err = files::ReadAll(path, content); err != 0) {
        result.code = err == ENOENT || err == ENOTDIR ? ERROR_FILE_NOT_FOUND
                      : err == EISDIR                 ? ERROR_ACCESS_DENIED
                                                      : CodeForErrno(err);
        return result;
    }
    // The products write their profiles in the ANSI code page; a file that starts with the UTF-8 mark is UTF-8.
    const bool utf8 = std::string_view(content).substr(0, kUtf8Bom.size()) == kUtf8Bom;
    result.doc.Parse(utf8 ? content : files::FromAnsi(content));
    return result;
}

// The file a write changes: a missing one is written anew.
Loaded LoadForWriting(const std::string& path) {
    Loaded file = Load(path);
    if (file.code == ERROR_FILE_NOT_FOUND)
        file.code = ERROR_SUCCESS;
    return file;
}

// Replaces the file in one step: the new text goes to a temporary file in the same folder, which is renamed
// over the file only when completely written.
DWORD Save(const std::string& path, const std::string& content) {
    auto slash = path.rfind('/');
    const std::string folder = slash == npos ? std::string(".") : path.substr(0, slash + 1);
    if (!files::FolderExists(folder))
        return ERROR_PATH_NOT_FOUND;
    if (files::FolderExists(path) || (files::FileExists(path) && files::ReadOnly(path)))
        return ERROR_ACCESS_DENIED;
    // Written back in the encoding it was read in.
    const bool utf8 = std::string_view(content).substr(0, kUtf8Bom.size()) == kUtf8Bom;
    const int err = files::ReplaceFile(path, [bytes = utf8 ? content : files::ToAnsi(content)](int fd) {
        return files::WriteAll(fd, bytes.data(), bytes.size());
    });
    return err == 0 ? ERROR_SUCCESS : CodeForErrno(err);
}

// One string into the buffer, cut to size - 1 characters when it does not fit.
DWORD CopyString(const std::string& text, LPSTR buffer, DWORD size, bool& truncated) {
    std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    truncated = n < text.size();
    return static_cast<DWORD>(n);
}

// NUL-separated items ending in a double NUL; when they do not fit, the buffer is filled to size - 2 and
// closed with two NULs (the last item cut short) and size - 2 is returned.
DWORD CopyList(const std::vector<std::string>& items, LPSTR buffer, DWORD size, bool& truncated) {
    std::string all;
    for (const std::string& item : items) {
        all += item;
        all.push_back('\0');
    }
    truncated = false;
    if (all.size() + 1 <= size) {
        std::memcpy(buffer, all.data(), all.size());
        buffer[all.size()] = '\0';
        if (all.empty() && size > 1)
            buffer[1] = '\0';
        return static_cast<DWORD>(all.size());
    }
    truncated = true;
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, all.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

DWORD Finish(DWORD count, bool truncated, DWORD code) {
    winapi::SetLastError(truncated && code == ERROR_SUCCESS ? ERROR_MORE_DATA : code);
    return count;
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool ValidSection(LPCSTR section) {
    std::string_view s(section);
    return !Trim(s).empty() && !HasLineBreak(s) && s.find(']') == std::string_view::npos;
}

// A key that reads back as the same key: no line break, no "=", not empty, not taken for a comment or header.
bool ValidKey(LPCSTR key) {
    std::string k = Trim(key);
    return !k.empty() && !HasLineBreak(key) && k.find('=') == npos && k[0] != ';' && k[0] != '[';
}

BOOL WriteDocument(const std::string& path, const Document& doc) {
    DWORD code = Save(path, doc.Serialize());
    winapi::SetLastError(code);
    return code == ERROR_SUCCESS ? winapi::TRUE : winapi::FALSE;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName) {
    if (!lpReturnedString || nSize == 0)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    std::string fallback = lpDefault ? lpDefault : "";
    fallback.erase(fallback.find_last_not_of(' ') + 1); // the platform drops trailing blanks of the default

    Loaded file;
    if (lpFileName && *lpFileName)
        file = Load(ProfilePath(lpFileName));
    else
        file.code = ERROR_FILE_NOT_FOUND;
    bool truncated = false;

    if (!lpAppName) {
        std::vector<std::string> names;
        if (file.code == ERROR_SUCCESS)
            names = file.doc.SectionNames();
        DWORD n = CopyList(names, lpReturnedString, nSize, truncated);
        return Finish(n, truncated, file.code);
    }
    std::size_t header = file.code == ERROR_SUCCESS ? file.doc.FindSection(lpAppName) : npos;
    if (file.code == ERROR_SUCCESS && header == npos)
        file.code = ERROR_FILE_NOT_FOUND;
    if (!lpKeyName) {
        std::vector<std::string> names;
        if (header != npos)
            names = file.doc.KeyNames(header);
        DWORD n = CopyList(names, lpReturnedString, nSize, truncated);
        return Finish(n, truncated, file.code);
    }
    std::size_t key = header != npos ? file.doc.FindKey(header, lpKeyName) : npos;
    if (key == npos) {
        DWORD n = CopyString(fallback, lpReturnedString, nSize, truncated);
        return Finish(n, false, file.code == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : file.code);
    }
    const Line& line = file.doc.At(key);
    std::string value = line.kind == Line::Entry ? Unquote(line.value) : std::string();
    DWORD n = CopyString(value, lpReturnedString, nSize, truncated);
    return Finish(n, truncated, ERROR_SUCCESS);
}

DWORD GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (!lpReturnedString || nSize == 0 || !lpAppName)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    Loaded file;
    if (lpFileName && *lpFileName)
        file = Load(ProfilePath(lpFileName));
    else
        file.code = ERROR_FILE_NOT_FOUND;
    std::vector<std::string> items;
    if (file.code == ERROR_SUCCESS) {
        std::size_t header = file.doc.FindSection(lpAppName);
        if (header == npos)
            file.code = ERROR_FILE_NOT_FOUND;
        else
            items = file.doc.SectionLines(header);
    }
    bool truncated = false;
    DWORD n = CopyList(items, lpReturnedString, nSize, truncated);
    return Finish(n, truncated, file.code);
}

DWORD GetPrivateProfileSectionNamesA(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName) {
    return GetPrivateProfileStringA(nullptr, nullptr, "", lpszReturnBuffer, nSize, lpFileName);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
    if (!lpFileName || !*lpFileName)
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    if (!lpAppName) {
        // The platform's "flush the cache" call: nothing is cached here.
        if (!lpKeyName && !lpString) {
            winapi::SetLastError(ERROR_SUCCESS);
            return winapi::TRUE;
        }
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    }
    if (!ValidSection(lpAppName) || (lpKeyName && !ValidKey(lpKeyName)) || (lpString && HasLineBreak(lpString)))
        return winapi::Failed(ERROR_INVALID_PARAMETER);

    const std::string path = ProfilePath(lpFileName);
    Loaded file = LoadForWriting(path);
    if (file.code != ERROR_SUCCESS)
        return winapi::Failed(file.code);
    Document& doc = file.doc;
    std::size_t header = doc.FindSection(lpAppName);

    if (!lpKeyName || !lpString) {
        // Deleting what is not there succeeds and leaves the file (or its absence) alone.
        std::size_t key = (header != npos && lpKeyName) ? doc.FindKey(header, lpKeyName) : npos;
        if (header == npos || (lpKeyName && key == npos)) {
            winapi::SetLastError(ERROR_SUCCESS);
            return winapi::TRUE;
        }
        if (lpKeyName)
            doc.Erase(key, key + 1);
        else
            doc.Erase(header, doc.SectionEnd(header));
        return WriteDocument(path, doc);
    }

    if (header == npos) {
        doc.AppendSection(lpAppName, {std::string(lpKeyName) + "=" + lpString});
    } else if (std::size_t key = doc.FindKey(header, lpKeyName); key != npos) {
        doc.Replace(key, doc.At(key).name + "=" + lpString);
    } else {
        doc.Insert(doc.BodyEnd(header), {std::string(lpKeyName) + "=" + lpString});
    }
    return WriteDocument(path, doc);
}

BOOL WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
    if (!lpFileName || !*lpFileName || !lpAppName || !lpString || !ValidSection(lpAppName))
        return winapi::Failed(ERROR_INVALID_PARAMETER);
    std::vector<std::string> entries;
    for (const char* p = lpString; *p; p += std::strlen(p) + 1) {
        std::string t = Trim(p);
        if (HasLineBreak(p) || (!t.empty() && t[0] == '['))
            return winapi::Failed(ERROR_INVALID_PARAMETER);
        entries.emplace_back(p);
    }

    const std::string path = ProfilePath(lpFileName);
    Loaded file = LoadForWriting(path);
    if (file.code != ERROR_SUCCESS)
        return winapi::Failed(file.code);
    Document& doc = file.doc;
    std::size_t header = doc.FindSection(lpAppName);
    if (header == npos) {
        doc.AppendSection(lpAppName, entries);
    } else {
        doc.Erase(header + 1, doc.BodyEnd(header));
        doc.Insert(header + 1, entries);
    }
    return WriteDocument(path, doc);
}

} // namespace profileapi
