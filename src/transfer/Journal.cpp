#include "transfer/Journal.h"

#include <zlib.h>

#include <charconv>
#include <cstdio>
#include <sstream>

namespace {

// The version goes up whenever a record would be read differently: an older program then refuses it.
const char* const Magic = "zel-receive-journal 2";
const char* const ChecksumWord = "crc32 ";

const char* StateName(Journal::State state) {
    switch (state) {
    case Journal::State::Clearing:
        return "clearing";
    case Journal::State::Installing:
        return "installing";
    case Journal::State::Committed:
        return "committed";
    }
    return "";
}

// Names are the customer's: any byte but the separators of the record survives, escaped.
std::string Encode(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool Decode(const std::string& text, std::string& name) {
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            name += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr != text.data() + i + 3)
            return false;
        name += static_cast<char>(value);
        i += 2;
    }
    return !name.empty();
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

template <class T> bool Number(const std::string& text, T& value, int base = 10) {
    const char* end = text.data() + text.size();
    return !text.empty() && std::from_chars(text.data(), end, value, base).ptr == end;
}

std::uint32_t Checksum(const std::string& text) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

} // namespace

std::string Journal::Serialize() const {
    std::ostringstream out;
    out << Magic << "\n"
        << "state " << StateName(state) << "\n";
    for (const Saved& s : saved)
        out << "saved\t" << Encode(s.place) << "\t" << Encode(s.copy) << "\n";
    for (const Placed& p : placed) {
        out << "placed\t" << p.id.device << "\t" << p.id.inode << "\t" << p.id.size << "\t" << p.id.mtimeNs << "\t";
        if (p.crc) {
            char hex[9];
            std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(*p.crc));
            out << hex;
        } else {
            out << "-";
        }
        out << "\t" << Encode(p.target) << "\n";
    }
    for (const std::string& copy : leftovers)
        out << "leftover\t" << Encode(copy) << "\n";
    std::string text = out.str();
    char sum[9];
    std::snprintf(sum, sizeof sum, "%08x", static_cast<unsigned>(Checksum(text)));
    return text + ChecksumWord + sum + "\n";
}

std::optional<Journal> Journal::Parse(const std::string& text) {
    // The checksum line covers everything before it, and nothing may follow it.
    if (text.empty() || text.back() != '\n')
        return std::nullopt;
    const std::size_t last = text.rfind('\n', text.size() - 2);
    if (last == std::string::npos)
        return std::nullopt;
    const std::string body = text.substr(0, last + 1);
    const std::string sumLine = text.substr(last + 1, text.size() - last - 2);
    std::uint32_t sum = 0;
    if (sumLine.rfind(ChecksumWord, 0) != 0 || sumLine.size() != 6 + 8 || !Number(sumLine.substr(6), sum, 16) ||
        sum != Checksum(body))
        return std::nullopt;

    std::istringstream in(body);
    std::string line;
    if (!std::getline(in, line) || line != Magic || !std::getline(in, line))
        return std::nullopt;
    Journal journal;
    if (line == "state clearing")
        journal.state = State::Clearing;
    else if (line == "state installing")
        journal.state = State::Installing;
    else if (line == "state committed")
        journal.state = State::Committed;
    else
        return std::nullopt;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = Fields(line);
        if (f[0] == "saved" && f.size() == 3) {
            Saved s;
            if (!Decode(f[1], s.place) || !Decode(f[2], s.copy))
                return std::nullopt;
            journal.saved.push_back(std::move(s));
        } else if (f[0] == "leftover" && f.size() == 2) {
            std::string copy;
            if (!Decode(f[1], copy))
                return std::nullopt;
            journal.leftovers.push_back(std::move(copy));
        } else if (f[0] == "placed" && f.size() == 7) {
            Placed p;
            if (!Number(f[1], p.id.device) || !Number(f[2], p.id.inode) || !Number(f[3], p.id.size) ||
                !Number(f[4], p.id.mtimeNs) || !Decode(f[6], p.target))
                return std::nullopt;
            if (f[5] != "-") {
                std::uint32_t crc = 0;
                if (f[5].size() != 8 || !Number(f[5], crc, 16))
                    return std::nullopt;
                p.crc = crc;
            }
            journal.placed.push_back(std::move(p));
        } else {
            return std::nullopt;
        }
    }
    return journal;
}
