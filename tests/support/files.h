#pragma once
// Reading what the program wrote (and writing its input): whole files, the UTF-16LE lines of a log
// file, and the little-endian bytes of a struct-form setting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/utf16.h"

namespace qm::testing {

inline bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }
inline bool StartsWith(std::string_view text, std::string_view part) { return text.substr(0, part.size()) == part; }

inline std::vector<uint8_t> LittleEndian(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

inline std::string ReadWholeFile(const std::filesystem::path& p) {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

inline void WriteWholeFile(const std::filesystem::path& p, std::string_view text) {
    std::ofstream(p, std::ios::binary) << text;
}

// The lines of a log file: UTF-16LE, each ended by the unit 0x000A.
inline std::vector<std::string> LogLines(const std::filesystem::path& file) {
    const std::string bytes = ReadWholeFile(file);
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] != '\n' || bytes[i + 1] != '\0') continue;
        lines.push_back(platform::Utf16LEBytesToUtf8(std::string_view(bytes).substr(begin, i - begin)));
        begin = i + 2;
    }
    EXPECT_EQ(begin, bytes.size()) << file << " ends inside a line";
    return lines;
}

}  // namespace qm::testing
