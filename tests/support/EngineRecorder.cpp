#include "support/EngineRecorder.h"

namespace testsupport {

namespace {

EngineRecorder* g_Recorder = nullptr;

std::optional<std::string> Copy(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

std::int32_t ZpInit(const zipengine::ZIPUSERFUNCTIONS* functions) {
    g_Recorder->calls.push_back("ZpInit");
    g_Recorder->zipFunctions = functions ? *functions : zipengine::ZIPUSERFUNCTIONS{};
    return zipengine::ZpInit(functions);
}

std::int32_t ZpSetOptions(const zipengine::ZPOPT* options) {
    EngineRecorder& r = *g_Recorder;
    r.calls.push_back("ZpSetOptions");
    r.zpopt = options ? *options : zipengine::ZPOPT{};
    r.zpoptDate = Copy(r.zpopt.Date);
    r.zpoptRootDir = Copy(r.zpopt.szRootDir);
    r.zpopt.Date = r.zpopt.szRootDir = r.zpopt.szTempDir = nullptr;
    return zipengine::ZpSetOptions(options);
}

std::int32_t ZpArchive(zipengine::ZCL C) {
    EngineRecorder& r = *g_Recorder;
    r.calls.push_back("ZpArchive");
    r.zclArgc = C.argc;
    r.zclZipFN = Copy(C.lpszZipFN);
    r.zclNames.clear();
    for (std::int32_t i = 0; i < C.argc && C.FNV; ++i)
        r.zclNames.push_back(Copy(C.FNV[i]));
    return zipengine::ZpArchive(C);
}

std::int32_t UzpVersion2(zipengine::UzpVer* version) {
    g_Recorder->calls.push_back("UzpVersion2");
    if (version)
        g_Recorder->uzpVerStructlen = version->structlen;
    return zipengine::UzpVersion2(version);
}

std::int32_t Wiz_SingleEntryUnzip(std::int32_t ifnc, const char* const* ifnv, std::int32_t xfnc,
                                  const char* const* xfnv, const zipengine::DCL* dcl,
                                  zipengine::USERFUNCTIONS* functions) {
    EngineRecorder& r = *g_Recorder;
    r.calls.push_back("Wiz_SingleEntryUnzip");
    r.ifnc = ifnc;
    r.xfnc = xfnc;
    r.dcl = dcl ? *dcl : zipengine::DCL{};
    r.dclZipFN = Copy(r.dcl.lpszZipFN);
    r.dclExtractDir = Copy(r.dcl.lpszExtractDir);
    r.dcl.lpszZipFN = r.dcl.lpszExtractDir = nullptr;
    r.unzipFunctions = functions ? *functions : zipengine::USERFUNCTIONS{};
    return zipengine::Wiz_SingleEntryUnzip(ifnc, ifnv, xfnc, xfnv, dcl, functions);
}

const zipengine::Zip32Library RecordingZip32{&ZpInit, &ZpSetOptions, &ZpArchive};
const zipengine::Unzip32Library RecordingUnzip32{&UzpVersion2, &Wiz_SingleEntryUnzip};

} // namespace

EngineRecorder::EngineRecorder(bool missing)
    : m_Previous(g_Recorder), m_PreviousZip32(zipengine::Zip32()), m_PreviousUnzip32(zipengine::Unzip32()) {
    g_Recorder = this;
    if (missing)
        zipengine::UseLibraries(nullptr, nullptr);
    else
        zipengine::UseLibraries(&RecordingZip32, &RecordingUnzip32);
}

EngineRecorder::~EngineRecorder() {
    zipengine::UseLibraries(m_PreviousZip32, m_PreviousUnzip32);
    g_Recorder = m_Previous;
}

} // namespace testsupport
