#include "transfer/TransferRun.h"

#include "ftp/cFTP.h"
#include "platform/error/Error.h"
#include "platform/files/Files.h"
#include "platform/inet/Inet.h"
#include "platform/ui/UiServices.h"
#include "platform/zipengine/ZipEngine.h"

namespace {

const char* const CancelledText = "The transfer was cancelled.";
const char* const ConfirmTitle = "ZEL FTP CLIENT";
const char* const ErrorTitle = "ZEL FTP CLIENT ERROR";

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
        throw zel::Error(zel::vbObjectError + cFTP::CannotConnect, "KTFTP::Connect", "Cannot Connect to " + host);
}

namespace transfer {

Opening::Opening(const TransferSettings& s, TransferRun& run) {
    if (ui::Current().MsgBox(s.BackupWarning, ui::Buttons::OkCancel, ui::Icon::None, 0, ConfirmTitle) ==
        ui::Answer::Cancel)
        return;
    m_Busy.emplace();
    run.EnableOtherTransfer(false);
}

BusyPointer::BusyPointer() {
    ui::Current().SetBusy(true);
}

BusyPointer::~BusyPointer() {
    ui::Current().SetBusy(false);
}

void ShowFailure(TransferRun& run, const std::string& text) {
    // Once the user is leaving, the run winds up without asking anything more.
    if (!run.Leaving())
        ui::Current().MsgBox(run.Cancelled() ? CancelledText : text, ui::Buttons::Ok, ui::Icon::None, 0, ErrorTitle);
}

void RequireDataFolder(const std::string& dataFolder) {
    if (!files::FolderExists(dataFolder))
        throw zel::Error(zel::rt::PathNotFound, "RequireDataFolder",
                         "The data folder " + dataFolder +
                             " cannot be found. Check that the product is installed and that its data folder can be "
                             "reached, then try again.");
}

} // namespace transfer
