#include "script/expression_evaluator.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>

namespace qm::script {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsNumberChar(char c) { return c == '.' || (c >= '0' && c <= '9'); }
bool IsSign(char c) { return c == '+' || c == '-'; }

// A power of a negative base to a fractional exponent has no real value and
// slips past both bounds as NaN; it is reported with the out-of-range code so
// that no "nan" ever reaches an event text or a later sum.
int Bound(double& v) {
    if (std::isnan(v)) return kMathOverflow;
    const double magnitude = std::fabs(v);
    if (magnitude > kMathOverflowBound) return kMathOverflow;
    if (magnitude < kMathFlushBound) v = 0.0;  // also turns -0 into 0
    return kMathOk;
}

// One run of "*", "/" and "^" between two "+"/"-" splits.
class Product {
public:
    bool NumberEmpty() const { return length_ == 0; }

    void AddNumberChar(char c) {
        if (length_ < kMathNumberChars) digits_[length_++] = c;
    }

    void Negate() { sign_ = -sign_; }

    // An operator after a number: the chain so far becomes the left operand.
    int Chain(char op) {
        double part = 0;
        if (const int code = Close(part)) return code;
        accumulator_ = part;
        pending_ = op;
        sign_ = 1;
        length_ = 0;
        return kMathOk;
    }

    // The value of the chain, the number being read taken as its last
    // operand. A missing last operand is neutral: "5*" is 5, "" is 0.
    int Close(double& part) {
        if (NumberEmpty()) AddNumberChar(pending_ ? '1' : '0');
        double v = 0;
        if (const int code = TakeNumber(v)) return code;
        switch (pending_) {
            case '*': part = accumulator_ * v; break;
            case '/':
                if (v == 0) return kMathDivZero;
                part = accumulator_ / v;
                break;
            case '^': part = std::pow(accumulator_, v); break;
            default: part = v; break;
        }
        return Bound(part);
    }

private:
    // The longest leading decimal in the text ("1.2.3" gives 1.2, "." gives
    // 0); never the user's locale, which may want a comma.
    int TakeNumber(double& v) const {
        double magnitude = 0;
        if (std::from_chars(digits_.data(), digits_.data() + length_, magnitude, std::chars_format::fixed).ec !=
            std::errc())
            magnitude = 0;
        v = sign_ * magnitude;
        return Bound(v);
    }

    std::array<char, kMathNumberChars> digits_{};
    size_t length_ = 0;
    double sign_ = 1;
    double accumulator_ = 0;
    char pending_ = 0;
};

// Reads one term from `pos`: up to the next "+" or "-" that follows a number
// (left at `pos`, where the next term starts with it as its sign) or to the
// end of `text`.
int ReadTerm(std::string_view text, size_t& pos, double& value) {
    Product product;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (IsBlank(c)) continue;  // also inside a number: "1 2" is 12
        if (IsNumberChar(c)) {
            product.AddNumberChar(c);
        } else if (IsSign(c)) {
            if (!product.NumberEmpty()) break;
            if (c == '-') product.Negate();
        } else if (c == '*' || c == '/' || c == '^') {
            if (product.NumberEmpty()) return kMathSyntax;
            if (const int code = product.Chain(c)) return code;
        } else {
            return kMathSyntax;
        }
    }
    return product.Close(value);
}

int Fail(double& result, int code) {
    result = 0;
    return code;
}

}  // namespace

// Each split adds its left term to the value of everything after it, so the
// sums run from the right, each one checked against the bounds, and an error
// in a term wins over an overflow of a sum. The first pass checks the terms
// in text order; the second sums them from the right, finding the splits
// backwards: a sign is a split exactly when the last non-blank before it is a
// number character. Two passes instead of a list of terms keep the memory
// fixed for any text a device sends.
int Evaluate(std::string_view text, double& result) {
    result = 0;
    size_t terms = 0;
    double value = 0;
    for (size_t pos = 0; terms == 0 || pos < text.size(); ++terms)
        if (const int code = ReadTerm(text, pos, value)) return Fail(result, code);
    if (terms == 1) {
        result = value;
        return kMathOk;
    }
    double sum = 0;
    size_t end = text.size();
    size_t right = text.size();  // the nearest non-blank after i
    for (size_t i = text.size(); i-- > 0;) {
        if (IsBlank(text[i])) continue;
        if (IsNumberChar(text[i]) && right < end && IsSign(text[right])) {
            size_t pos = right;
            if (const int code = ReadTerm(text.substr(0, end), pos, value)) return Fail(result, code);
            sum = value + sum;
            if (const int code = Bound(sum)) return Fail(result, code);
            end = right;
        }
        right = i;
    }
    size_t pos = 0;
    if (const int code = ReadTerm(text.substr(0, end), pos, value)) return Fail(result, code);
    sum = value + sum;
    if (const int code = Bound(sum)) return Fail(result, code);
    result = sum;
    return kMathOk;
}

void AppendMathResult(std::string& out, double value, int code) {
    switch (code) {
        case kMathOk: {
            // Values are bounded by 1e14, so 15 digits, a point and two decimals.
            std::array<char, 40> buf;
            const auto printed = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 2);
            out.append(buf.data(), printed.ptr);
            break;
        }
        case kMathDivZero: out += "MATH_ERROR_DIVZERO"; break;
        case kMathOverflow: out += "MATH_ERROR_OVERFLOW"; break;
        default: out += "MATH_ERROR_SYNTAX"; break;
    }
}

std::string Expand(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        const size_t open = text.find('{', pos);
        const size_t close = text.find('}', pos);
        if (open == std::string_view::npos || close == std::string_view::npos || close < open) break;
        out.append(text.substr(pos, open - pos));
        double value = 0;
        const int code = Evaluate(text.substr(open + 1, close - open - 1), value);
        AppendMathResult(out, value, code);
        pos = close + 1;
    }
    out.append(text.substr(pos));
    return out;
}

}  // namespace qm::script
