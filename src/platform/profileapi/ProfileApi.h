#pragma once

#include "platform/error/LastError.h"

// The platform's profile (INI) functions and its message texts, with the platform's contract: results of 0 for
// failure with the thread's last-error code set (winapi::GetLastError), NUL-separated lists ending in a double
// NUL, truncation to the caller's buffer with the documented counts. File names are Windows-style paths; a name
// without a folder is looked for in the Windows folder ("WINDIR").
//
// File format: "[section]" headers and "key=value" lines; section and key names match without regard to case;
// blanks around names and values are trimmed; a value in matching double or single quotes loses them when read
// as a single value; lines whose first non-blank character is ";" are comments; CRLF and LF files both read.
// The write calls keep every other line of the file as it was and replace the file in one step.
//
// On Windows these have exact equivalents in kernel32 (GetPrivateProfileStringA and its siblings). The Windows
// build keeps this implementation all the same: the kernel32 writes rewrite the file in place, so a power cut can
// leave a profile cut short, and they take the ANSI code page where the program's text is UTF-8. Failure texts
// come from winapi::FormatMessageA (platform/error/SystemMessages.h).
namespace profileapi {

using winapi::BOOL;
using winapi::DWORD;
using LPSTR = char*;
using LPCSTR = const char*;

// One value into the buffer (truncated: size - 1 returned), or the default when the file, section or key is
// missing (last error 2). A NULL section lists the section names, a NULL key the key names of the section, as
// NUL-separated names ending in a double NUL (truncated: size - 2 returned). Truncation sets last error 234.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName);
// The section's "key=value" lines (comments and blank lines left out), NUL-separated, ending in a double NUL;
// truncated: size - 2 returned. 0 with last error 2 when the file or the section is missing.
DWORD GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// The file's section names in file order, NUL-separated, ending in a double NUL; truncated: size - 2 returned.
DWORD GetPrivateProfileSectionNamesA(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName);

// Sets one key, creating the file and the section when missing. A NULL value deletes the key, a NULL key the
// whole section. Names or values that could not be read back as written (line breaks, "=" in a key, a key that
// would read as a comment or header) are refused with last error 87. Last error 3 for a missing folder, 5 for
// a location that cannot be written or a read-only file.
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
// Replaces the whole contents of a section with the NUL-separated, double-NUL-ended lines of lpString,
// creating the file and the section when missing.
BOOL WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName);

} // namespace profileapi
