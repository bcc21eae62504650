#include "platform/zipengine/Settings.h"

namespace zipengine {

namespace detail {

Settings& EngineSettings() {
    static Settings settings;
    return settings;
}

} // namespace detail

void SetProgressHook(zel::ProgressHook hook) {
    detail::EngineSettings().hook = std::move(hook);
}

void SetFileFilter(FileFilter filter) {
    detail::EngineSettings().filter = std::move(filter);
}

} // namespace zipengine
