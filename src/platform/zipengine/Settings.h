#pragma once

// What the caller set before a run, through the entry points and the setters outside the libraries' shape. Internal
// to the engine.

#include "platform/zipengine/ZipEngine.h"

#include "platform/error/ProgressHook.h"

#include <optional>
#include <string>

namespace zipengine::detail {

struct Settings {
    ZIPUSERFUNCTIONS zipFunctions; // ZpInit
    ZPOPT options;                 // ZpSetOptions, its texts cleared: the caller's copies are not ours to keep
    std::optional<std::string> rootDir;
    zel::ProgressHook hook;
    FileFilter filter;
};

// The one set of settings the engine has, as the libraries have.
Settings& EngineSettings();

} // namespace zipengine::detail
