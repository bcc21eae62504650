#pragma once

// One run of the zip engine (ZpArchive). Internal to the engine.

#include "platform/zipengine/ZipEngine.h"

#include <cstdint>

namespace zipengine::detail {

// Builds the archive the call names from the files its names give, with the options last set.
std::int32_t RunZip(const ZCL& C);

} // namespace zipengine::detail
