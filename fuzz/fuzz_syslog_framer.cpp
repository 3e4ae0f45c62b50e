// The syslog stream framer on any stream (TCP, or TLS once decrypted), cut
// into pieces at places the input chooses: the frames and skipped frames are
// those of a plain reading of the whole stream, however it was cut.
//
// Input: one byte for the frame limit, one for the cuts, then the stream.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "transport/collector/syslog_framer.h"

namespace {

struct Seen final : qm::transport::FrameSink {
    void Frame(std::string_view bytes) override { frames.emplace_back(bytes); }
    void Oversize(uint64_t) override { ++skipped; }
    std::vector<std::string> frames;
    size_t skipped = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The framing rules read straight off the whole stream.
Seen ReadWhole(std::string_view s, size_t limit) {
    Seen out;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '\n' || s[i] == '\0') {
            ++i;
            continue;
        }
        if (s[i] >= '1' && s[i] <= '9') {
            size_t j = i;
            uint64_t count = 0;
            while (j < s.size() && j - i < size_t(qm::transport::SyslogFramer::kMaxCountDigits) && IsDigit(s[j]))
                count = count * 10 + uint64_t(s[j++] - '0');
            if (j < s.size() && s[j] == ' ') {
                ++j;
                const uint64_t left = s.size() - j;
                if (count > limit) ++out.skipped;
                else if (count <= left) out.frames.emplace_back(s.substr(j, count));
                i = count <= left ? j + count : s.size();
                continue;
            }
        }
        size_t end = i;
        while (end < s.size() && s[end] != '\n' && s[end] != '\0') ++end;
        std::string_view frame = s.substr(i, end - i);
        if (end < s.size() && s[end] == '\n' && !frame.empty() && frame.back() == '\r') frame.remove_suffix(1);
        if (frame.size() > limit) ++out.skipped;
        else if (!frame.empty()) out.frames.emplace_back(frame);
        i = end + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Small limits reach the oversize paths; 0 stands for a realistic one.
    const size_t limit = data[0] == 0 ? 8192 : data[0];
    uint32_t state = data[1] * 2654435761u + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

    const Seen expected = ReadWhole(stream, limit);
    qm::transport::SyslogFramer framer(limit);
    Seen got;
    for (size_t at = 0; at < stream.size();) {
        state = state * 1103515245u + 12345u;
        const size_t piece = 1 + (state >> 16) % 37;
        framer.Feed(stream.substr(at, piece), got);
        at += std::min(piece, stream.size() - at);
        // A line may hold one byte past the limit (a CR), a count its digits.
        QM_FUZZ_CHECK(framer.Held() <= std::max<size_t>(limit + 1, qm::transport::SyslogFramer::kMaxCountDigits));
    }
    framer.Finish(got);
    QM_FUZZ_CHECK(got.frames == expected.frames);
    QM_FUZZ_CHECK(got.skipped == expected.skipped);
    for (const std::string& frame : got.frames) QM_FUZZ_CHECK(!frame.empty() && frame.size() <= limit);
    return 0;
}
