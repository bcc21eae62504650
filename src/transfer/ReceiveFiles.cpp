#include "transfer/ReceiveFiles.h"

#include "archive/KTUnzipFiles.h"
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/error/ProgressHook.h"
#include "platform/error/SystemMessages.h"
#include "platform/files/Files.h"
#include "platform/inet/Inet.h"
#include "platform/ui/UiServices.h"
#include "platform/zipengine/ZipEngine.h"
#include "transfer/DataFolderLock.h"
#include "transfer/DataSet.h"
#include "transfer/Leftover.h"
#include "transfer/RecoveryFolder.h"
#include "transfer/TransferRun.h"

#include <map>
#include <optional>
#include <vector>

using namespace transfer;

namespace {

// "data_qmx\x.qmx" or "/x/y/x.qmx" -> "x.qmx".
std::string NameOf(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
}

} // namespace

ReceiveFiles::ReceiveFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run)
    : m_Settings(settings), m_Ftp(ftp), m_Run(run) {}

bool ReceiveFiles::Run() {
    const TransferSettings& s = m_Settings;
    auto& ui = ui::Current();
    const Opening opening(s, m_Run);
    if (!opening.Confirmed())
        return false;
    // Held from before the clearing until the old copies are gone.
    DataFolderLock lock(s.DataFolder);
    RecoveryFolder recovery(s.DataFolder, StepsOf(m_Run));
    bool begun = false;
    try {
        RequireDataFolder(s.DataFolder);
        if (!TakeDataFolder(s.DataFolder, lock, m_Run))
            return false;
        RequireOneVolume(s, recovery);

        const std::string relativePattern = s.UseLedgra ? "data_qmx\\*.*" : "*.*";
        m_Run.PrintStatus("Deleting files " + s.DataFolder + relativePattern);
        ui.DoEvents();
        // The clearing moves the files away instead of deleting them, until the new data set is in place. An
        // archive an earlier receive kept goes with them: a finished receive leaves none.
        begun = true;
        recovery.Begin();
        m_Run.BeginStep("Clearing " + s.DataFolder + relativePattern, true);
        std::vector<std::string> clearing = dataset::List(s.DataFolder, s.UseLedgra, s.LedgraOnline);
        if (files::FileExists(s.LocalFixedArchive))
            clearing.push_back(NameOf(files::ResolvePath(s.LocalFixedArchive)));
        recovery.Save(clearing);

        m_Run.PrintStatus("Downloading " + s.RemoteFixedArchive);
        ui.DoEvents();
        m_Run.BeginStep("Connecting to " + s.TestedHost);
        LogIn(m_Ftp, s.TestedHost, s.User, s.Password);
        m_Run.BeginStep("Receiving FIXED.ZIP from " + s.HostName);
        // Downloaded into the recovery folder: a killed receive leaves no archive among the customer's files.
        if (!m_Ftp.GetFile(s.RemoteFixedArchive, recovery.DownloadPath(), inet::FTP_TRANSFER_TYPE_BINARY))
            throw zel::Error(zel::vbObjectError + cFTP::CannotGet, "KTFTP::GetFile",
                             "Couldn't Get File " + s.RemoteFixedArchive + " from Server");
        m_Ftp.Disconnect();
        m_Run.PrintStatus(s.LocalFixedArchive + " downloaded.\r\nNow attempting to unzip " + s.LocalFixedArchive);
        ui.DoEvents();

        Unpack(recovery);
        m_Run.BeginStep("Putting the repaired files in place", true);
        recovery.Install(Plan(recovery));
        recovery.Commit();
        m_Run.PrintStatus(s.LocalFixedArchive + " has finished unzipping without errors.");
        m_Run.BeginStep("Removing the previous files", true);
        const std::vector<RecoveryFolder::Problem> left = recovery.Discard();
        if (!left.empty())
            m_Run.PrintStatus("The repaired files are in place. These previous copies could not be removed yet and are "
                              "removed at the next start:" +
                              ProblemList(left, s.DataFolder));
        m_Run.EnableOtherTransfer(true);
        return true;
    } catch (const std::exception& e) {
        if (begun)
            RollBack(recovery);
        ShowFailure(m_Run, e.what());
        if (m_Ftp.Connected())
            m_Ftp.Disconnect();
        return false;
    }
}

