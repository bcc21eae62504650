#include "transfer/Leftover.h"

#include "platform/ui/UiServices.h"
#include "transfer/RecoveryFolder.h"
#include "transfer/TransferRun.h"

#include <algorithm>

namespace {

const char* const ConfirmTitle = "ZEL FTP CLIENT";
const char* const ErrorTitle = "ZEL FTP CLIENT ERROR";
const char* const PuttingBack = "Putting back the files saved by a receive that did not finish.";

} // namespace

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
