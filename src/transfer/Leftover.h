#pragma once

#include "transfer/RecoveryFolder.h"

#include <string>

class TransferRun;

// Puts back, or tidies, what a receive that did not finish left in the data folder, with one status line and a
// box when something could not be put back. False when the leftover could not be dealt with (the box says why).
bool RecoverLeftover(const std::string& dataFolder, TransferRun& run);

// The box text naming the saved files that could not go back because their places were taken.
std::string KeptMessage(const RecoveryFolder::Outcome& outcome);
// The recovery's steps reported as the run's progress.
RecoveryFolder::StepHook StepsOf(TransferRun& run);
