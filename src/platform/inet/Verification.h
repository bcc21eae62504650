#pragma once

// What the server can tell about a remote file, and whether a copy is the same: its SIZE, and the checksum FEAT
// offers (HASH, XMD5, XCRC) against that of the local file. Internal to inet.
#include "platform/inet/Connection.h"

#include <cstdint>
#include <optional>
#include <string>

namespace inet::detail {

// The server's SIZE of a remote file; nothing when it cannot tell (no such file, no SIZE), or when the request
// failed (then `result` says how).
std::optional<std::uint64_t> AskSize(Connection& conn, const char* remote, CURLcode& result);
// Whether the server can vouch for a copy of the file: it tells the size, or offers a checksum.
bool CanVerify(Connection& conn, const char* remote);

enum class Check { Same, Different, Unknown, Lost, Cancelled };
// Compares the server's checksum of a remote file with that of the local copy, where the server offers one.
Check CompareChecksums(Connection& conn, const char* remote, const std::string& local, CURLcode& result);

} // namespace inet::detail
