#pragma once

#include "platform/error/LastError.h"

// The one mapping of a system error number (errno) onto the platform's codes.
namespace files {

// The platform's code for an errno; `fallback` for the rest.
winapi::DWORD SystemCode(int err, winapi::DWORD fallback);
// The errno says the disk (or the user's share of it) is full.
bool IsDiskFull(int err);

} // namespace files
