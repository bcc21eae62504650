// Send Files and Receive Files, without a window.
#include "console/Transfer.h"

#include "archive/KTUnzipFiles.h"
#include "archive/KTZipFiles.h"
#include "console/RecoveryFolder.h"
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/files/Files.h"
#include "platform/inet/Inet.h"
#include "platform/profileapi/ProfileApi.h"
#include "platform/ui/UiServices.h"
#include "platform/zipengine/ZipEngine.h"

#include <algorithm>
#include <vector>

namespace {

const char* const CancelledText = "The transfer was cancelled.";
const char* const ConfirmTitle = "ZEL FTP CLIENT";
const char* const ErrorTitle = "ZEL FTP CLIENT ERROR";
const char* const PuttingBack = "Putting back the files saved by a receive that did not finish.";

std::string SystemText(winapi::DWORD code) {
    std::vector<char> buffer(256, '\0');
    profileapi::FormatMessageA(profileapi::FORMAT_MESSAGE_FROM_SYSTEM | profileapi::FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, buffer.data(), static_cast<winapi::DWORD>(buffer.size()), nullptr);
    std::string text(buffer.data());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.empty() ? "Error " + std::to_string(code) : text;
}

void ShowFailure(TransferRun& run, const std::string& text) {
    // Once the user is leaving, the run winds up without asking anything more.
    if (!run.Leaving())
        ui::Current().MsgBox(run.Cancelled() ? CancelledText : text, ui::Buttons::Ok, ui::Icon::None, 0, ErrorTitle);
}

// The data folder must be there before anything is touched: otherwise every path below points elsewhere.
void RequireDataFolder(const std::string& dataFolder) {
    if (!files::FolderExists(dataFolder))
        throw zel::Error(zel::rt::PathNotFound, "frmFtpTest",
                         "The data folder " + dataFolder +
                             " cannot be found. Check that the product is installed and that its data folder can be "
                             "reached, then try again.");
}

// The backup warning, then the window set for a run; false when the user cancels at the warning.
bool Confirmed(const TransferSettings& s, TransferRun& run) {
    auto& ui = ui::Current();
    if (ui.MsgBox(s.BackupWarning, ui::Buttons::OkCancel, ui::Icon::None, 0, ConfirmTitle) == ui::Answer::Cancel)
        return false;
    ui.SetBusy(true);
    run.EnableOtherTransfer(false);
    return true;
}

std::string KeptMessage(const RecoveryFolder::Outcome& outcome) {
    std::string text = "These files could not be put back because files of the same name are in their place. The "
                       "saved copies are kept in " +
                       outcome.keptFolder + ":";
    const std::size_t shown = std::min<std::size_t>(outcome.kept.size(), 20);
    for (std::size_t i = 0; i < shown; ++i)
        text += "\r\n" + outcome.kept[i];
    if (outcome.kept.size() > shown)
        text += "\r\n... and " + std::to_string(outcome.kept.size() - shown) + " more.";
    return text;
}

RecoveryFolder::StepHook StepsOf(TransferRun& run) {
    return [&run](std::uint64_t done, std::uint64_t total) { return run.Progress(done, total); };
}

} // namespace

PlatformHooks::PlatformHooks(TransferRun& run) {
    auto hook = [&run](std::uint64_t done, std::uint64_t total) { return run.Progress(done, total); };
    inet::SetProgressHook(hook);
    zipengine::SetProgressHook(hook);
    inet::SetNoticeHook([&run](const std::string& text, std::chrono::milliseconds wait) { run.Retrying(text, wait); });
}

PlatformHooks::~PlatformHooks() {
    inet::SetNoticeHook({});
    inet::SetProgressHook({});
    zipengine::SetProgressHook({});
}

void LogIn(cFTP& ftp, const std::string& host, const std::string& user, const std::string& password) {
    ftp.SetHost(host);
    ftp.SetUser(user);
    ftp.SetPassword(password);
    if (!ftp.Connect())
        throw zel::Error(zel::vbObjectError + 2001, "KTFTP::Connect", "Cannot Connect to " + host);
}

