#include "transfer/SendFiles.h"

#include "archive/KTZipFiles.h"
#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/error/ProgressHook.h"
#include "platform/files/Files.h"
#include "platform/inet/Inet.h"
#include "platform/ui/UiServices.h"
#include "platform/zipengine/ZipEngine.h"
#include "transfer/DataFolderLock.h"
#include "transfer/DataSet.h"
#include "transfer/Leftover.h"
#include "transfer/TransferRun.h"

using namespace transfer;

namespace {

// While alive, the archive builder's patterns take exactly the files that a receive would replace.
struct DataSetOnly {
    DataSetOnly() { zipengine::SetFileFilter(dataset::Member); }
    ~DataSetOnly() { zipengine::SetFileFilter({}); }
    DataSetOnly(const DataSetOnly&) = delete;
    DataSetOnly& operator=(const DataSetOnly&) = delete;
};

} // namespace

SendFiles::SendFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run)
    : m_Settings(settings), m_Ftp(ftp), m_Run(run) {}

bool SendFiles::Run() {
    const TransferSettings& s = m_Settings;
    auto& ui = ui::Current();
    const Opening opening(s, m_Run);
    if (!opening.Confirmed())
        return false;
    // Held for the whole send: a receive elsewhere cannot clear what is being packed.
    DataFolderLock lock(s.DataFolder);
    try {
        RequireDataFolder(s.DataFolder);
        // A send never packs a half-cleared folder.
        if (!TakeDataFolder(s.DataFolder, lock, m_Run))
            return false;
        m_Run.PrintStatus("Attempting to zip " + s.LocalSendArchive);

        // Only an archive built by this click is ever sent: a leftover of an earlier run goes first.
        if (files::FileExists(s.LocalSendArchive))
            RemoveArchive(s.LocalSendArchive, 0, 0);
        std::int32_t result = 0;
        std::string message;
        {
            KTZipFiles zip;
            zip.SetZipFileName(s.LocalSendArchive);
            zip.SetUpdatingZip(false);
            for (const std::string& entry : dataset::Entries(s.UseLedgra, s.LedgraOnline))
                zip.AddFile(s.DataFolder + entry);
            m_Run.BeginStep("Packing the data set into ZEL.ZIP");
            const DataSetOnly filter;
            result = zip.MakeZipFile();
            if (result != 0)
                message = zip.GetLastMessage();
        }
        if (result != 0) {
            ShowFailure(m_Run, message);
            return false;
        }
        if (!files::FileExists(s.LocalSendArchive))
            throw zel::Error(zel::rt::FileNotFound, "SendFiles::Run",
                             "The archive " + s.LocalSendArchive + " was not written.");
        const std::uint64_t localSize = files::FileLen(s.LocalSendArchive);

        ui.DoEvents();
        m_Run.PrintStatus(std::string("Now attempting to send file.") + " This may take a while.");
        ui.DoEvents();
        m_Run.BeginStep("Connecting to " + s.TestedHost);
        LogIn(m_Ftp, s.TestedHost, s.User, s.Password);
        m_Run.BeginStep("Sending ZEL.ZIP to " + s.HostName);
        if (!m_Ftp.PutFile(s.LocalSendArchive, s.RemoteSendArchive, inet::FTP_TRANSFER_TYPE_BINARY))
            throw zel::Error(zel::vbObjectError + cFTP::CannotSend, "KTFTP::PutFile",
                             "Couldn't Send File " + s.RemoteSendArchive);
        // The server's own count of what arrived, where it tells it.
        std::uint64_t remoteSize = 0;
        if (m_Ftp.RemoteFileSize(s.RemoteSendArchive, remoteSize) && remoteSize != localSize)
            throw zel::Error(zel::vbObjectError + cFTP::CannotSend, "SendFiles::Run",
                             "The server holds " + std::to_string(remoteSize) + " bytes of " + s.RemoteSendArchive +
                                 ", but " + std::to_string(localSize) + " bytes were sent. Please send again.");
        m_Ftp.Disconnect();
        m_Run.PrintStatus(s.LocalSendArchive + " sent without errors.");
        RemoveArchive(s.LocalSendArchive, localSize, localSize);
        m_Run.EnableOtherTransfer(true);
        return true;
    } catch (const std::exception& e) {
        ShowFailure(m_Run, e.what());
        if (m_Ftp.Connected())
            m_Ftp.Disconnect();
        return false;
    }
}

void SendFiles::RemoveArchive(const std::string& path, std::uint64_t done, std::uint64_t total) {
    // Deleting an archive of gigabytes takes the file system a while: the window stays alive, its figures stand.
    zel::RunBeside([&path] { files::Kill(path); }, [this, done, total] { m_Run.Progress(done, total); });
}
