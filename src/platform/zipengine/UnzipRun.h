#pragma once

// One run of the unzip engine (Wiz_SingleEntryUnzip). Internal to the engine.

#include "platform/zipengine/ZipEngine.h"

#include <cstdint>

namespace zipengine::detail {

// Checks, opens and extracts (or tests, or lists) the archive the record names, as the record says.
std::int32_t RunUnzip(std::int32_t ifnc, std::int32_t xfnc, const DCL& dcl, USERFUNCTIONS* uf);

} // namespace zipengine::detail
