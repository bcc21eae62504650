#include "platform/ui/UiServices.h"

#include <stdexcept>

namespace ui {

namespace {
Services* g_Current = nullptr;
}

Services& Current() {
    if (!g_Current)
        throw std::logic_error("no user-interface services installed");
    return *g_Current;
}

void Install(Services* services) {
    g_Current = services;
}

} // namespace ui
