#include "archive/CodeModule.h"

#include "platform/error/Error.h"
#include "platform/ui/UiServices.h"
#include "platform/zipengine/ZipEngine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace CodeModule {

std::string LastMessageText;
std::string UnzipPrintText;
std::int16_t SkipPasswordPrompt = 0;

namespace {

// The bytes up to the first zero byte, at most length of them.
std::string BufferText(const char* buffer, std::size_t length) {
    if (!buffer)
        return {};
    return std::string(buffer, strnlen(buffer, length));
}

// Anything else thrown below becomes the error object, so callers see one kind of failure.
zel::Error AsError(const std::exception& e, const std::string& source) {
    if (auto* err = dynamic_cast<const zel::Error*>(&e))
        return err->WithSource(source);
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return zel::rt::Raise(zel::rt::OutOfMemory, source);
    return zel::Error(zel::rt::InternalError, source, std::string("Internal error: ") + e.what());
}

// A library that cannot be loaded fails every call into it, as the platform's loader does.
template <class Library> const Library& Loaded(const Library* library, const char* name) {
    if (!library)
        throw zel::Error(zel::rt::FileNotFound, name, std::string("File not found: ") + name);
    return *library;
}

// Returned when the zip engine could not run at all: the caller must never read that as "archive written".
constexpr std::int32_t ZipEngineUnavailable = -1;

} // namespace

