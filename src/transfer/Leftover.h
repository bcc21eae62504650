#pragma once

#include "transfer/RecoveryFolder.h"

#include <string>
#include <vector>

class DataFolderLock;
class TransferRun;

// With the data folder's lock held: puts back, or tidies, what a receive that did not finish left there, with one
// status line, and a box for what the user must know. False when the folder must not be sent or received yet: its
// record cannot be read, or saved files could not all go back (the box says so).
bool RecoverLeftover(const std::string& dataFolder, TransferRun& run);

// Before a send or receive: the data folder's lock, then what a receive left there. False, with a box, when another
// copy holds the folder or the leftover stops the run.
bool TakeDataFolder(const std::string& dataFolder, DataFolderLock& lock, TransferRun& run);

// At start-up, for every installed product's data folder (duplicates are taken once): what a receive left is put
// back or tidied, each folder under its lock, and the kept folders are named, with status lines.
void RecoverAtStartUp(const std::vector<std::string>& dataFolders, TransferRun& run);

// The box text naming the saved files that could not go back because their places were taken.
std::string KeptMessage(const RecoveryFolder::Outcome& outcome);
// Names files the recovery could not deal with: where each belongs, why, and where its saved copy is.
std::string ProblemList(const std::vector<RecoveryFolder::Problem>& problems, const std::string& dataFolder);
// The recovery's steps reported as the run's progress.
RecoveryFolder::StepHook StepsOf(TransferRun& run);
