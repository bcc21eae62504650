#pragma once

// What a run of either engine returns, after the Info-ZIP tools' exit codes. Internal to the engine.

#include <cstdint>

namespace zipengine::detail {

// zip32
inline constexpr std::int32_t ZE_OK = 0;
inline constexpr std::int32_t ZE_ABORT = 9;
inline constexpr std::int32_t ZE_NONE = 12;
inline constexpr std::int32_t ZE_WRITE = 14;
inline constexpr std::int32_t ZE_CREAT = 15;
inline constexpr std::int32_t ZE_PARMS = 16;
inline constexpr std::int32_t ZE_OPEN = 18;

// unzip32
inline constexpr std::int32_t PK_WARN = 1;
inline constexpr std::int32_t PK_ERR = 2;
inline constexpr std::int32_t PK_NOZIP = 9;
inline constexpr std::int32_t PK_PARAM = 10;
inline constexpr std::int32_t PK_DISK = 50;
inline constexpr std::int32_t IZ_CTRLC = 80;
inline constexpr std::int32_t IZ_BADPWD = 82;

} // namespace zipengine::detail
