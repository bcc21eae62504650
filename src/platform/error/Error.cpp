#include "platform/error/Error.h"

#include <utility>

namespace zel {

Error::Error(std::int32_t number, std::string source, std::string description)
    : m_Number(number), m_Source(std::move(source)), m_Description(std::move(description)) {}

Error Error::WithSource(std::string source) const {
    return Error(m_Number, std::move(source), m_Description);
}

namespace rt {

std::string Description(std::int32_t number) {
    switch (number) {
    case InvalidProcedureCall:
        return "Invalid procedure call or argument";
    case Overflow:
        return "Overflow";
    case OutOfMemory:
        return "Out of memory";
    case InternalError:
        return "Internal error";
    case SubscriptOutOfRange:
        return "Subscript out of range";
    case FileNotFound:
        return "File not found";
    case FileAlreadyExists:
        return "File already exists";
    case DiskFull:
        return "Disk full";
    case PermissionDenied:
        return "Permission denied";
    case PathFileAccessError:
        return "Path/File access error";
    case PathNotFound:
        return "Path not found";
    default:
        return "Application-defined or object-defined error";
    }
}

Error Raise(std::int32_t number, std::string source) {
    return Error(number, std::move(source), Description(number));
}

} // namespace rt
} // namespace zel
