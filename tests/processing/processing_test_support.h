#pragma once
// Helpers shared by the processing module tests: events, files and
// the byte layout of legacy settings records.
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "core/event_record.h"
#include "platform/utf16.h"
#include "support/files.h"
#include "support/wait_until.h"

namespace qm::processing::test {

using qm::testing::LogLines;
using qm::testing::ReadWholeFile;
using qm::testing::WaitUntil;

inline core::EventRecord Event(std::string sender, std::string message, uint32_t severity = 6,
                               uint32_t type = core::kEventExternal) {
    core::EventRecord e;
    e.type = type;
    e.severity = severity;
    e.sender = std::move(sender);
    e.SetMessage(std::move(message));
    e.sequence = 42;
    return e;
}

inline void Spill(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    qm::testing::WriteWholeFile(path, bytes);
}

// A little-endian number, or text as UTF-16LE units, at a byte offset of a
// legacy record.
template <typename T>
void Put(std::vector<uint8_t>& record, size_t offset, T value) {
    if constexpr (std::is_convertible_v<T, std::string_view>) {
        const std::string units = platform::Utf8ToUtf16LEBytes(std::string_view(value));
        std::memcpy(record.data() + offset, units.data(), units.size());
    } else {
        for (size_t i = 0; i < sizeof(T); ++i) record[offset + i] = uint8_t(uint64_t(value) >> (8 * i));
    }
}

}  // namespace qm::processing::test
