#include "platform/zipengine/Deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <new>

namespace zipengine::detail {

namespace {

// Turns a complete raw deflate stream into one that can be followed by another: the final-block bit of its
// last block is cleared and an empty stored block pads it to a byte boundary (what a sync flush writes).
// libdeflate has no flush of its own, and the last block can only be found by decoding up to it; zlib's
// inflate stops at each block boundary and tells the bit position. The decoded length is checked too.
bool MakeJoinable(std::vector<unsigned char>& stream, std::size_t expected, std::vector<unsigned char>& scratch) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    unsigned char* const base = stream.data();
    const std::size_t size = stream.size();
    z.next_in = base;
    z.avail_in = static_cast<uInt>(size);
    bool last = (base[0] & 1) != 0;
    base[0] &= static_cast<unsigned char>(~1u);
    bool found = false;
    for (;;) {
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        const int rc = inflate(&z, Z_BLOCK);
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            break;
        if (z.data_type & 128) {
            if (last) {
                found = true;
                break;
            }
            // The next block's header starts at the lowest unused bit of the last byte read, or in the next byte.
            const int unused = z.data_type & 7;
            unsigned char* at = unused ? z.next_in - 1 : z.next_in;
            if (at >= base + size)
                break;
            const auto mask = static_cast<unsigned char>(unused ? 0x100u >> unused : 1u);
            last = (*at & mask) != 0;
            *at = static_cast<unsigned char>(*at & ~mask);
        } else if (z.avail_in == 0 && z.avail_out != 0) {
            break; // the input ended inside a block
        }
    }
    const std::size_t end = static_cast<std::size_t>(z.next_in - base);
    const int unused = z.data_type & 7;
    const bool whole = found && z.total_out == expected && end == size;
    inflateEnd(&z);
    if (!whole)
        return false;
    stream[end - 1] = static_cast<unsigned char>(stream[end - 1] & (0xffu >> unused));
    // The empty stored block: three zero header bits (in the free bits of the last byte if there is room), then
    // LEN 0 and NLEN 0xffff from the next byte boundary.
    if (unused < 3)
        stream.push_back(0);
    for (unsigned char b : {0x00, 0x00, 0xff, 0xff})
        stream.push_back(b);
    return true;
}

} // namespace

BlockDeflater::BlockDeflater(int level) {
    if (level > 0) {
        m_Compressor = libdeflate_alloc_compressor(level);
        if (!m_Compressor)
            throw std::bad_alloc();
    }
}

BlockDeflater::~BlockDeflater() {
    if (m_Compressor)
        libdeflate_free_compressor(m_Compressor);
}

bool BlockDeflater::Deflate(const unsigned char* in, std::size_t size, bool last, std::vector<unsigned char>& out) {
    if (!m_Compressor) {
        out.assign(in, in + size);
        return true;
    }
    if (size == 0 && last) {
        out.assign({0x03, 0x00}); // one empty fixed-code block: the shortest whole stream
        return true;
    }
    // Room for the worst case and the five bytes of the joint.
    out.resize(libdeflate_deflate_compress_bound(m_Compressor, size) + 5);
    const std::size_t n = libdeflate_deflate_compress(m_Compressor, in, size, out.data(), out.size());
    if (n == 0)
        return false;
    out.resize(n);
    if (last)
        return true;
    if (m_Scratch.empty())
        m_Scratch.resize(64 * 1024);
    return MakeJoinable(out, size, m_Scratch);
}

std::uint32_t Crc32(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return libdeflate_crc32(crc, data, size);
}

std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t sizeB) {
    return static_cast<std::uint32_t>(crc32_combine(crcA, crcB, static_cast<z_off_t>(sizeB)));
}

} // namespace zipengine::detail
