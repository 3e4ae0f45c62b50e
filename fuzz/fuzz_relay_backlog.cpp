// Opening a relay backlog that a crash, a full disk or a hand left damaged:
// whatever the file and its position file hold, the open keeps only whole
// records, reading gives lines in offset order within the kept range, and
// the backlog still takes, gives back and releases new lines.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "transport/relay/relay_backlog.h"

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how much of the rest is the position file.
    if (size == 0) return 0;
    const size_t positionBytes = std::min<size_t>(data[0] % 24, size - 1);
    const std::string_view position(reinterpret_cast<const char*>(data) + 1, positionBytes);
    const std::string_view content(reinterpret_cast<const char*>(data) + 1 + positionBytes, size - 1 - positionBytes);
    const std::filesystem::path file = fuzz::ScratchFolder() / "fuzz.q";
    const std::filesystem::path pos = std::filesystem::path(file).replace_extension(".pos");
    fuzz::WriteFile(file, content);
    fuzz::WriteFile(pos, position);

    transport::RelayBacklog backlog;
    if (backlog.Open(file, 1 << 20) != 0) return 0;
    QM_FUZZ_CHECK(backlog.Head() <= backlog.End());
    int error = 0;
    size_t seen = 0;
    uint64_t at = backlog.Head();
    while (at < backlog.End()) {
        const uint64_t next = backlog.Read(at, 4096, [&](std::string_view line) {
            QM_FUZZ_CHECK(line.size() <= transport::RelayBacklog::kMaxLine);
            ++seen;
        }, error);
        QM_FUZZ_CHECK(error == 0);
        QM_FUZZ_CHECK(next > at && next <= backlog.End());
        at = next;
    }
    QM_FUZZ_CHECK(seen == backlog.Recovered());

    // A recovered backlog goes on working: what is added comes back last.
    const std::vector<std::string_view> added = {"<13>after the damage", ""};
    QM_FUZZ_CHECK(backlog.Append(added) == 0);
    std::vector<std::string> lines;
    const uint64_t end = backlog.Read(at, 1 << 20, [&](std::string_view line) { lines.emplace_back(line); }, error);
    QM_FUZZ_CHECK(error == 0 && end == backlog.End());
    QM_FUZZ_CHECK(lines.size() == 2 && lines[0] == added[0] && lines[1].empty());
    backlog.Release(end);
    QM_FUZZ_CHECK(backlog.Head() == backlog.End());
    backlog.Close();
    return 0;
}
