#pragma once

// An archive handle of libzip's, discarded unless closed. Internal to the engine.

#include <zip.h>

#include <memory>

namespace zipengine::detail {

struct ZipDiscard {
    void operator()(zip_t* za) const { zip_discard(za); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;

} // namespace zipengine::detail
