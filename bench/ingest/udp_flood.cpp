// udp_flood: the load generator and loss counter of the ingest benchmark.
//
//   udp_flood send   --port P [--host 127.0.0.1] --count N [--rate R] [--batch B] [--gso G] [--plain] [--first S] [--size L]
//   udp_flood verify --expect N [--first S] FILE...
//
// "send" numbers every datagram (seq=%010u) so that "verify" can tell, from
// whatever a receiver wrote, exactly which ones arrived. Both print one
// key=value line that run.sh reads back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "numbered_message.h"

namespace {

constexpr size_t kDefaultDatagramBytes = 120;
constexpr size_t kMinDatagramBytes = bench::kMinMessageBytes;
constexpr size_t kMaxDatagramBytes = 1400;  // one loopback segment, no fragments
constexpr size_t kMaxBatch = 256;
// The kernel's limit on segments in one UDP_SEGMENT send.
constexpr size_t kMaxSegments = 64;

[[noreturn]] void Usage() {
    std::fputs(
        "usage:\n"
        "  udp_flood send --port P [--host 127.0.0.1] --count N [--rate R] [--batch B] [--gso G] [--plain] [--first S] [--size L]\n"
        "      R datagrams/s, 0 = as fast as possible (default 0); B datagrams per sendmmsg\n"
        "      (default: about 100 us worth of the rate, at most 256); G datagrams per message\n"
        "      by UDP segmentation offload (default 1 = one message per datagram, at most 64);\n"
        "      L bytes per datagram (default 120, 64 to 1400); --plain: one sendto per datagram,\n"
        "      as a device or logger sends (no sendmmsg, no offload; B still paces the bursts)\n"
        "  udp_flood verify --expect N [--first S] [--show K] FILE...\n"
        "      FILE is UTF-8/ASCII or UTF-16LE (detected per file); counts seq=NNNNNNNNNN\n",
        stderr);
    std::exit(2);
}

uint64_t ParseNumber(const char* text, const char* what) { return bench::ParseNumber("udp_flood", text, what); }

int Send(int argc, char** argv) {
    std::string host = "127.0.0.1";
    uint64_t port = 0, count = 0, rate = 0, batch = 0, first = 0, segments = 1, size = kDefaultDatagramBytes;
    bool plain = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--plain") {
            plain = true;
            continue;
        }
        if (i + 1 >= argc) Usage();
        const char* v = argv[++i];
        if (a == "--host") host = v;
        else if (a == "--port") port = ParseNumber(v, "port");
        else if (a == "--count") count = ParseNumber(v, "count");
        else if (a == "--rate") rate = ParseNumber(v, "rate");
        else if (a == "--batch") batch = ParseNumber(v, "batch");
        else if (a == "--first") first = ParseNumber(v, "first");
        else if (a == "--gso") segments = ParseNumber(v, "gso");
        else if (a == "--size") size = ParseNumber(v, "size");
        else Usage();
    }
    if (segments == 0 || segments > kMaxSegments || (plain && segments > 1)) Usage();
    if (size < kMinDatagramBytes || size > kMaxDatagramBytes) Usage();
    const size_t datagramBytes = size;
    // One message with all its segments must fit a single UDP payload.
    segments = std::min<uint64_t>(segments, 65000 / datagramBytes);
    if (port == 0 || port > 65535 || count == 0 || first + count > UINT32_MAX) Usage();
    if (batch == 0) {
        // Bursts of about 100 us: short enough that the receiver sees an even
        // stream, long enough that the wake-ups do not dominate the sender.
        batch = rate == 0 ? kMaxBatch : std::clamp<uint64_t>(rate / 10'000, 1, kMaxBatch);
    }
    batch = std::min<uint64_t>(batch, kMaxBatch);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) {
        std::fprintf(stderr, "udp_flood: bad host %s\n", host.c_str());
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        std::perror("udp_flood: socket");
        return 1;
    }
    // A large send buffer keeps sendmmsg from stopping short on a local burst.
    const int sndbuf = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    // With segmentation offload one message carries several datagrams of the
    // same size; the receiving socket still gets them one by one, but the
    // sender's share of the loopback path is paid once per message, which
    // lets two cores reach rates a message-per-datagram sender cannot.
    if (segments > 1) {
        const int segmentSize = int(datagramBytes);
        if (setsockopt(fd, IPPROTO_UDP, UDP_SEGMENT, &segmentSize, sizeof segmentSize) != 0) {
            std::perror("udp_flood: UDP_SEGMENT");
            return 1;
        }
    }
    // The default 50 us timer slack would blur the pacing of short bursts.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

    std::vector<char> storage(kMaxBatch * datagramBytes);
    std::vector<iovec> iov(kMaxBatch);
    std::vector<mmsghdr> headers(kMaxBatch);

    uint64_t sent = 0, refused = 0, retries = 0, late = 0;
    const uint64_t start = bench::NowNs();
    while (sent < count) {
        const uint64_t n = std::min(batch, count - sent);
        bench::WaitForSchedule(start, sent, rate, late);
        for (uint64_t i = 0; i < n; ++i) bench::FormatMessage(storage.data() + i * datagramBytes, datagramBytes, uint32_t(first + sent + i));
        if (plain) {
            for (uint64_t i = 0; i < n;) {
                // The socket is connected: no address, no route lookup per datagram.
                const ssize_t r = sendto(fd, storage.data() + i * datagramBytes, datagramBytes, 0, nullptr, 0);
                if (r >= 0) {
                    ++i;
                } else if (errno == ECONNREFUSED) {
                    ++refused;  // as below: sent and lost, not sent again
                    ++i;
                } else if (errno == EINTR || errno == EAGAIN || errno == ENOBUFS) {
                    ++retries;
                } else {
                    std::perror("udp_flood: sendto");
                    return 1;
                }
            }
            sent += n;
            continue;
        }
        const uint64_t messages = (n + segments - 1) / segments;
        for (uint64_t m = 0; m < messages; ++m) {
            const uint64_t in = std::min(segments, n - m * segments);
            iov[m] = iovec{storage.data() + m * segments * datagramBytes, in * datagramBytes};
            headers[m] = mmsghdr{};
            headers[m].msg_hdr.msg_iov = &iov[m];
            headers[m].msg_hdr.msg_iovlen = 1;
        }
        uint64_t done = 0;
        while (done < messages) {
            const int r = sendmmsg(fd, headers.data() + done, unsigned(messages - done), 0);
            if (r > 0) {
                done += uint64_t(r);
                continue;
            }
            if (errno == ECONNREFUSED) {
                // An ICMP error from an earlier datagram (nobody bound yet):
                // the message in hand was not sent; count it as sent and lost
                // rather than resending, so the schedule stays intact.
                refused += iov[done].iov_len / datagramBytes;
                ++done;
                continue;
            }
            if (errno == EINTR || errno == EAGAIN || errno == ENOBUFS) {
                ++retries;
                continue;
            }
            std::perror("udp_flood: sendmmsg");
            return 1;
        }
        sent += n;
    }
    const uint64_t elapsed = bench::NowNs() - start;
    close(fd);
    const double seconds = double(elapsed) / 1e9;
    std::printf("sent=%llu elapsed_s=%.3f rate=%.0f target=%llu batch=%llu gso=%llu plain=%d refused=%llu retries=%llu late_bursts=%llu\n",
                (unsigned long long)sent, seconds, seconds > 0 ? double(sent) / seconds : 0.0,
                (unsigned long long)rate, (unsigned long long)batch, (unsigned long long)segments, int(plain), (unsigned long long)refused,
                (unsigned long long)retries, (unsigned long long)late);
    return 0;
}

