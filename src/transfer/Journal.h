#pragma once

#include "platform/files/Files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The receive's record on disk: which state the transaction is in, where each saved file's copy is, and which
// files it put in place. Written whole and atomically; carries its format version and a checksum, so that a record
// that is cut short, damaged or written by another version is recognised as such and never guessed at.
struct Journal {
    enum class State { Clearing, Installing, Committed };

    // A file the transaction moved away: its place in the data folder and its copy in the recovery folder, both
    // relative ("data_qmx\x.qmx", "saved\data_qmx\x.qmx").
    struct Saved {
        std::string place;
        std::string copy;
        bool operator==(const Saved&) const = default;
    };
    // A file the transaction put in place, as it was when staged, and the CRC-32 its archive recorded.
    struct Placed {
        std::string target;
        files::FileId id;
        std::optional<std::uint32_t> crc;
        bool operator==(const Placed&) const = default;
    };

    State state = State::Clearing;
    std::vector<Saved> saved;
    std::vector<Placed> placed;
    // Copies an earlier, finished receive could not remove yet (relative to the recovery folder): removed whenever
    // possible, never put back.
    std::vector<std::string> leftovers;

    bool operator==(const Journal&) const = default;

    std::string Serialize() const;
    // Nothing when the text is not a whole journal of this version.
    static std::optional<Journal> Parse(const std::string& text);
};