std::int32_t VBZip(std::int16_t argc, const std::string& zipname, const ZipNameList& mynames, std::int16_t junk,
                   std::int16_t recurse, std::int16_t updat, std::int16_t freshen, const std::string& basename,
                   std::int16_t Encrypt, std::int16_t IncludeSystem, std::int16_t IgnoreDirectoryEntries,
                   std::int16_t Verbose, std::int16_t Quiet, std::int16_t CRLFtoLF, std::int16_t LFtoCRLF,
                   std::int16_t Grow, std::int16_t Force, std::int16_t iMove, std::int16_t DeleteEntries) {
    // Each step's failure is ignored on purpose and the next step runs; only the archive call's result counts.
    std::int32_t result = 0;
    bool archived = false;
    std::string failure;
    LastMessageText.clear();

    zipengine::ZIPUSERFUNCTIONS functions;
    functions.print = ZipPrintCallback;
    functions.password = ZipPasswordCallback;
    functions.comment = ZipCommentCallback;
    functions.ServiceApplication = nullptr;

    std::string rootDir = basename;
    std::transform(rootDir.begin(), rootDir.end(), rootDir.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); });
    zipengine::ZPOPT options; // every field not set here stays 0
    options.Date = nullptr;
    options.szRootDir = rootDir.c_str();
    options.fLevel = 0;
    options.fJunkDir = junk;
    options.fRecurse = recurse;
    options.fUpdate = updat;
    options.fFreshen = freshen;
    options.fEncrypt = Encrypt;
    options.fSystem = IncludeSystem;
    options.fNoDirEntries = IgnoreDirectoryEntries;
    options.fVerbose = Verbose;
    options.fQuiet = Quiet;
    options.fCRLF_LF = CRLFtoLF;
    options.fLF_CRLF = LFtoCRLF;
    options.fGrow = Grow;
    options.fForce = Force;
    options.fMove = iMove;
    options.fDeleteEntries = DeleteEntries;

    std::vector<const char*> names(mynames.s.size(), nullptr);
    for (std::size_t i = 0; i < mynames.s.size(); ++i)
        if (mynames.s[i])
            names[i] = mynames.s[i]->c_str();
    zipengine::ZCL zcl;
    zcl.argc = argc;
    zcl.lpszZipFN = zipname.c_str();
    zcl.FNV = names.data();

    const zipengine::Zip32Library* zip32 = zipengine::Zip32();
    try {
        result = Loaded(zip32, "zip32.dll").ZpInit(&functions);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    try {
        result = Loaded(zip32, "zip32.dll").ZpSetOptions(&options);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    try {
        result = Loaded(zip32, "zip32.dll").ZpArchive(zcl);
        archived = true;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    // A run that did not reach the engine wrote nothing: never report it as success.
    if (!archived) {
        LastMessageText +=
            "The archive " + zipname + " could not be made: the zip engine is not available (" + failure + ").";
        return ZipEngineUnavailable;
    }
    return result;
}

std::int32_t VBUnzip(const std::optional<std::string>& sZipFileName, const std::optional<std::string>& sExtractDir,
                     std::int16_t ExtractNewer, std::int16_t SpaceUnderScore, std::int16_t PromptOverwrite,
                     std::int16_t MessageLevel, std::int16_t WriteToStdOut, std::int16_t TestZip,
                     std::int16_t ExtractList, std::int16_t ExtractOnlyNewer, std::int16_t DisplayComment,
                     std::int16_t HonorDirectories, std::int16_t OverWriteFiles, std::int16_t ConvertCRtoCRLF,
                     std::int16_t Verbose, std::int16_t CaseSensitive, std::int16_t Privilege) {
    try {
        LastMessageText.clear();
        UnzipPrintText.clear();
        SkipPasswordPrompt = 0;
        ZipNameList includeList, excludeList;
        std::vector<const char*> include(includeList.s.size(), nullptr), exclude(excludeList.s.size(), nullptr);

        zipengine::DCL dcl;
        dcl.ExtractOnlyNewer = ExtractOnlyNewer;
        dcl.SpaceToUnderscore = SpaceUnderScore;
        dcl.PromptToOverwrite = PromptOverwrite;
        dcl.fQuiet = MessageLevel;
        dcl.ncflag = WriteToStdOut;
        dcl.ntflag = TestZip;
        dcl.nvflag = ExtractList;
        dcl.nfflag = ExtractNewer;
        dcl.nzflag = DisplayComment;
        dcl.ndflag = HonorDirectories;
        dcl.noflag = OverWriteFiles;
        dcl.naflag = ConvertCRtoCRLF;
        dcl.nZIflag = Verbose;
        dcl.C_flag = CaseSensitive;
        dcl.fPrivilege = Privilege;
        dcl.lpszZipFN = sZipFileName ? sZipFileName->c_str() : nullptr;
        dcl.lpszExtractDir = sExtractDir ? sExtractDir->c_str() : nullptr;

        zipengine::USERFUNCTIONS functions;
        functions.print = UnzipPrintCallback;
        functions.sound = nullptr;
        functions.replace = UnzipReplaceCallback;
        functions.password = UnzipPasswordCallback;
        functions.SendApplicationMessage = UnzipMessageCallback;
        functions.ServCallBk = UnzipServiceCallback;

        char betalevel[] = "         ";      // 9 blanks
        char date[] = "                   "; // 19 blanks
        char zlibVersion[] = "         ";    // 9 blanks
        zipengine::UzpVer version;
        version.structlen = 64;
        version.flag = 0;
        version.betalevel = betalevel;
        version.date = date;
        version.zlib_version = zlibVersion;
        const zipengine::Unzip32Library& unzip32 = Loaded(zipengine::Unzip32(), "unzip32.dll");
        unzip32.UzpVersion2(&version);

        return unzip32.Wiz_SingleEntryUnzip(0, include.data(), 0, exclude.data(), &dcl, &functions);
    } catch (const std::exception& e) {
        throw AsError(e, "CodeModule::VBUnzip");
    }
}

std::int32_t ZipPrintCallback(char* buffer, std::uint32_t length) {
    // Failures here are ignored on purpose: printing must never stop the engine.
    try {
        LastMessageText += BufferText(buffer, length);
    } catch (...) {
    }
    try {
        ui::Current().DoEvents();
    } catch (...) {
    }
    return 0;
}

std::int32_t ZipPasswordCallback(char* /*buffer*/, std::int32_t /*size*/, const char* /*prompt*/,
                                 const char* /*name*/) {
    return 1; // the builder never asks for encryption
}

char* ZipCommentCallback(char* buffer) {
    return buffer;
}

std::int32_t UnzipPrintCallback(char* buffer, std::uint32_t length) {
    // Failures here are ignored on purpose, as on the zip side.
    try {
        std::string text = BufferText(buffer, length);
        if (!text.empty() && text[0] == '\n')
            text = "\r\n";
        UnzipPrintText += text;
        LastMessageText = UnzipPrintText;
    } catch (...) {
    }
    return 0;
}

std::int32_t UnzipReplaceCallback(char* name) {
    std::int32_t result = zipengine::IDM_REPLACE_NO;
    try {
        std::string path = BufferText(name, 256);
        switch (ui::Current().MsgBox("Overwrite " + path + "?", ui::Buttons::YesNoCancel, ui::Icon::Exclamation, 0,
                                     "VBUnZip32 - File Already Exists!")) {
        case ui::Answer::Yes:
            result = zipengine::IDM_REPLACE_YES;
            break;
        case ui::Answer::Cancel:
            result = zipengine::IDM_REPLACE_NONE;
            break;
        default:
            result = zipengine::IDM_REPLACE_NO;
            break;
        }
    } catch (...) {
        // ignored on purpose: the current answer (skip) stands
    }
    return result;
}

std::int16_t UnzipPasswordCallback(char* buffer, std::int32_t size, const char* /*prompt*/, const char* /*name*/) {
    std::int16_t result = 1;
    try {
        if (SkipPasswordPrompt == 1)
            return 1;
        std::string answer = ui::Current().InputBox("Please Enter The Password!");
        if (answer.empty()) {
            SkipPasswordPrompt = 1;
            return 1;
        }
        if (!buffer || size <= 0)
            return 1;
        // Never write beyond the buffer: a longer answer is cut to what fits before the zero byte.
        auto n = static_cast<std::size_t>(size);
        std::memset(buffer, 0, n);
        std::memcpy(buffer, answer.data(), std::min(answer.size(), n - 1));
        result = 0;
    } catch (...) {
        // ignored on purpose: the current result stands
    }
    return result;
}

void UnzipMessageCallback(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t, char, const char*, const char*, std::uint32_t, char) {
    // List mode's particulars are not used by anything.
}

std::int32_t UnzipServiceCallback(const char* name, std::uint32_t length) {
    try {
        (void)BufferText(name, length);
    } catch (...) {
    }
    return 0;
}

} // namespace CodeModule
