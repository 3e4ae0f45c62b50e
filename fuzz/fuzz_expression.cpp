// The brace calculator on any text a device may put into an output format:
// no crash, a finite value inside the bounds or an error with value 0, the
// same answers as a plain recursive reading of the rules (kept short here,
// where the fuzzer's inputs are small enough for its recursion), values
// printed as "%.2f" prints them, and text without "{" passed through
// untouched.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "script/expression_evaluator.h"

using namespace qm::script;

namespace {

int RefBound(double& v) {
    if (std::isnan(v) || std::fabs(v) > 1e14) return kMathOverflow;
    if (std::fabs(v) < 1e-14) v = 0;
    return kMathOk;
}

// Every "+" or "-" after a number splits the text and evaluates the rest anew.
int RefEvaluate(std::string_view text, double& result) {
    std::string number;
    double sign = 1, accumulator = 0;
    char pending = 0;
    result = 0;
    auto fail = [&](int code) {
        result = 0;
        return code;
    };
    auto take = [&](double& v) {
        v = sign * std::strtod(number.c_str(), nullptr);
        return RefBound(v);
    };
    auto apply = [&](double left, double v, double& part) {
        switch (pending) {
            case '*': part = left * v; break;
            case '/':
                if (v == 0) return kMathDivZero;
                part = left / v;
                break;
            case '^': part = std::pow(left, v); break;
            default: part = v;
        }
        return RefBound(part);
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        double v = 0, part = 0;
        if (c == ' ' || c == '\t') continue;
        if (c == '.' || (c >= '0' && c <= '9')) {
            if (number.size() < 31) number += c;
        } else if (c == '*' || c == '/' || c == '^') {
            if (number.empty()) return fail(kMathSyntax);
            if (int code = take(v)) return fail(code);
            if (int code = apply(accumulator, v, part)) return fail(code);
            result = accumulator = part;
            pending = c;
            sign = 1;
            number.clear();
        } else if (c == '+' || c == '-') {
            if (number.empty()) {
                if (c == '-') sign = -sign;
                continue;
            }
            double rest = 0;
            if (int code = take(v)) return fail(code);
            if (int code = apply(accumulator, v, part)) return fail(code);
            if (int code = RefEvaluate(text.substr(i), rest)) return fail(code);
            part += rest;
            if (int code = RefBound(part)) return fail(code);
            result = part;
            return kMathOk;
        } else {
            return fail(kMathSyntax);
        }
    }
    double v = 0, part = 0;
    if (number.empty()) number = pending ? "1" : "0";
    if (int code = take(v)) return fail(code);
    if (int code = apply(pending == '^' ? accumulator : result, v, part)) return fail(code);
    result = part;
    return kMathOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    double value = 1;
    const int code = Evaluate(text, value);
    QM_FUZZ_CHECK(code == kMathOk || code == kMathDivZero || code == kMathOverflow || code == kMathSyntax);
    QM_FUZZ_CHECK(std::isfinite(value));
    if (code == kMathOk) {
        QM_FUZZ_CHECK(std::fabs(value) <= kMathOverflowBound && (value == 0 || std::fabs(value) >= kMathFlushBound));
        // Printed as the C library prints "%.2f" in the "C" locale.
        std::string printed;
        AppendMathResult(printed, value, code);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.2f", value);
        QM_FUZZ_CHECK(printed == expected);
    } else {
        QM_FUZZ_CHECK(value == 0);
    }
    if (size <= 4096) {
        double expected = 1;
        QM_FUZZ_CHECK(RefEvaluate(text, expected) == code);
        QM_FUZZ_CHECK(std::memcmp(&expected, &value, sizeof value) == 0 || (expected == 0 && value == 0));
    }

    const std::string expanded = Expand(text);
    if (text.find('{') == std::string_view::npos) QM_FUZZ_CHECK(expanded == text);
    if (text.find('}') == std::string_view::npos) QM_FUZZ_CHECK(expanded == text);
    return 0;
}
