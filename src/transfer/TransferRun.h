#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class cFTP;
class RecoveryFolder;

// The window's working state, as start-up and the connection test set it and the transfers read it.
struct TransferSettings {
    std::string HostName;
    std::string DataFolder; // ends in a separator
    std::string RemoteFixedArchive;
    std::string RemoteSendArchive;
    std::string LocalSendArchive;
    std::string LocalFixedArchive;
    std::string BackupWarning;
    bool UseTova = true;
    bool UseLedgra = true;
    bool LedgraOnline = true;
    // The host and credentials of the successful connection test: the transfers log in with exactly these.
    std::string TestedHost;
    std::string User;
    std::string Password;
};

// The run a transfer belongs to, as the transfer sees it. The main window provides one; so can a test or a
// benchmark, which then needs no window.
class TransferRun {
public:
    virtual ~TransferRun() = default;
    virtual void PrintStatus(const std::string& text) = 0;
    // The other transfer button: Receive Files during a send, Send Files during a receive.
    virtual void EnableOtherTransfer(bool enabled) = 0;
    // Names the long step that follows; `files` when its progress counts files rather than bytes.
    virtual void BeginStep(const std::string& step, bool files = false) = 0;
    // Progress of the step; false once the run is cancelled. Keeps the window alive however often it is called.
    virtual bool Progress(std::uint64_t done, std::uint64_t total) = 0;
    virtual bool Cancelled() const = 0;
    // The line dropped and the step is tried again after `wait`: the user is told, and shown the countdown.
    virtual void Retrying(const std::string& text, std::chrono::milliseconds wait) {
        (void)wait;
        PrintStatus(text);
    }
    // The user is leaving (window closed, Exit pressed): a failure winds up without asking anything.
    virtual bool Leaving() const = 0;
};

// While alive, the platform's long calls (logins, transfers, packing, unpacking) report to the run's Progress,
// and the transfers' retries to its Retrying.
class PlatformHooks {
public:
    explicit PlatformHooks(TransferRun& run);
    ~PlatformHooks();
    PlatformHooks(const PlatformHooks&) = delete;
    PlatformHooks& operator=(const PlatformHooks&) = delete;
};

// Logs in with exactly the given host and credentials: nothing a failed attempt left in the session object is
// reused. Raises on failure.
void LogIn(cFTP& ftp, const std::string& host, const std::string& user, const std::string& password);

// What both transfers share: the steps that open and close a run.
namespace transfer {

// The busy pointer for as long as the object lives.
class BusyPointer {
public:
    BusyPointer();
    ~BusyPointer();
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// The opening every transfer shares: the backup warning and, once the user goes on, the busy pointer for as long
// as the object lives and the other transfer button off.
class Opening {
public:
    Opening(const TransferSettings& settings, TransferRun& run);
    // False when the user cancelled at the warning: nothing was changed.
    bool Confirmed() const { return m_Busy.has_value(); }

private:
    std::optional<BusyPointer> m_Busy;
};

// The failure box, unless the user is leaving; a cancelled run says so instead of the error.
void ShowFailure(TransferRun& run, const std::string& text);
// The data folder must be there before anything is touched: otherwise every path below points elsewhere.
void RequireDataFolder(const std::string& dataFolder);

} // namespace transfer
