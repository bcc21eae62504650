#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The drivers of the zip and unzip engines and the engines' callbacks, with the state they share.
namespace CodeModule {

// Everything the engine printed in the most recent zip or unzip run.
extern std::string LastMessageText;
// What the unzip engine printed in the current run, after the line-feed rule.
extern std::string UnzipPrintText;
// 1 once the user declined to give a password in the current unzip run.
extern std::int16_t SkipPasswordPrompt;

// 100 name slots handed to the engines; unset slots go over as null.
struct ZipNameList {
    std::array<std::optional<std::string>, 100> s;
};

std::int32_t VBZip(std::int16_t argc, const std::string& zipname, const ZipNameList& mynames, std::int16_t junk,
                   std::int16_t recurse, std::int16_t updat, std::int16_t freshen, const std::string& basename,
                   std::int16_t Encrypt, std::int16_t IncludeSystem, std::int16_t IgnoreDirectoryEntries,
                   std::int16_t Verbose, std::int16_t Quiet, std::int16_t CRLFtoLF, std::int16_t LFtoCRLF,
                   std::int16_t Grow, std::int16_t Force, std::int16_t iMove, std::int16_t DeleteEntries);

// Texts never set go over as null (nullopt). Raises what goes wrong with the source "CodeModule::VBUnzip".
std::int32_t VBUnzip(const std::optional<std::string>& sZipFileName, const std::optional<std::string>& sExtractDir,
                     std::int16_t ExtractNewer, std::int16_t SpaceUnderScore, std::int16_t PromptOverwrite,
                     std::int16_t MessageLevel, std::int16_t WriteToStdOut, std::int16_t TestZip,
                     std::int16_t ExtractList, std::int16_t ExtractOnlyNewer, std::int16_t DisplayComment,
                     std::int16_t HonorDirectories, std::int16_t OverWriteFiles, std::int16_t ConvertCRtoCRLF,
                     std::int16_t Verbose, std::int16_t CaseSensitive, std::int16_t Privilege);

// Callbacks of the zip engine.
std::int32_t ZipPrintCallback(char* buffer, std::uint32_t length);
std::int32_t ZipPasswordCallback(char* buffer, std::int32_t size, const char* prompt, const char* name);
char* ZipCommentCallback(char* buffer);

// Callbacks of the unzip engine.
std::int32_t UnzipPrintCallback(char* buffer, std::uint32_t length);
std::int32_t UnzipReplaceCallback(char* name);
std::int16_t UnzipPasswordCallback(char* buffer, std::int32_t size, const char* prompt, const char* name);
void UnzipMessageCallback(std::uint32_t ucsize, std::uint32_t csize, std::uint32_t cfactor, std::uint32_t mo,
                          std::uint32_t dy, std::uint32_t yr, std::uint32_t hh, std::uint32_t mm, char c,
                          const char* filename, const char* methbuf, std::uint32_t crc, char fCrypt);
std::int32_t UnzipServiceCallback(const char* name, std::uint32_t length);

} // namespace CodeModule
