#pragma once

#include "platform/error/ProgressHook.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The zip and unzip engines in the shape of the Info-ZIP Windows libraries (zip32 and unzip32), over libzip.
// Texts are zero-terminated UTF-8; paths use "\" or "/" as separators. Results: 0 = the whole job succeeded.
namespace zipengine {

// ---- zip32 ----

using DLLPRNT = std::int32_t (*)(char* buffer, std::uint32_t length);
using DLLPASSWORD = std::int32_t (*)(char* buffer, std::int32_t size, const char* prompt, const char* name);
using DLLCOMMENT = char* (*)(char* buffer);
using DLLSERVICE = std::int32_t (*)(const char* name, std::uint32_t length);

// The engine calls `print` only; the archive drivers fill in the rest, as the library's callers do.
struct ZIPUSERFUNCTIONS {
    DLLPRNT print = nullptr;
    DLLCOMMENT comment = nullptr;
    DLLPASSWORD password = nullptr;
    DLLSERVICE ServiceApplication = nullptr;
};

// The library's options, as far as the archive drivers set them. The engine ignores Date, fNoDirEntries, fVerbose,
// fCRLF_LF, fLF_CRLF, fForce and fUpdate (a run always writes a fresh archive), and refuses a run with fEncrypt,
// fMove, fDeleteEntries, fFreshen or fGrow.
struct ZPOPT {
    const char* Date = nullptr;      // include/exclude date, "mmddyyyy"
    const char* szRootDir = nullptr; // folder that relative names and entry names are based on
    std::int32_t fEncrypt = 0;
    std::int32_t fSystem = 0; // hidden and system files too
    std::int32_t fNoDirEntries = 0;
    std::int32_t fVerbose = 0;
    std::int32_t fQuiet = 0; // no "adding:" lines, no summary
    std::int32_t fCRLF_LF = 0;
    std::int32_t fLF_CRLF = 0;
    std::int32_t fJunkDir = 0; // entry names without their folders
    std::int32_t fGrow = 0;
    std::int32_t fForce = 0;
    std::int32_t fMove = 0;
    std::int32_t fDeleteEntries = 0;
    std::int32_t fUpdate = 0;
    std::int32_t fFreshen = 0;
    std::int32_t fRecurse = 0; // into the folders that names and patterns give
    char fLevel = 0;           // '0'..'9'; 0 = the engine's default (deflate level 6)
};

struct ZCL {
    std::int32_t argc = 0;
    const char* lpszZipFN = nullptr;
    const char* const* FNV = nullptr; // argc names; null slots are skipped
};

std::int32_t ZpInit(const ZIPUSERFUNCTIONS* lpZipUserFunc);
std::int32_t ZpSetOptions(const ZPOPT* lpOpts);
// Builds a fresh archive from the names (wildcards "*" and "?" in the last component, without regard to case).
std::int32_t ZpArchive(ZCL C);

// ---- unzip32 ----

using DLLSND = void (*)();
using DLLREPLACE = std::int32_t (*)(char* name);
using UZPPASSWORD = std::int16_t (*)(char* buffer, std::int32_t size, const char* prompt, const char* name);
using DLLMESSAGE = void (*)(std::uint32_t ucsize, std::uint32_t csize, std::uint32_t cfactor, std::uint32_t mo,
                            std::uint32_t dy, std::uint32_t yr, std::uint32_t hh, std::uint32_t mm, char c,
                            const char* filename, const char* methbuf, std::uint32_t crc, char fCrypt);
using UZPSERVICE = std::int32_t (*)(const char* name, std::uint32_t length);

// Answers of the replace callback.
constexpr std::int32_t IDM_REPLACE_NO = 100;
constexpr std::int32_t IDM_REPLACE_ALL = 101;
constexpr std::int32_t IDM_REPLACE_YES = 102;
constexpr std::int32_t IDM_REPLACE_NONE = 104;

// The engine calls every callback but `sound`, and fills in NumMembers.
struct USERFUNCTIONS {
    DLLPRNT print = nullptr;
    DLLSND sound = nullptr;
    DLLREPLACE replace = nullptr;
    UZPPASSWORD password = nullptr;
    DLLMESSAGE SendApplicationMessage = nullptr;
    UZPSERVICE ServCallBk = nullptr;
    std::uint32_t NumMembers = 0;
};

// The archive drivers set every field; the engine ignores PromptToOverwrite (a callback set for replace is asked
// unless noflag), ncflag, naflag, nZIflag, C_flag and fPrivilege.
struct DCL {
    std::int32_t ExtractOnlyNewer = 0;
    std::int32_t SpaceToUnderscore = 0;
    std::int32_t PromptToOverwrite = 0;
    std::int32_t fQuiet = 0; // 0 every message, 1 fewer, 2 problems only
    std::int32_t ncflag = 0;
    std::int32_t ntflag = 0; // test only: check every entry, write nothing
    std::int32_t nvflag = 0; // list only: report every entry through SendApplicationMessage
    std::int32_t nfflag = 0; // freshen: replace existing older files only
    std::int32_t nzflag = 0;
    std::int32_t ndflag = 0; // recreate the folders stored in the archive
    std::int32_t noflag = 0; // overwrite existing files without asking
    std::int32_t naflag = 0;
    std::int32_t nZIflag = 0;
    std::int32_t C_flag = 0;
    std::int32_t fPrivilege = 0;
    const char* lpszZipFN = nullptr;
    const char* lpszExtractDir = nullptr;
};

// The engine fills in the texts (within the blanks the caller put there) and the unzip and windll versions.
struct UzpVer {
    std::uint32_t structlen = 0;
    std::uint32_t flag = 0;
    char* betalevel = nullptr;
    char* date = nullptr;
    char* zlib_version = nullptr;
    std::uint8_t unzip[4] = {};
    std::uint8_t windll[4] = {};
};

std::int32_t UzpVersion2(UzpVer* version);
// Extracts every entry (include and exclude lists are taken but must be empty).
std::int32_t Wiz_SingleEntryUnzip(std::int32_t ifnc, const char* const* ifnv, std::int32_t xfnc,
                                  const char* const* xfnv, const DCL* lpDCL, USERFUNCTIONS* lpUserFunc);

// ---- outside the libraries' shape ----

// Called while an archive is built or extracted, at least every ~50 ms of work; false cancels the run. It is
// always called on the thread that called the engine (the work itself runs on threads of the engine's own),
// and once after the files are listed (or the archive is opened) and before any file is read.
void SetProgressHook(zel::ProgressHook hook);

// Decides, on top of the engine's own rules (never the archive being written nor the program's temporaries; hidden
// and system files only when asked for), which of the files the names give are packed. Called with the file's
// folder (ending in a separator) and name; none set: every one.
using FileFilter = std::function<bool(const std::string& folder, const std::string& name)>;
void SetFileFilter(FileFilter filter);

// One entry of an archive as its central directory records it.
struct EntryRecord {
    std::string name; // as stored, folders included
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};
// The entries of an archive, without reading their data; false when it cannot be opened as one.
bool ReadCatalog(const std::string& archive, std::vector<EntryRecord>& entries);

// The libraries as the archive drivers reach them, through their exported functions: here always the engine
// above. A build that loads the libraries at run time returns null for one that cannot be loaded, which the
// drivers report as "File not found".
using ZpInitProc = decltype(&ZpInit);
using ZpSetOptionsProc = decltype(&ZpSetOptions);
using ZpArchiveProc = decltype(&ZpArchive);
using UzpVersion2Proc = decltype(&UzpVersion2);
using Wiz_SingleEntryUnzipProc = decltype(&Wiz_SingleEntryUnzip);
struct Zip32Library {
    ZpInitProc ZpInit;
    ZpSetOptionsProc ZpSetOptions;
    ZpArchiveProc ZpArchive;
};
struct Unzip32Library {
    UzpVersion2Proc UzpVersion2;
    Wiz_SingleEntryUnzipProc Wiz_SingleEntryUnzip;
};
const Zip32Library* Zip32();
const Unzip32Library* Unzip32();

} // namespace zipengine
