#pragma once

// What the server answered: the replies of a request as they arrive, the thread's last reply, and what a failed
// request means (the platform's code, and whether trying again may mend it). Internal to inet.
#include "platform/inet/Connection.h"

#include <string_view>

namespace inet::detail {

// Takes one header line of curl's; complete replies go to conn.replies.
void CollectReply(Connection& conn, std::string_view line);
int LastReplyCode(const Connection& conn);
// The reply InternetGetLastResponseInfoA tells: the request's last one, or the one given.
void KeepLastReply(const Connection& conn);
void KeepReply(const Reply& reply);

DWORD MapResult(const Connection& conn, CURLcode result);
// Whether trying the request again may mend its failure: a lost, reset or stalled connection, or a passing refusal.
bool Retriable(const Connection& conn, CURLcode result);
// A login that failed because the server was briefly unavailable or the line dropped; not one that was refused,
// nor a server that is not there.
bool LoginRetriable(const Connection& conn, CURLcode result);

} // namespace inet::detail
