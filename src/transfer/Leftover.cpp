#include "transfer/Leftover.h"

#include "platform/files/Files.h"
#include "platform/ui/UiServices.h"
#include "transfer/DataFolderLock.h"
#include "transfer/TransferRun.h"

#include <algorithm>

namespace {

const char* const ConfirmTitle = "ZEL FTP CLIENT";
const char* const ErrorTitle = "ZEL FTP CLIENT ERROR";
const char* const PuttingBack = "Putting back the files saved by a receive that did not finish.";
constexpr std::size_t ShownAtMost = 20;

void Box(TransferRun& run, const std::string& text, const char* title) {
    if (!run.Leaving())
        ui::Current().MsgBox(text, ui::Buttons::Ok, ui::Icon::None, 0, title);
}

std::string DamagedText(const RecoveryFolder& recovery) {
    return "The record that an earlier receive left in " + recovery.Path() +
           " cannot be read, so it cannot be told which files belong where. The files saved there are left as they "
           "are.\r\n\r\nPlease call support before you send or receive files again.";
}

std::string StuckText(const RecoveryFolder::Outcome& outcome, const std::string& dataFolder) {
    return "These files saved by a receive that did not finish could not be put back yet:" +
           ProblemList(outcome.stuck, dataFolder) +
           "\r\n\r\nEvery other file is back in place. Close any program that uses these files; they are put back "
           "before the next send or receive, and at the next start.";
}

} // namespace

std::string KeptMessage(const RecoveryFolder::Outcome& outcome) {
    std::string text = "These files could not be put back because files of the same name are in their place. The "
                       "saved copies are kept in " +
                       outcome.keptFolder + ":";
    const std::size_t shown = std::min(outcome.kept.size(), ShownAtMost);
    for (std::size_t i = 0; i < shown; ++i)
        text += "\r\n" + outcome.kept[i];
    if (outcome.kept.size() > shown)
        text += "\r\n... and " + std::to_string(outcome.kept.size() - shown) + " more.";
    return text;
}

std::string ProblemList(const std::vector<RecoveryFolder::Problem>& problems, const std::string& dataFolder) {
    std::string text;
    const std::size_t shown = std::min(problems.size(), ShownAtMost);
    for (std::size_t i = 0; i < shown; ++i) {
        const RecoveryFolder::Problem& p = problems[i];
        text += "\r\n" + dataFolder + p.place + ": " + p.reason;
        if (!p.copy.empty())
            text += "; the saved copy is " + p.copy;
    }
    if (problems.size() > shown)
        text += "\r\n... and " + std::to_string(problems.size() - shown) + " more.";
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
        if (outcome.damaged) {
            Box(run, DamagedText(recovery), ErrorTitle);
            return false;
        }
        if (outcome.rolledBack)
            run.PrintStatus(PuttingBack);
        // Copies a finished receive could not remove yet are tried again quietly: the new data set is in place.
        if (outcome.tidied && outcome.untidied.empty())
            run.PrintStatus("The previous files kept by the last receive were removed.");
        if (!outcome.kept.empty())
            Box(run, KeptMessage(outcome), ConfirmTitle);
        if (!outcome.stuck.empty()) {
            Box(run, StuckText(outcome, dataFolder), ErrorTitle);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        Box(run,
            "The files saved by a receive that did not finish could not all be put back (" + std::string(e.what()) +
                "). They are kept in " + recovery.Path() + ".",
            ErrorTitle);
        return false;
    }
}

bool TakeDataFolder(const std::string& dataFolder, DataFolderLock& lock, TransferRun& run) {
    if (!lock.Take()) {
        Box(run, DataFolderLock::HeldText(dataFolder), ErrorTitle);
        return false;
    }
    return RecoverLeftover(dataFolder, run);
}

void RecoverAtStartUp(const std::vector<std::string>& dataFolders, TransferRun& run) {
    std::vector<std::string> done;
    for (const std::string& folder : dataFolders) {
        if (folder.empty() || !files::FolderExists(folder) ||
            std::any_of(done.begin(), done.end(), [&](const std::string& d) { return files::SameName(d, folder); }))
            continue;
        done.push_back(folder);
        RecoveryFolder recovery(folder);
        // Most starts find nothing to do, and then leave no trace in the folder; the check is made again under
        // the lock.
        if (recovery.Pending()) {
            try {
                DataFolderLock lock(folder);
                if (!lock.Take())
                    run.PrintStatus(DataFolderLock::HeldText(folder));
                else
                    RecoverLeftover(folder, run);
            } catch (const std::exception& e) {
                run.PrintStatus("The files a receive left in " + recovery.Path() + " could not be looked at (" +
                                e.what() + ").");
            }
        }
        for (const std::string& kept : recovery.KeptFolders())
            run.PrintStatus("Copies of files that a receive could not put back are kept in " + kept +
                            "; you may delete them once you have checked them.");
    }
}
