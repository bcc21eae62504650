#pragma once

#include "platform/zipengine/ZipEngine.h"

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What the archive drivers handed the engine's libraries (texts copied, null texts as empty optionals).
struct EngineCalls {
    std::vector<std::string> calls; // in order
    zipengine::ZIPUSERFUNCTIONS zipFunctions;
    zipengine::ZPOPT zpopt; // pointers cleared; see the copies below
    std::optional<std::string> zpoptDate;
    std::optional<std::string> zpoptRootDir;
    std::int32_t zclArgc = 0;
    std::optional<std::string> zclZipFN;
    std::vector<std::optional<std::string>> zclNames;
    zipengine::DCL dcl; // pointers cleared
    std::optional<std::string> dclZipFN;
    std::optional<std::string> dclExtractDir;
    std::int32_t ifnc = -1;
    std::int32_t xfnc = -1;
    zipengine::USERFUNCTIONS unzipFunctions;
    std::uint32_t uzpVerStructlen = 0;
};

// While alive, the archive drivers reach the zip engine through recording stand-ins of its libraries, and the
// real engine then does the work. With `missing` the libraries cannot be loaded at all. Recorders nest: each puts
// back what was there before it.
class EngineRecorder : public EngineCalls {
public:
    explicit EngineRecorder(bool missing = false);
    ~EngineRecorder();
    EngineRecorder(const EngineRecorder&) = delete;
    EngineRecorder& operator=(const EngineRecorder&) = delete;
    void Reset() { static_cast<EngineCalls&>(*this) = EngineCalls{}; }

private:
    EngineRecorder* m_Previous;
    const zipengine::Zip32Library* m_PreviousZip32;
    const zipengine::Unzip32Library* m_PreviousUnzip32;
};

} // namespace testsupport