void ReceiveFiles::RequireOneVolume(const TransferSettings& s, const RecoveryFolder& recovery) {
    // The saved copies live in the recovery folder: a folder of the data set on another volume (a mount, another
    // drive, a junction to one) cannot be cleared there by renames, so it is refused before anything is touched.
    const std::string qmx = s.DataFolder + "data_qmx\\";
    if (s.UseLedgra && files::FolderExists(qmx) && !files::SameVolume(qmx, recovery.Path()))
        throw zel::Error(zel::rt::PathFileAccessError, "ReceiveFiles::Run",
                         "The folder " + qmx + " is on another drive than " + s.DataFolder +
                             ", so its files cannot be kept safe while they are replaced. Nothing was changed.\r\n\r\n"
                             "Please call support.");
}

void ReceiveFiles::Unpack(const RecoveryFolder& recovery) {
    std::int32_t result = 0;
    std::string message;
    {
        // Unpacked aside first; the files go to their places together once every one is intact.
        KTUnzipFiles unzip;
        unzip.SetZipFileName(recovery.DownloadPath());
        unzip.SetExtractDir(recovery.StagingPath());
        unzip.SetHonorDirectories(false);
        m_Run.BeginStep("Unpacking FIXED.ZIP");
        result = unzip.Unzip("", "");
        if (result != 0)
            message = unzip.GetLastMessage();
    }
    if (result != 0)
        throw zel::Error(zel::rt::PathFileAccessError, "KTUnZipFiles::Unzip", message);
}

std::vector<RecoveryFolder::Placement> ReceiveFiles::Plan(const RecoveryFolder& recovery) const {
    const TransferSettings& s = m_Settings;
    // What the archive recorded of each file, by the name it is unpacked under (folders are dropped).
    std::map<std::string, std::uint32_t> crcOf;
    std::vector<zipengine::EntryRecord> entries;
    // libzip works out every entry's time through the time zone: thousands of entries take the window's thread
    // too long.
    const bool listed = zel::RunBeside([&] { return zipengine::ReadCatalog(recovery.DownloadPath(), entries); },
                                       [this] { m_Run.Progress(0, 0); });
    if (listed)
        for (const zipengine::EntryRecord& e : entries)
            crcOf.emplace(NameOf(e.name), e.crc);

    // Where each unpacked file goes: for Ledgra the databases go up into the data folder, the rest into data_qmx
    // (an archive without a database fails as the copy of it would).
    std::vector<RecoveryFolder::Placement> plan;
    std::vector<std::string> databases;
    if (s.UseLedgra) {
        databases.push_back("ledgra2.mdb");
        if (s.LedgraOnline)
            databases.push_back("norvane.mdb");
    }
    std::vector<bool> found(databases.size(), false);
    for (const std::string& name : files::List(recovery.StagingPath()).files) {
        std::string target = s.UseLedgra ? "data_qmx\\" + name : name;
        for (std::size_t i = 0; i < databases.size(); ++i) {
            if (!found[i] && files::SameName(name, databases[i])) {
                target = databases[i];
                found[i] = true;
            }
        }
        const auto crc = crcOf.find(name);
        plan.push_back({name, target, crc == crcOf.end() ? std::nullopt : std::optional<std::uint32_t>(crc->second)});
    }
    for (std::size_t i = 0; i < databases.size(); ++i) {
        if (!found[i]) {
            const std::string source = s.DataFolder + "data_qmx\\" + databases[i];
            throw zel::Error(zel::rt::PathFileAccessError, "ReceiveFiles::Run",
                             "Couldn't copy " + source + " to " + s.DataFolder + databases[i] + ": " +
                                 winapi::SystemMessage(winapi::ERROR_FILE_NOT_FOUND));
        }
    }
    return plan;
}

void ReceiveFiles::RollBack(RecoveryFolder& recovery) {
    m_Run.BeginStep("Putting the previous files back", true);
    try {
        // The downloaded archive stays where the customer expects it.
        const RecoveryFolder::Outcome outcome = recovery.Recover(m_Settings.LocalFixedArchive);
        if (!outcome.stuck.empty())
            m_Run.PrintStatus("The receive did not finish and these files could not be put back yet; they are tried "
                              "again before the next send or receive:" +
                              ProblemList(outcome.stuck, m_Settings.DataFolder));
        else if (!outcome.kept.empty())
            m_Run.PrintStatus("The receive did not finish and not every file could be put back. " +
                              KeptMessage(outcome));
        else
            m_Run.PrintStatus("The receive did not finish: the files that were there before were put back in place.");
    } catch (const std::exception& restore) {
        m_Run.PrintStatus(std::string("The receive did not finish and not every file could be put back. ") +
                          restore.what());
    }
}
