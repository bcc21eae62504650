// Send Files and Receive Files of the main window.
#include "archive/KTUnzipFiles.h"
#include "archive/KTZipFiles.h"
#include "console/RecoveryFolder.h"
#include "console/Workflow.h"
#include "console/frmFtpTest.h"
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/files/Files.h"
#include "platform/profileapi/ProfileApi.h"
#include "platform/ui/UiServices.h"

#include <QAbstractButton>

#include <vector>

namespace {

const char* const CancelledText = "The transfer was cancelled.";
const char* const ConfirmTitle = "ZEL FTP CLIENT";
const char* const FixedName = "FIXED.ZIP";

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

void frmFtpTest::cmdPut_Click() {
    if (m_Running)
        return;
    auto& ui = ui::Current();
    Workflow run(*this);
    try {
        if (ui.MsgBox(BackupWarning, ui::Buttons::OkCancel, ui::Icon::None, 0, ConfirmTitle) == ui::Answer::Cancel)
            return;
        ui.SetBusy(true);
        m_cmdGet->setEnabled(false);
        PrintStatus("Attempting to zip " + LocalSendArchive);

        // Only an archive built by this click is ever sent: a leftover of an earlier run goes first.
        if (files::FileExists(LocalSendArchive))
            files::Kill(LocalSendArchive);
        std::int32_t result = 0;
        std::string message;
        {
            KTZipFiles zip;
            zip.SetZipFileName(LocalSendArchive);
            zip.SetUpdatingZip(false);
            if (UseLedgra) {
                if (LedgraOnline)
                    zip.AddFile(DataFolder + "norvane.mdb");
                zip.AddFile(DataFolder + "ledgra2.mdb");
                zip.AddFile(DataFolder + "data_qmx\\*.*");
            } else {
                zip.AddFile(DataFolder + "*.*");
            }
            run.BeginStep("Packing the data set into ZEL.ZIP");
            result = zip.MakeZipFile();
            if (result != 0)
                message = zip.GetLastMessage();
        }
        if (result != 0) {
            ShowFailure(run.Cancelled() ? CancelledText : message);
            ui.SetBusy(false);
            return;
        }
        if (!files::FileExists(LocalSendArchive))
            throw zel::Error(zel::rt::FileNotFound, "frmFtpTest::cmdPut",
                             "The archive " + LocalSendArchive + " was not written.");
        const std::uint64_t localSize = files::FileLen(LocalSendArchive);

        ui.DoEvents();
        PrintStatus(std::string("Now attempting to send file.") + " This may take a while.");
        ui.DoEvents();
        run.BeginStep("Connecting to " + HostName);
        if (!Ftp->Connect(HostName, UserText(), PasswordText()))
            throw zel::Error(zel::vbObjectError + 2001, "KTFTP::Connect", "Cannot Connect to " + HostName);
        run.BeginStep("Sending ZEL.ZIP to " + HostName);
        if (!Ftp->PutFile(LocalSendArchive, RemoteSendArchive, inet::FTP_TRANSFER_TYPE_BINARY))
            throw zel::Error(zel::vbObjectError + 2003, "KTFTP::PutFile", "Couldn't Send File " + RemoteSendArchive);
        // The server's own count of what arrived, where it tells it.
        std::uint64_t remoteSize = 0;
        if (Ftp->RemoteFileSize(RemoteSendArchive, remoteSize) && remoteSize != localSize)
            throw zel::Error(zel::vbObjectError + 2003, "frmFtpTest::cmdPut",
                             "The server holds " + std::to_string(remoteSize) + " bytes of " + RemoteSendArchive +
                                 ", but " + std::to_string(localSize) + " bytes were sent. Please send again.");
        Ftp->Disconnect();
        PrintStatus(LocalSendArchive + " sent without errors.");
        files::Kill(LocalSendArchive);
        m_cmdGet->setEnabled(true);
        ui.SetBusy(false);
    } catch (const std::exception& e) {
        ShowFailure(run.Cancelled() ? CancelledText : e.what());
        if (Ftp->Connected())
            Ftp->Disconnect();
        ui.SetBusy(false);
    }
}

void frmFtpTest::cmdGet_Click() {
    if (m_Running)
        return;
    auto& ui = ui::Current();
    Workflow run(*this);
    RecoveryFolder recovery(DataFolder);
    bool clearing = false;
    try {
        if (ui.MsgBox(BackupWarning, ui::Buttons::OkCancel, ui::Icon::None, 0, ConfirmTitle) == ui::Answer::Cancel)
            return;
        ui.SetBusy(true);
        m_cmdPut->setEnabled(false);

        // A receive interrupted earlier left the customer's files saved: they go back first.
        if (recovery.Exists()) {
            PrintStatus("Putting back the files saved by a receive that did not finish.");
            recovery.Restore(FixedName);
        }

        const std::string relativePattern = UseTova ? "*.*" : "data_qmx\\*.*";
        PrintStatus("Deleting files " + DataFolder + relativePattern);
        ui.DoEvents();
        // The clearing saves the files instead of deleting them, until the receive has succeeded.
        clearing = true;
        try {
            recovery.Save(relativePattern);
            if (UseLedgra) {
                recovery.Save("ledgra2.mdb");
                if (LedgraOnline)
                    recovery.Save("norvane.mdb");
            }
        } catch (const zel::Error& e) {
            // Nothing (more) to clear is no failure: the receive goes on with the download.
            if (e.Number() != zel::rt::FileNotFound)
                throw;
        }
        recovery.MarkCleared();

        PrintStatus("Downloading " + RemoteFixedArchive);
        ui.DoEvents();
        run.BeginStep("Connecting to " + HostName);
        if (!Ftp->Connect(HostName, UserText(), PasswordText()))
            throw zel::Error(zel::vbObjectError + 2001, "KTFTP::Connect", "Cannot Connect to " + HostName);
        run.BeginStep("Receiving FIXED.ZIP from " + HostName);
        if (!Ftp->GetFile(RemoteFixedArchive, LocalFixedArchive, inet::FTP_TRANSFER_TYPE_BINARY))
            throw zel::Error(zel::vbObjectError + 2006, "KTFTP::GetFile",
                             "Couldn't Get File " + RemoteFixedArchive + " from Server");
        Ftp->Disconnect();
        PrintStatus(LocalFixedArchive + " downloaded.\r\nNow attempting to unzip " + LocalFixedArchive);
        ui.DoEvents();

        std::int32_t result = 0;
        std::string message;
        {
            KTUnzipFiles unzip;
            unzip.SetZipFileName(LocalFixedArchive);
            unzip.SetExtractDir(UseTova ? DataFolder : DataFolder + "data_qmx\\");
            unzip.SetHonorDirectories(false);
            run.BeginStep("Unpacking FIXED.ZIP");
            result = unzip.Unzip("", "");
            if (result != 0)
                message = unzip.GetLastMessage();
        }
        if (result != 0) {
            RollBack(recovery);
            ShowFailure(run.Cancelled() ? CancelledText : message);
            ui.SetBusy(false);
            return;
        }

        if (UseLedgra) {
            CopyUp(recovery, "ledgra2.mdb");
            if (LedgraOnline)
                CopyUp(recovery, "norvane.mdb");
        }
        files::Kill(LocalFixedArchive);
        if (UseLedgra) {
            files::Kill(DataFolder + "data_qmx\\ledgra2.mdb");
            if (LedgraOnline)
                files::Kill(DataFolder + "data_qmx\\norvane.mdb");
        }
        PrintStatus(LocalFixedArchive + " has finished unzipping without errors.");
        clearing = false;
        try {
            recovery.Discard();
        } catch (const zel::Error& e) {
            // The new data set is in place; only the old copies could not be tidied away.
            PrintStatus("The previous files are still kept in " + recovery.Path() + " (" + e.Description() + ").");
        }
        m_cmdPut->setEnabled(true);
        ui.SetBusy(false);
    } catch (const std::exception& e) {
        if (clearing)
            RollBack(recovery);
        ShowFailure(run.Cancelled() ? CancelledText : e.what());
        if (Ftp->Connected())
            Ftp->Disconnect();
        ui.SetBusy(false);
    }
}

void frmFtpTest::CopyUp(RecoveryFolder& recovery, const std::string& name) {
    const std::string source = DataFolder + "data_qmx\\" + name;
    const std::string target = DataFolder + name;
    // A database the clearing left in place is saved before the copy replaces it.
    if (files::FileExists(target))
        recovery.Save(name);
    if (!files::CopyFileA(source.c_str(), target.c_str(), winapi::FALSE)) {
        const winapi::DWORD code = winapi::GetLastError();
        throw zel::Error(zel::rt::PathFileAccessError, "frmFtpTest::cmdGet",
                         "Couldn't copy " + source + " to " + target + ": " + SystemText(code));
    }
}

void frmFtpTest::RollBack(RecoveryFolder& recovery) {
    try {
        recovery.Restore(FixedName);
        PrintStatus("The receive did not finish: the files that were there before were put back in place.");
    } catch (const std::exception& e) {
        PrintStatus(std::string("The receive did not finish and not every file could be put back. ") + e.what());
    }
}
