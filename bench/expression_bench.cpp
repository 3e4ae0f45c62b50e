// Brace calculator benchmark, on one thread: short expressions per second
// through Evaluate, and whole output formats per second through Expand, as a
// poller hands them over once its readings are in the placeholders. Plain
// main, one run, figures on stdout.
//
//   expression_bench [--seconds S]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "script/expression_evaluator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kShort[] = {
    "2+3*4", "1234567/1024", "-17.5*1.8+32", "98765*8/1000", "2^10-1", "100/3", "12.5+7.25-3", "1/0",
};

constexpr std::string_view kFormat =
    "eth0: in {1234567890/1048576} MB ({1234567*8/1000} kbit/s), out {987654321/1048576} MB, "
    "errors {12+3}, load {73/100*100} %";

// Runs `once` over and over for about `seconds`; returns calls per second.
template <typename F>
double Rate(double seconds, size_t perRound, F once) {
    size_t calls = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    Clock::time_point now;
    do {
        for (int i = 0; i < 1000; ++i) once();
        calls += 1000 * perRound;
        now = Clock::now();
    } while (now < until);
    return static_cast<double>(calls) / std::chrono::duration<double>(now - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);

    volatile double sink = 0;
    const double evaluations = Rate(seconds, std::size(kShort), [&] {
        for (std::string_view text : kShort) {
            double value = 0;
            sink = sink + qm::script::Evaluate(text, value) + value;
        }
    });
    std::printf("Evaluate, short expressions: %.2f M/s (target >= 1 M/s)\n", evaluations / 1e6);

    volatile size_t length = 0;
    const double expansions = Rate(seconds, 1, [&] { length = length + qm::script::Expand(kFormat).size(); });
    std::printf("Expand, a %zu-byte output format with 5 expressions: %.2f M/s (%s)\n", kFormat.size(),
                expansions / 1e6, qm::script::Expand(kFormat).c_str());
    return 0;
}
