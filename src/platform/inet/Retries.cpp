#include "platform/inet/Retries.h"

#include "platform/inet/Request.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace inet {

namespace {

using namespace detail;

std::mutex g_mutex;
NoticeHook g_notice;

NoticeHook CurrentNoticeHook() {
    std::lock_guard lock(g_mutex);
    return g_notice;
}

// The waits before the retries, one per retry.
std::vector<std::chrono::milliseconds> RetryWaits() {
    using std::chrono::milliseconds;
    std::vector<milliseconds> standard{milliseconds(1000), milliseconds(3000), milliseconds(9000)};
    const char* text = std::getenv("ZEL_FTP_RETRY_WAITS");
    if (!text)
        return standard;
    std::vector<milliseconds> waits;
    std::string_view rest(text);
    while (rest.find_first_not_of(" \t") != std::string_view::npos) {
        const size_t comma = rest.find(',');
        const std::string entry(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        char* end = nullptr;
        const double seconds = std::strtod(entry.c_str(), &end);
        // A setting that cannot be read is not taken for "no retries".
        if (end == entry.c_str() || entry.find_first_not_of(" \t", end - entry.c_str()) != std::string::npos ||
            !(seconds >= 0 && seconds <= 3600))
            return standard;
        waits.emplace_back(static_cast<long long>(seconds * 1000));
    }
    return waits;
}

// Tells the notice hook and waits, calling the progress hook all along; false when the call must end.
bool AnnounceAndWait(Connection& conn, const std::string& text, std::chrono::milliseconds wait) {
    if (NoticeHook notice = CurrentNoticeHook())
        notice(text, wait);
    BusyScope busy(conn);
    conn.cancelled = false;
    conn.hookDue.Reset();
    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (!HookAllows(conn)) {
            RethrowStashed(conn);
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, zel::ProgressInterval));
    }
}

// The one status line of a retry, e.g. "Connection lost at 63% \u2014 resuming (2 of 3)".
std::string RetryText(const Outcome& outcome, size_t retry, size_t retries) {
    const std::string count = " (" + std::to_string(retry) + " of " + std::to_string(retries) + ")";
    if (outcome.mismatch)
        return "The copy did not match the original \u2014 transferring it again" + count;
    if (outcome.total > 0 && outcome.done > 0)
        return "Connection lost at " + std::to_string(outcome.done * 100 / outcome.total) + "% \u2014 resuming" + count;
    return "Connection lost \u2014 trying again" + count;
}

} // namespace

namespace detail {

BOOL WithRetries(Connection& conn, const std::function<Outcome(bool resume)>& attempt) {
    const auto waits = RetryWaits();
    bool resume = false;
    for (size_t retry = 0;; ++retry) {
        const Outcome outcome = attempt(resume);
        if (outcome.error == ERROR_SUCCESS)
            return Succeeded();
        if (!outcome.retriable || retry == waits.size())
            return winapi::Failed(outcome.error);
        if (!AnnounceAndWait(conn, RetryText(outcome, retry + 1, waits.size()), waits[retry]))
            return winapi::Failed(ERROR_INTERNET_OPERATION_CANCELLED);
        resume = !outcome.mismatch;
    }
}

} // namespace detail

void SetNoticeHook(NoticeHook hook) {
    std::lock_guard lock(g_mutex);
    g_notice = std::move(hook);
}

} // namespace inet
