#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace zel {

// Base of the numbers of the system's own errors (FACILITY_ITF with the error bit).
constexpr std::int32_t vbObjectError = static_cast<std::int32_t>(0x80040000u);

// The error object every class raises: number, source and description.
class Error : public std::exception {
public:
    Error(std::int32_t number, std::string source, std::string description);

    std::int32_t Number() const { return m_Number; }
    const std::string& Source() const { return m_Source; }
    const std::string& Description() const { return m_Description; }
    const char* what() const noexcept override { return m_Description.c_str(); }

    // The same error passed on by a wrapping operation under its own source.
    Error WithSource(std::string source) const;

private:
    std::int32_t m_Number;
    std::string m_Source;
    std::string m_Description;
};

// Runtime errors keep the numbers and texts of the original runtime.
namespace rt {
constexpr std::int32_t InvalidProcedureCall = 5;
constexpr std::int32_t Overflow = 6;
constexpr std::int32_t OutOfMemory = 7;
constexpr std::int32_t SubscriptOutOfRange = 9;
constexpr std::int32_t InternalError = 51;
constexpr std::int32_t FileNotFound = 53;
constexpr std::int32_t FileAlreadyExists = 58;
constexpr std::int32_t DiskFull = 61;
constexpr std::int32_t PermissionDenied = 70;
constexpr std::int32_t PathFileAccessError = 75;
constexpr std::int32_t PathNotFound = 76;

// "File not found" for 53 and so on; "Application-defined or object-defined error" for unknown numbers.
std::string Description(std::int32_t number);
// A runtime error raised with its standard text.
Error Raise(std::int32_t number, std::string source);
} // namespace rt

} // namespace zel
