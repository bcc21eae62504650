#include "platform/zipengine/ZipRun.h"

#include "platform/zipengine/FileList.h"
#include "platform/zipengine/Packer.h"
#include "platform/zipengine/Paths.h"
#include "platform/zipengine/Printer.h"
#include "platform/zipengine/Progress.h"
#include "platform/zipengine/ResultCodes.h"
#include "platform/zipengine/Settings.h"

#include "platform/files/Names.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zipengine::detail {

namespace {

int DeflateLevel(char fLevel) {
    if (fLevel >= '0' && fLevel <= '9')
        return fLevel - '0';
    if (fLevel >= 1 && fLevel <= 9)
        return fLevel;
    return 6;
}

} // namespace

std::int32_t RunZip(const ZCL& C) {
    Settings& s = EngineSettings();
    const ZPOPT& o = s.options;
    Printer print(s.zipFunctions.print, ZipPrintBufferSize);

    if (!C.lpszZipFN || !*C.lpszZipFN) {
        print("zip error: no archive name was given.\n");
        return ZE_PARMS;
    }
    // Options whose work this engine does not do are refused rather than quietly dropped.
    if (o.fEncrypt || o.fMove || o.fDeleteEntries || o.fFreshen || o.fGrow) {
        print("zip error: encrypting, moving, deleting, freshening and growing archives are not supported.\n");
        return ZE_PARMS;
    }
    fs::path archive = PathOf(files::NativePath(C.lpszZipFN));
    fs::path folder = archive.parent_path().empty() ? fs::path(".") : archive.parent_path();
    folder = ResolveNoCase(folder);
    archive = folder / archive.filename();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        print("zip error: the folder " + Utf8(folder) + " for the archive does not exist.\n");
        return ZE_CREAT;
    }
    fs::path root = ResolveNoCase(PathOf(files::NativePath(s.rootDir.value_or(""))));
    if (root.empty())
        root = fs::current_path(ec);

    Progress progress(s.hook);
    std::vector<PackItem> items;
    {
        FileList list(archive, root, o.fRecurse != 0, o.fJunkDir != 0, o.fSystem != 0, print, progress);
        for (std::int32_t i = 0; i < C.argc && !progress.Cancelled(); ++i)
            if (C.FNV && C.FNV[i])
                list.AddName(C.FNV[i]);
        items = list.TakeItems();
    }
    if (progress.Cancelled()) {
        print("zip: cancelled; " + Utf8(archive) + " was not written.\n");
        return ZE_ABORT;
    }
    if (items.empty()) {
        print("zip error: Nothing to do! No files were found to pack into " + std::string(C.lpszZipFN) + ".\n");
        return ZE_NONE;
    }

    std::uint64_t total = 0;
    for (const auto& item : items)
        total += item.id.size;
    progress.SetTotal(total);
    // This call comes after the listing and before any file is read.
    if (!progress.Report(0)) {
        print("zip: cancelled; " + Utf8(archive) + " was not written.\n");
        return ZE_ABORT;
    }
    // A leftover archive is replaced, never updated: the archive holds exactly the files found now.
    const PackResult result = Pack(items, archive, DeflateLevel(o.fLevel), o.fQuiet != 0, progress, print);
    switch (result.status) {
    case PackStatus::Written:
        break;
    case PackStatus::Cancelled:
        print(result.message);
        return ZE_ABORT;
    case PackStatus::SourceFailed:
        print(result.message);
        return ZE_OPEN;
    case PackStatus::CreateFailed:
        print(result.message);
        return ZE_CREAT;
    case PackStatus::WriteFailed:
        print(result.message);
        return ZE_WRITE;
    }
    if (o.fQuiet == 0)
        print("  " + std::to_string(items.size()) + " file(s) packed into " + Utf8(archive) + "\n");
    return ZE_OK;
}

} // namespace zipengine::detail
