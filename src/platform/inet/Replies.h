#pragma once

// What the server answered: the replies of a request as they arrive, the thread's last reply, and what a failed
// request means (whether trying again may mend it, the platform's code). Internal to inet.
#include "platform/inet/Connection.h"

#include <string_view>

namespace inet::detail {

// 4xx and 5xx: the server did not do what the command asked.
bool IsRefusal(int code);
// Takes one header line of curl's; complete replies go to conn.replies.
void CollectReply(Connection& conn, std::string_view line);
int LastReplyCode(const Connection& conn);
// The reply InternetGetLastResponseInfoA tells: the request's last one, or the one given.
void KeepLastReply(const Connection& conn);
void KeepReply(const Reply& reply);

// The questions a failed request is asked, all answered from the one table of what the server's replies and curl's
// results mean (Replies.cpp).

// Trying a transfer or a command again may mend its failure: a passing refusal, or a line that failed.
bool Retriable(const Connection& conn, CURLcode result);
// Trying a login again may mend its failure: the server was briefly unavailable, or the line dropped; not a login
// refused, nor a server that is not there or does not answer.
bool LoginRetriable(const Connection& conn, CURLcode result);
// The server refused for good what a request asked (a resume by APPE or REST), not the login: another way may do.
bool ResumeRefused(const Connection& conn, CURLcode result);
// The platform's code for a failed request.
DWORD MapResult(const Connection& conn, CURLcode result);

} // namespace inet::detail
