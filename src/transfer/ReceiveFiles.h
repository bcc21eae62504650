#pragma once

#include "transfer/RecoveryFolder.h"

#include <vector>

class cFTP;
class TransferRun;
struct TransferSettings;

// Replaces the data set with the repaired one: true when it is in place.
class ReceiveFiles {
public:
    ReceiveFiles(const TransferSettings& settings, cFTP& ftp, TransferRun& run);
    bool Run();

private:
    void RequireOneVolume(const TransferSettings& s, const RecoveryFolder& recovery);
    void Unpack(const RecoveryFolder& recovery);
    std::vector<RecoveryFolder::Placement> Plan(const RecoveryFolder& recovery) const;
    void RollBack(RecoveryFolder& recovery);

    const TransferSettings& m_Settings;
    cFTP& m_Ftp;
    TransferRun& m_Run;
};