bool RecoverLeftover(const std::string& dataFolder, TransferRun& run) {
    RecoveryFolder recovery(dataFolder, StepsOf(run));
    if (!recovery.Pending())
        return true;
    run.BeginStep("Putting back the files of a receive that did not finish", true);
    try {
        const RecoveryFolder::Outcome outcome = recovery.Recover();
        if (outcome.rolledBack)
            run.PrintStatus(PuttingBack);
        if (outcome.tidied)
            run.PrintStatus("The previous files kept by the last receive were removed.");
        if (!outcome.kept.empty() && !run.Leaving())
            ui::Current().MsgBox(KeptMessage(outcome), ui::Buttons::Ok, ui::Icon::None, 0, ConfirmTitle);
        return true;
    } catch (const std::exception& e) {
        if (!run.Leaving())
            ui::Current().MsgBox("The files saved by a receive that did not finish could not all be put back (" +
                                     std::string(e.what()) + "). They are kept in " + recovery.Path() + ".",
                                 ui::Buttons::Ok, ui::Icon::None, 0, ErrorTitle);
        return false;
    }
}

SendFiles::SendFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run)
    : m_Settings(settings), m_Ftp(ftp), m_Run(run) {}

bool SendFiles::Run() {
    const TransferSettings& s = m_Settings;
    auto& ui = ui::Current();
    if (!Confirmed(s, m_Run))
        return false;
    try {
        RequireDataFolder(s.DataFolder);
        // A send never packs a half-cleared folder.
        if (!RecoverLeftover(s.DataFolder, m_Run)) {
            ui.SetBusy(false);
            return false;
        }
        m_Run.PrintStatus("Attempting to zip " + s.LocalSendArchive);

        // Only an archive built by this click is ever sent: a leftover of an earlier run goes first.
        if (files::FileExists(s.LocalSendArchive))
            files::Kill(s.LocalSendArchive);
        std::int32_t result = 0;
        std::string message;
        {
            KTZipFiles zip;
            zip.SetZipFileName(s.LocalSendArchive);
            zip.SetUpdatingZip(false);
            if (s.UseLedgra) {
                if (s.LedgraOnline)
                    zip.AddFile(s.DataFolder + "norvane.mdb");
                zip.AddFile(s.DataFolder + "ledgra2.mdb");
                zip.AddFile(s.DataFolder + "data_qmx\\*.*");
            } else {
                zip.AddFile(s.DataFolder + "*.*");
            }
            m_Run.BeginStep("Packing the data set into ZEL.ZIP");
            result = zip.MakeZipFile();
            if (result != 0)
                message = zip.GetLastMessage();
        }
        if (result != 0) {
            ShowFailure(m_Run, message);
            ui.SetBusy(false);
            return false;
        }
        if (!files::FileExists(s.LocalSendArchive))
            throw zel::Error(zel::rt::FileNotFound, "frmFtpTest::cmdPut",
                             "The archive " + s.LocalSendArchive + " was not written.");
        const std::uint64_t localSize = files::FileLen(s.LocalSendArchive);

        ui.DoEvents();
        m_Run.PrintStatus(std::string("Now attempting to send file.") + " This may take a while.");
        ui.DoEvents();
        m_Run.BeginStep("Connecting to " + s.HostName);
        LogIn(m_Ftp, s.HostName, s.User, s.Password);
        m_Run.BeginStep("Sending ZEL.ZIP to " + s.HostName);
        if (!m_Ftp.PutFile(s.LocalSendArchive, s.RemoteSendArchive, inet::FTP_TRANSFER_TYPE_BINARY))
            throw zel::Error(zel::vbObjectError + 2003, "KTFTP::PutFile", "Couldn't Send File " + s.RemoteSendArchive);
        // The server's own count of what arrived, where it tells it.
        std::uint64_t remoteSize = 0;
        if (m_Ftp.RemoteFileSize(s.RemoteSendArchive, remoteSize) && remoteSize != localSize)
            throw zel::Error(zel::vbObjectError + 2003, "frmFtpTest::cmdPut",
                             "The server holds " + std::to_string(remoteSize) + " bytes of " + s.RemoteSendArchive +
                                 ", but " + std::to_string(localSize) + " bytes were sent. Please send again.");
        m_Ftp.Disconnect();
        m_Run.PrintStatus(s.LocalSendArchive + " sent without errors.");
        files::Kill(s.LocalSendArchive);
        m_Run.EnableOtherTransfer(true);
        ui.SetBusy(false);
        return true;
    } catch (const std::exception& e) {
        ShowFailure(m_Run, e.what());
        if (m_Ftp.Connected())
            m_Ftp.Disconnect();
        ui.SetBusy(false);
        return false;
    }
}

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
