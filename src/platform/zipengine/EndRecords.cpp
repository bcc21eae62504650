#include "platform/zipengine/EndRecords.h"

#include "platform/files/Entries.h"
#include "platform/files/Io.h"
#include "platform/zipengine/Paths.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

namespace zipengine::detail {

namespace {

std::uint32_t U16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const unsigned char* p) {
    return U16(p) | (U16(p + 2) << 16);
}
std::uint64_t U64(const unsigned char* p) {
    return U32(p) | (std::uint64_t(U32(p + 4)) << 32);
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The archive's end records: the file, open, and its tail up to the end of the central directory's end record,
// which starts 22 bytes before the tail's end (a comment after it is cut off); null when there is none.
FilePtr EndRecord(const fs::path& archive, std::vector<unsigned char>& tail) {
    const std::string path = Utf8(archive);
    std::uint64_t size = 0;
    FilePtr file(files::SizeOf(path, size) ? files::OpenFile(path, "rb") : nullptr, &std::fclose);
    if (!file)
        return file;
    tail.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, 65535 + 22)));
    if (!files::Seek(file.get(), size - tail.size()) ||
        std::fread(tail.data(), 1, tail.size(), file.get()) != tail.size())
        return FilePtr(nullptr, &std::fclose);
    for (std::int64_t i = static_cast<std::int64_t>(tail.size()) - 22; i >= 0; --i) {
        if (U32(tail.data() + i) == 0x06054b50) {
            tail.resize(static_cast<std::size_t>(i) + 22);
            return file;
        }
    }
    return FilePtr(nullptr, &std::fclose);
}

} // namespace

std::optional<std::uint64_t> DeclaredEntries(const fs::path& archive) {
    std::vector<unsigned char> tail;
    FilePtr file = EndRecord(archive, tail);
    if (!file)
        return std::nullopt;
    const unsigned char* eocd = tail.data() + tail.size() - 22;
    if (U16(eocd + 10) != 0xffff)
        return U16(eocd + 10);
    // Zip64: the locator right before the end record tells where the Zip64 end record is.
    unsigned char record[56];
    if (tail.size() < 42 || U32(eocd - 20) != 0x07064b50 || !files::Seek(file.get(), U64(eocd - 20 + 8)) ||
        std::fread(record, 1, sizeof record, file.get()) != sizeof record || U32(record) != 0x06064b50)
        return std::nullopt;
    return U64(record + 32);
}

std::string DuplicateEntryName(const fs::path& archive) {
    std::vector<unsigned char> tail;
    FilePtr file = EndRecord(archive, tail);
    if (!file)
        return {};
    const unsigned char* eocd = tail.data() + tail.size() - 22;
    const std::uint32_t cdSize = U32(eocd + 12), cdOffset = U32(eocd + 16);
    if (cdOffset == 0xffffffffu || cdSize > 64u * 1024 * 1024)
        return {};
    std::vector<unsigned char> cd(cdSize);
    if (!files::Seek(file.get(), cdOffset) || std::fread(cd.data(), 1, cd.size(), file.get()) != cd.size())
        return {};
    std::set<std::string> seen;
    for (std::size_t pos = 0; pos + 46 <= cd.size() && U32(&cd[pos]) == 0x02014b50;) {
        const std::size_t nameLength = U16(&cd[pos + 28]), extra = U16(&cd[pos + 30]), comment = U16(&cd[pos + 32]);
        if (pos + 46 + nameLength > cd.size())
            return {};
        std::string name(reinterpret_cast<const char*>(&cd[pos + 46]), nameLength);
        if (!seen.insert(name).second)
            return name;
        pos += 46 + nameLength + extra + comment;
    }
    return {};
}

} // namespace zipengine::detail
