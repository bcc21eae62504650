#pragma once

// Entry names as the archive gives them (verbatim: "../x", "/etc/x", "C:/x", "a\..\..\x"), made safe to write
// under the extraction folder and to show in a message. Internal to the engine.

#include <string>
#include <vector>

namespace zipengine::detail {

// A name as it can be shown in a message: control characters written out, so a name cannot break the lines.
std::string Printable(const std::string& name);
bool HasControlCharacter(const std::string& name);

struct SafeName {
    std::vector<std::string> parts;
    bool stripped = false; // "..", an absolute path or a drive letter was removed
};

// The parts of an entry's name that stay inside the extraction folder, "/" and "\\" both separating them.
SafeName Sanitise(const std::string& name, bool spaceToUnderscore);

} // namespace zipengine::detail
