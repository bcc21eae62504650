#pragma once

// Deflate in independent blocks that join into one standard stream, so that the blocks of one file can be
// compressed on several cores. Internal to the engine.

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace zipengine::detail {

// Input bytes per block: large enough that starting each block without the previous block's history costs
// almost nothing in size, small enough to keep memory and progress steps small.
inline constexpr std::size_t DeflateBlockSize = std::size_t(1) << 20;

// One compressor per thread.
class BlockDeflater {
public:
    // level 1..9 deflates; 0 stores.
    explicit BlockDeflater(int level);
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;

    // Replaces `out` with the deflated form of the input. A last block ends the stream; any other block ends
    // on a byte boundary without ending the stream, so the next block's output can follow it directly.
    // False only when memory runs out or the compressor fails.
    bool Deflate(const unsigned char* in, std::size_t size, bool last, std::vector<unsigned char>& out);

private:
    libdeflate_compressor* m_Compressor = nullptr;
    std::vector<unsigned char> m_Scratch;
};

// The CRC-32 of the data, continuing from `crc`.
std::uint32_t Crc32(std::uint32_t crc, const unsigned char* data, std::size_t size);
// The CRC-32 of A followed by B, from both CRCs and B's length.
std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t sizeB);

} // namespace zipengine::detail
