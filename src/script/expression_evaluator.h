#pragma once
// The brace calculator of the pollers' output formats: "{[rx]/1024}" becomes
// "12.50" once the poller has put its readings into the placeholders.
//
// A deliberately small calculator on doubles: "*", "/" and "^" share one
// level and apply strictly left to right (2*3^2 is 36), "+" and "-" bind more
// loosely and their terms are summed from the right (a+b+c is a+(b+c)), a
// sign belongs to the number after it (-2^2 is 4). No parentheses, names or
// functions. Numbers are read and printed the same
// under every locale: "." is the only point, and the output is "%.2f" as the
// "C" locale prints it.
//
// The text may come from a device (an SNMP string, a Laurent reply), so both
// functions walk it in loops with no recursion, and Evaluate works in a fixed
// amount of memory however long the text is. Stateless, so safe on any
// thread.
#include <string>
#include <string_view>

namespace qm::script {

// Evaluate's codes; the value is 0 whenever the code is not kMathOk.
inline constexpr int kMathOk = 0;
inline constexpr int kMathDivZero = -1;
inline constexpr int kMathOverflow = -2;  // beyond 1e14, or a power with no real value
inline constexpr int kMathSyntax = -3;

// Any magnitude above this is an overflow (exactly 1e14 is allowed); any
// magnitude below the flush bound becomes 0.
inline constexpr double kMathOverflowBound = 1e14;
inline constexpr double kMathFlushBound = 1e-14;
// A number keeps its first 31 digits and points; the rest are dropped.
inline constexpr size_t kMathNumberChars = 31;

// One expression, without its braces. On success the value is finite and
// within the bounds above; on an error it is 0. Every byte that is not a
// digit, ".", a blank or an operator is a syntax error, a NUL byte included.
int Evaluate(std::string_view text, double& result);

// What Expand writes for a result: the value with two decimals, or
// "MATH_ERROR_DIVZERO", "MATH_ERROR_OVERFLOW", "MATH_ERROR_SYNTAX".
void AppendMathResult(std::string& out, double value, int code);

// Every "{expression}" replaced, braces included, by its result. The braces
// pair up as the first "{" with the first "}" after it, so "{1+{2}}" is one
// (bad) expression "1+{2" followed by a plain "}". Once the next "}" comes
// before the next "{", or either is missing, the rest of the text is kept
// as it is ("a}{1+1}" stays as written). Every other byte, UTF-8 included,
// passes through unchanged.
std::string Expand(std::string_view text);

}  // namespace qm::script
