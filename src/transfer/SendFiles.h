#pragma once

#include <cstdint>
#include <string>

class cFTP;
class TransferRun;
struct TransferSettings;

// Sends the data set: true when it was uploaded.
class SendFiles {
public:
    SendFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run);
    bool Run();

private:
    void RemoveArchive(const std::string& path, std::uint64_t done, std::uint64_t total);

    const TransferSettings& m_Settings;
    cFTP& m_Ftp;
    TransferRun& m_Run;
};
