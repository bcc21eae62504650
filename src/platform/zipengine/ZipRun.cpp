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
#include <optional>
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

// The run's result when it ends at a step; nothing when it goes on.
using Ending = std::optional<std::int32_t>;

// One run: its steps as member functions, in the order they run.
class ZipRun {
public:
    explicit ZipRun(const ZCL& C);
    std::int32_t Run();

private:
    Ending TakeRequest();
    Ending FindArchiveFolder();
    void FindRoot();
    Ending ListFiles();
    Ending Pack();
    std::int32_t Summarize();

    const ZCL& m_Call;
    const Settings& m_Settings;
    const ZPOPT& m_Options;
    Printer m_Print;
    Progress m_Progress;
    fs::path m_Archive;
    fs::path m_Root;
    std::vector<PackItem> m_Items;
};

ZipRun::ZipRun(const ZCL& C)
    : m_Call(C), m_Settings(EngineSettings()), m_Options(m_Settings.options),
      m_Print(m_Settings.zipFunctions.print, ZipPrintBufferSize), m_Progress(m_Settings.hook) {}

std::int32_t ZipRun::Run() {
    if (Ending end = TakeRequest())
        return *end;
    if (Ending end = FindArchiveFolder())
        return *end;
    FindRoot();
    if (Ending end = ListFiles())
        return *end;
    if (Ending end = Pack())
        return *end;
    return Summarize();
}

Ending ZipRun::TakeRequest() {
    if (!m_Call.lpszZipFN || !*m_Call.lpszZipFN) {
        m_Print("zip error: no archive name was given.\n");
        return ZE_PARMS;
    }
    // Options whose work this engine does not do are refused rather than quietly dropped.
    const ZPOPT& o = m_Options;
    if (o.fEncrypt || o.fMove || o.fDeleteEntries || o.fFreshen || o.fGrow) {
        m_Print("zip error: encrypting, moving, deleting, freshening and growing archives are not supported.\n");
        return ZE_PARMS;
    }
    return {};
}

Ending ZipRun::FindArchiveFolder() {
    const fs::path given = PathOf(files::NativePath(m_Call.lpszZipFN));
    const fs::path folder = ResolveNoCase(given.parent_path().empty() ? fs::path(".") : given.parent_path());
    m_Archive = folder / given.filename();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        m_Print("zip error: the folder " + Shown(folder) + " for the archive does not exist.\n");
        return ZE_CREAT;
    }
    return {};
}

// Relative names and entry names are based on the root: the options' folder, else the current one.
void ZipRun::FindRoot() {
    m_Root = ResolveNoCase(PathOf(files::NativePath(m_Settings.rootDir.value_or(""))));
    std::error_code ec;
    if (m_Root.empty())
        m_Root = fs::current_path(ec);
}

Ending ZipRun::ListFiles() {
    {
        FileList list(m_Archive, m_Root, m_Options.fRecurse != 0, m_Options.fJunkDir != 0, m_Options.fSystem != 0,
                      m_Print, m_Progress);
        for (std::int32_t i = 0; i < m_Call.argc && !m_Progress.Cancelled(); ++i)
            if (m_Call.FNV && m_Call.FNV[i])
                list.AddName(m_Call.FNV[i]);
        m_Items = list.TakeItems();
    }
    if (m_Progress.Cancelled()) {
        m_Print("zip: cancelled; " + Shown(m_Archive) + " was not written.\n");
        return ZE_ABORT;
    }
    if (m_Items.empty()) {
        m_Print("zip error: Nothing to do! No files were found to pack into " + Shown(PathOf(m_Call.lpszZipFN)) +
                ".\n");
        return ZE_NONE;
    }
    return {};
}

// A leftover archive is replaced, never updated: the archive holds exactly the files found now.
Ending ZipRun::Pack() {
    std::uint64_t total = 0;
    for (const auto& item : m_Items)
        total += item.id.size;
    m_Progress.SetTotal(total);
    // This call comes after the listing and before any file is read.
    if (!m_Progress.Report(0)) {
        m_Print("zip: cancelled; " + Shown(m_Archive) + " was not written.\n");
        return ZE_ABORT;
    }
    const PackResult result =
        detail::Pack(m_Items, m_Archive, DeflateLevel(m_Options.fLevel), m_Options.fQuiet != 0, m_Progress, m_Print);
    switch (result.status) {
    case PackStatus::Written:
        return {};
    case PackStatus::Cancelled:
        m_Print(result.message);
        return ZE_ABORT;
    case PackStatus::SourceFailed:
        m_Print(result.message);
        return ZE_OPEN;
    case PackStatus::CreateFailed:
        m_Print(result.message);
        return ZE_CREAT;
    case PackStatus::WriteFailed:
        m_Print(result.message);
        return ZE_WRITE;
    }
    return {};
}

std::int32_t ZipRun::Summarize() {
    if (m_Options.fQuiet == 0)
        m_Print("  " + std::to_string(m_Items.size()) + " file(s) packed into " + Shown(m_Archive) + "\n");
    return ZE_OK;
}

} // namespace

std::int32_t RunZip(const ZCL& C) {
    return ZipRun(C).Run();
}

} // namespace zipengine::detail