// Reduces a file to bytes in which "seq=" and digits can be found: UTF-16LE
// units outside ASCII become '?', which no sequence number contains.
std::string ReadAsAscii(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = bool(in);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t begin = 0;
    bool utf16 = false;
    if (raw.size() >= 2 && uint8_t(raw[0]) == 0xFF && uint8_t(raw[1]) == 0xFE) utf16 = true, begin = 2;
    else if (raw.size() >= 2 && raw[0] != '\0' && raw[1] == '\0') utf16 = true;
    if (!utf16) return raw;
    std::string text;
    text.reserve(raw.size() / 2);
    for (size_t i = begin; i + 1 < raw.size(); i += 2) {
        const unsigned unit = uint8_t(raw[i]) | (unsigned(uint8_t(raw[i + 1])) << 8);
        text.push_back(unit < 0x80 ? char(unit) : '?');
    }
    return text;
}

int Verify(int argc, char** argv) {
    uint64_t expect = 0, first = 0, show = 5;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--expect" && i + 1 < argc) expect = ParseNumber(argv[++i], "expect");
        else if (a == "--first" && i + 1 < argc) first = ParseNumber(argv[++i], "first");
        else if (a == "--show" && i + 1 < argc) show = ParseNumber(argv[++i], "show");
        else if (a.starts_with("--")) Usage();
        else files.emplace_back(a);
    }
    if (expect == 0) Usage();

    // One byte per expected datagram: enough to tell once from more than once.
    std::vector<uint8_t> seen(expect, 0);
    uint64_t received = 0, outside = 0, unreadable = 0;
    for (const std::string& path : files) {
        bool ok = false;
        const std::string text = ReadAsAscii(path, ok);
        if (!ok) {
            ++unreadable;
            std::fprintf(stderr, "udp_flood: cannot read %s\n", path.c_str());
            continue;
        }
        for (size_t at = text.find("seq="); at != std::string::npos; at = text.find("seq=", at + 4)) {
            if (at + 4 + bench::kSeqDigits > text.size()) break;
            uint64_t seq = 0;
            bool digits = true;
            for (unsigned d = 0; d < bench::kSeqDigits; ++d) {
                const char c = text[at + 4 + d];
                if (c < '0' || c > '9') {
                    digits = false;
                    break;
                }
                seq = seq * 10 + uint64_t(c - '0');
            }
            if (!digits) continue;
            ++received;
            if (seq < first || seq - first >= expect) {
                ++outside;
                continue;
            }
            uint8_t& s = seen[seq - first];
            if (s < 255) ++s;
        }
    }

    uint64_t unique = 0, duplicates = 0;
    for (uint8_t s : seen) {
        if (s) ++unique;
        if (s > 1) duplicates += s - 1u;
    }
    const uint64_t missing = expect - unique;
    std::printf("expected=%llu received=%llu unique=%llu missing=%llu duplicates=%llu out_of_range=%llu loss_pct=%.4f lossless=%s\n",
                (unsigned long long)expect, (unsigned long long)received, (unsigned long long)unique,
                (unsigned long long)missing, (unsigned long long)duplicates, (unsigned long long)outside,
                100.0 * double(missing) / double(expect), missing == 0 && unreadable == 0 ? "yes" : "no");

    // Where the gaps are tells a late start or an early stop from a receiver
    // that falls behind; the first few ranges are enough for that.
    if (missing && show) {
        std::string ranges;
        uint64_t listed = 0, i = 0;
        while (i < expect && listed < show) {
            if (seen[i]) {
                ++i;
                continue;
            }
            uint64_t j = i;
            while (j + 1 < expect && !seen[j + 1]) ++j;
            if (!ranges.empty()) ranges += ',';
            ranges += std::to_string(first + i);
            if (j > i) {
                ranges += '-';
                ranges += std::to_string(first + j);
            }
            ++listed;
            i = j + 1;
        }
        const bool more = std::find(seen.begin() + std::ptrdiff_t(std::min(i, expect)), seen.end(), 0) != seen.end();
        std::printf("missing_ranges=%s%s\n", ranges.c_str(), more ? ",..." : "");
    }
    return unreadable ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Usage();
    const std::string_view mode = argv[1];
    if (mode == "send") return Send(argc - 2, argv + 2);
    if (mode == "verify") return Verify(argc - 2, argv + 2);
    Usage();
}
