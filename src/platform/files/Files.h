#pragma once

// The file services, by concern; each header says its conventions:
//   Names.h    names and patterns without regard to case, the program's temporary names, the ANSI code page
//   Codes.h    the one mapping of errno onto the platform's codes
//   Runtime.h  the runtime's file calls: Windows-style paths, names found without regard to case, wildcards,
//              failures raised with the runtime's numbers
//   Entries.h  exact names, for the program's own bookkeeping: identities, listings, moves, removals, syncs
//   Io.h       reading and writing files: the one atomic replace, temporary files, whole-file reads
//   Lock.h     the operating system's exclusive file lock
// What differs between systems is in Os.h, once per system (OsPosix.cpp, OsWindows.cpp).
#include "platform/files/Codes.h"
#include "platform/files/Entries.h"
#include "platform/files/Io.h"
#include "platform/files/Names.h"
#include "platform/files/Runtime.h"
