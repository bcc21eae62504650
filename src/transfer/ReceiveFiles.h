#pragma once

class cFTP;
class TransferRun;
struct TransferSettings;

// Replaces the data set with the repaired one: true when it is in place.
class ReceiveFiles {
public:
    ReceiveFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run);
    bool Run();

private:
    const TransferSettings& m_Settings;
    cFTP& m_Ftp;
    TransferRun& m_Run;
};
