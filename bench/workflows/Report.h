#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

// What the benchmark programs print to bench.py.

// A JSON string of the text.
inline std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Peak resident memory of this program alone, in MiB. The maxrss a parent reads also counts what the process
// held before it started this program (with vfork, the parent's own pages).
inline double PeakResidentMiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    double kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::atof(line + 6);
    std::fclose(f);
    return kib / 1024;
}

} // namespace bench
