#include "transfer/ReceiveFiles.h"

#include "archive/KTUnzipFiles.h"
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/files/Files.h"
#include "platform/inet/Inet.h"
#include "platform/profileapi/ProfileApi.h"
#include "platform/ui/UiServices.h"
#include "transfer/Leftover.h"
#include "transfer/RecoveryFolder.h"
#include "transfer/TransferRun.h"

#include <vector>

using namespace transfer;

namespace {

std::string SystemText(winapi::DWORD code) {
    std::vector<char> buffer(256, '\0');
    profileapi::FormatMessageA(profileapi::FORMAT_MESSAGE_FROM_SYSTEM | profileapi::FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, buffer.data(), static_cast<winapi::DWORD>(buffer.size()), nullptr);
    std::string text(buffer.data());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.empty() ? "Error " + std::to_string(code) : text;
}

} // namespace

ReceiveFiles::ReceiveFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run)
    : m_Settings(settings), m_Ftp(ftp), m_Run(run) {}

bool ReceiveFiles::Run() {
    const TransferSettings& s = m_Settings;
    auto& ui = ui::Current();
    if (!Confirmed(s, m_Run))
        return false;
    RecoveryFolder recovery(s.DataFolder, StepsOf(m_Run));
    bool begun = false;
    try {
        RequireDataFolder(s.DataFolder);
        if (!RecoverLeftover(s.DataFolder, m_Run)) {
            ui.SetBusy(false);
            return false;
        }

        const std::string relativePattern = s.UseTova ? "*.*" : "data_qmx\\*.*";
        m_Run.PrintStatus("Deleting files " + s.DataFolder + relativePattern);
        ui.DoEvents();
        // The clearing moves the files away instead of deleting them, until the new data set is in place.
        begun = true;
        recovery.Begin();
        m_Run.BeginStep("Clearing " + s.DataFolder + relativePattern, true);
        try {
            recovery.Save(relativePattern);
            if (s.UseLedgra) {
                recovery.Save("ledgra2.mdb");
                if (s.LedgraOnline)
                    recovery.Save("norvane.mdb");
            }
        } catch (const zel::Error& e) {
            // Nothing (more) to clear is no failure: the receive goes on with the download.
            if (e.Number() != zel::rt::FileNotFound)
                throw;
        }

        m_Run.PrintStatus("Downloading " + s.RemoteFixedArchive);
        ui.DoEvents();
        m_Run.BeginStep("Connecting to " + s.HostName);
        LogIn(m_Ftp, s.HostName, s.User, s.Password);
        m_Run.BeginStep("Receiving FIXED.ZIP from " + s.HostName);
        // Downloaded into the recovery folder: a killed receive leaves no archive among the customer's files.
        if (!m_Ftp.GetFile(s.RemoteFixedArchive, recovery.DownloadPath(), inet::FTP_TRANSFER_TYPE_BINARY))
            throw zel::Error(zel::vbObjectError + 2006, "KTFTP::GetFile",
                             "Couldn't Get File " + s.RemoteFixedArchive + " from Server");
        m_Ftp.Disconnect();
        m_Run.PrintStatus(s.LocalFixedArchive + " downloaded.\r\nNow attempting to unzip " + s.LocalFixedArchive);
        ui.DoEvents();

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

        // Where each unpacked file goes: for Ledgra the databases go up into the data folder, the rest into
        // data_qmx (an archive without a database fails as the copy of it would).
        std::vector<RecoveryFolder::Placement> plan;
        std::vector<std::string> databases;
        if (s.UseLedgra) {
            databases.push_back("ledgra2.mdb");
            if (s.LedgraOnline)
                databases.push_back("norvane.mdb");
        }
        std::vector<bool> found(databases.size(), false);
        for (const std::string& name : files::List(recovery.StagingPath()).files) {
            std::string target = s.UseTova ? name : "data_qmx\\" + name;
            for (std::size_t i = 0; i < databases.size(); ++i) {
                if (!found[i] && files::SameName(name, databases[i])) {
                    target = databases[i];
                    found[i] = true;
                }
            }
            plan.push_back({name, target});
        }
        for (std::size_t i = 0; i < databases.size(); ++i) {
            if (!found[i]) {
                const std::string source = s.DataFolder + "data_qmx\\" + databases[i];
                throw zel::Error(zel::rt::PathFileAccessError, "frmFtpTest::cmdGet",
                                 "Couldn't copy " + source + " to " + s.DataFolder + databases[i] + ": " +
                                     SystemText(winapi::ERROR_FILE_NOT_FOUND));
            }
        }
        m_Run.BeginStep("Putting the repaired files in place", true);
        recovery.Install(plan);
        files::Kill(recovery.DownloadPath());
        recovery.Commit();
        m_Run.PrintStatus(s.LocalFixedArchive + " has finished unzipping without errors.");
        m_Run.BeginStep("Removing the previous files", true);
        try {
            recovery.Discard();
        } catch (const zel::Error& e) {
            // The new data set is in place; the old copies are tidied away at the next start.
            m_Run.PrintStatus("The previous files are still kept in " + recovery.Path() + " (" + e.Description() +
                              ").");
        }
        m_Run.EnableOtherTransfer(true);
        ui.SetBusy(false);
        return true;
    } catch (const std::exception& e) {
        if (begun) {
            m_Run.BeginStep("Putting the previous files back", true);
            try {
                // The downloaded archive stays where the customer expects it.
                const RecoveryFolder::Outcome outcome = recovery.Recover(s.LocalFixedArchive);
                if (outcome.kept.empty())
                    m_Run.PrintStatus(
                        "The receive did not finish: the files that were there before were put back in place.");
                else
                    m_Run.PrintStatus("The receive did not finish and not every file could be put back. " +
                                      KeptMessage(outcome));
            } catch (const std::exception& restore) {
                m_Run.PrintStatus(std::string("The receive did not finish and not every file could be put back. ") +
                                  restore.what());
            }
        }
        ShowFailure(m_Run, e.what());
        if (m_Ftp.Connected())
            m_Ftp.Disconnect();
        ui.SetBusy(false);
        return false;
    }
}
