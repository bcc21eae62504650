// The unzip32 library's entry points.
#include "platform/zipengine/ZipEngine.h"

#include "platform/zipengine/UnzipRun.h"

#include <zlib.h>
// zlib.h maps this name onto a call; UzpVer has a field of that name.
#undef zlib_version

#include <algorithm>
#include <cstring>

namespace zipengine {

namespace {

void FillText(char* field, const char* value) {
    if (!field)
        return;
    std::size_t room = std::strlen(field); // the caller pre-fills the field with blanks
    std::size_t n = std::min(room, std::strlen(value));
    std::memcpy(field, value, n);
    field[n] = '\0';
}

} // namespace

std::int32_t UzpVersion2(UzpVer* version) {
    if (!version)
        return 0;
    FillText(version->betalevel, "");
    FillText(version->date, "");
    FillText(version->zlib_version, zlibVersion());
    const std::uint8_t ver[4] = {6, 0, 0, 0};
    std::memcpy(version->unzip, ver, 4);
    std::memcpy(version->windll, ver, 4);
    return 0;
}

std::int32_t Wiz_SingleEntryUnzip(std::int32_t ifnc, const char* const* ifnv, std::int32_t xfnc,
                                  const char* const* xfnv, const DCL* lpDCL, USERFUNCTIONS* lpUserFunc) {
    (void)ifnv;
    (void)xfnv;
    const DCL dcl = lpDCL ? *lpDCL : DCL{};
    return detail::RunUnzip(ifnc, xfnc, dcl, lpUserFunc);
}

namespace {
const Unzip32Library g_Unzip32{&UzpVersion2, &Wiz_SingleEntryUnzip};
} // namespace

const Unzip32Library* Unzip32() {
    return &g_Unzip32;
}

} // namespace zipengine
