#include "platform/zipengine/ZipEngine.h"

#include "platform/zipengine/Paths.h"

#include "platform/files/Names.h"

#include <zip.h>

namespace zipengine {

bool ReadCatalog(const std::string& archive, std::vector<EntryRecord>& entries) {
    entries.clear();
    int error = 0;
    zip_t* za = zip_open(detail::Utf8(detail::PathOf(files::NativePath(archive))).c_str(), ZIP_RDONLY, &error);
    if (!za)
        return false;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
            zip_discard(za);
            entries.clear();
            return false;
        }
        EntryRecord e;
        e.name = st.name;
        e.size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
        e.crc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
        entries.push_back(std::move(e));
    }
    zip_discard(za);
    return true;
}

} // namespace zipengine
