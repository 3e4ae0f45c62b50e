#pragma once
// What the ingest benchmark's senders share: the numbered syslog line every
// receiver gets (seq=%010u, so "udp_flood verify" can count them in any
// receiver's output), the absolute pacing clock, and the argument parser.
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

constexpr unsigned kSeqDigits = 10;
constexpr size_t kMinMessageBytes = 64;  // room for the head and the number

// Numbers with suffixes keep the scripts' command lines readable: 200k, 1.6M.
inline uint64_t ParseNumber(const char* program, const char* text, const char* what) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    double scale = 1;
    if (end && *end == 'k') scale = 1e3, ++end;
    else if (end && *end == 'M') scale = 1e6, ++end;
    if (errno || end == text || *end != '\0' || v < 0) {
        std::fprintf(stderr, "%s: bad %s: %s\n", program, what, text);
        std::exit(2);
    }
    return static_cast<uint64_t>(v * scale + 0.5);
}

inline uint64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000u + uint64_t(ts.tv_nsec);
}

inline void SleepUntilNs(uint64_t deadline) {
    timespec ts{};
    ts.tv_sec = time_t(deadline / 1'000'000'000u);
    ts.tv_nsec = long(deadline % 1'000'000'000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// Waits until message `sent` is due at `rate` per second from `start`. The
// schedule is absolute (message k at start + k/rate), so a late wake-up is
// made good by the next burst instead of lowering the rate for the rest of
// the run; a wake-up more than 1 ms late is counted in `late`.
inline void WaitForSchedule(uint64_t start, uint64_t sent, uint64_t rate, uint64_t& late) {
    if (rate == 0) return;
    const uint64_t due = start + uint64_t((long double)sent * 1e9L / (long double)rate);
    const uint64_t now = NowNs();
    if (due > now) SleepUntilNs(due);
    else if (now - due > 1'000'000) ++late;
}

// Every message has the same length, so the receivers' work per message
// does not drift with the sequence number. size >= kMinMessageBytes; no
// byte is a line end, so the line can be framed by LF as well.
inline void FormatMessage(char* out, size_t size, uint32_t seq) {
    static const char kHead[] = "<134>Dec  6 18:04:02 benchhost bench[1]: seq=";
    static const char kTail[] = " payload ";
    size_t n = sizeof kHead - 1;
    std::memcpy(out, kHead, n);
    char digits[kSeqDigits + 1];
    std::snprintf(digits, sizeof digits, "%010u", seq);
    std::memcpy(out + n, digits, kSeqDigits);
    n += kSeqDigits;
    std::memcpy(out + n, kTail, sizeof kTail - 1);
    n += sizeof kTail - 1;
    for (; n < size; ++n) out[n] = char('a' + (n % 26));
}

}  // namespace bench
