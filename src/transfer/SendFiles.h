#pragma once

class cFTP;
class TransferRun;
struct TransferSettings;

// Sends the data set: true when it was uploaded.
class SendFiles {
public:
    SendFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run);
    bool Run();

private:
    const TransferSettings& m_Settings;
    cFTP& m_Ftp;
    TransferRun& m_Run;
};
