// The zip32 library's entry points.
#include "platform/zipengine/ZipEngine.h"

#include "platform/zipengine/Settings.h"
#include "platform/zipengine/ZipRun.h"

namespace zipengine {

std::int32_t ZpInit(const ZIPUSERFUNCTIONS* lpZipUserFunc) {
    detail::EngineSettings().zipFunctions = lpZipUserFunc ? *lpZipUserFunc : ZIPUSERFUNCTIONS{};
    return 1;
}

std::int32_t ZpSetOptions(const ZPOPT* lpOpts) {
    detail::Settings& s = detail::EngineSettings();
    s.options = lpOpts ? *lpOpts : ZPOPT{};
    s.rootDir = s.options.szRootDir ? std::optional<std::string>(s.options.szRootDir) : std::nullopt;
    s.options.Date = s.options.szRootDir = nullptr;
    return 1;
}

std::int32_t ZpArchive(ZCL C) {
    return detail::RunZip(C);
}

namespace {
const Zip32Library g_Zip32{&ZpInit, &ZpSetOptions, &ZpArchive};
} // namespace

const Zip32Library* Zip32() {
    return &g_Zip32;
}

} // namespace zipengine
