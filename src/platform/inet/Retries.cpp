#include "platform/inet/Retries.h"

#include "platform/inet/Request.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

namespace inet {

namespace {

using namespace detail;

std::mutex g_mutex;
NoticeHook g_notice;

NoticeHook CurrentNoticeHook() {
    std::lock_guard lock(g_mutex);
    return g_notice;
}

} // namespace

namespace detail {

std::vector<std::chrono::milliseconds> RetryWaits() {
    using std::chrono::milliseconds;
    const std::vector<milliseconds> standard{milliseconds(1000), milliseconds(3000), milliseconds(9000)};
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
        waits.push_back(milliseconds(static_cast<long long>(seconds * 1000)));
    }
    return waits;
}

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
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, kHookInterval));
    }
}

} // namespace detail

void SetNoticeHook(NoticeHook hook) {
    std::lock_guard lock(g_mutex);
    g_notice = std::move(hook);
}

} // namespace inet
