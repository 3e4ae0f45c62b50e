#include "script/expression_evaluator.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

using qm::script::Evaluate;
using qm::script::Expand;

namespace {

struct Row {
    const char* text;
    const char* expanded;
};

// Output formats as a poller hands them over, after the placeholders were
// filled, with the text each must become.
constexpr Row kRows[] = {
    // Precedence: "+"/"-" split, "*", "/", "^" strictly left to right.
    {"{2+3*4}", "14.00"}, {"{10/4}", "2.50"}, {"{}", "0.00"}, {"{2*3^2}", "36.00"}, {"{2^3^2}", "64.00"},
    {"{8/2/2}", "2.00"}, {"{10-2-3}", "5.00"}, {"{ 1 2 + 3\t}", "15.00"},
    // Signs belong to the number after them.
    {"{-2^2}", "4.00"}, {"{--5}", "5.00"}, {"{2*-3}", "-6.00"}, {"{1-+-2}", "3.00"}, {"{-}", "0.00"},
    {"{5*-}", "-5.00"},
    // A missing last operand.
    {"{5+}", "5.00"}, {"{5*}", "5.00"}, {"{5/}", "5.00"}, {"{5^}", "5.00"},
    // Number conversion: the longest leading decimal of at most 31 characters.
    {"{1.2.3}", "1.20"}, {"{.}", "0.00"}, {"{.5}", "0.50"}, {"{5.}", "5.00"}, {"{..5}", "0.00"},
    {"{00000000000000000000000000000005}", "0.00"},  // the 5 is the 32nd
    {"{0000000000000000000000000000005}", "5.00"},
    {"{0000000000 0000000000 0000000000 5}", "5.00"},  // blanks do not count
    // Bounds on numbers, partial results and sums; tiny values become 0.
    {"{0.000000000000001}", "0.00"}, {"{100000000000000}", "100000000000000.00"},
    {"{-100000000000000}", "-100000000000000.00"}, {"{100000000000001}", "MATH_ERROR_OVERFLOW"},
    {"{99999999*99999999}", "MATH_ERROR_OVERFLOW"}, {"{10000000*10000000/10}", "10000000000000.00"},
    {"{10000000*10000001/10}", "MATH_ERROR_OVERFLOW"}, {"{0.00000001*0.0000001*100000000000000}", "0.00"},
    {"{100000000000000+1}", "MATH_ERROR_OVERFLOW"},
    {"{100000000000000+1-1}", "100000000000000.00"},  // the rest is summed first
    {"{10^14}", "100000000000000.00"}, {"{10^15}", "MATH_ERROR_OVERFLOW"}, {"{0^-1}", "MATH_ERROR_OVERFLOW"},
    {"{-8^0.5}", "MATH_ERROR_OVERFLOW"},  // no real value
    // Division by zero, also by a number too small to keep.
    {"{1/0}", "MATH_ERROR_DIVZERO"}, {"{1/0+1}", "MATH_ERROR_DIVZERO"}, {"{0/0}", "MATH_ERROR_DIVZERO"},
    {"{1/0.000000000000001}", "MATH_ERROR_DIVZERO"},
    // Syntax; an error in a term wins over a sum out of range.
    {"{(1+2)}", "MATH_ERROR_SYNTAX"}, {"{*5}", "MATH_ERROR_SYNTAX"}, {"{1e5}", "MATH_ERROR_SYNTAX"},
    {"{1,5}", "MATH_ERROR_SYNTAX"}, {"{1**2}", "MATH_ERROR_SYNTAX"}, {"{1+*2}", "MATH_ERROR_SYNTAX"},
    {"{1\n}", "MATH_ERROR_SYNTAX"}, {"{°}", "MATH_ERROR_SYNTAX"}, {"{100000000000000+1+x}", "MATH_ERROR_SYNTAX"},
    {"{1/0+x}", "MATH_ERROR_DIVZERO"}, {"{1+x+1/0}", "MATH_ERROR_SYNTAX"},
    // "%.2f" as the C library prints it.
    {"{1/3}", "0.33"}, {"{2/3}", "0.67"}, {"{0.125}", "0.12"}, {"{0.375}", "0.38"}, {"{2.675}", "2.67"},
    {"{-0.001}", "-0.00"}, {"{100000000000000/3}", "33333333333333.33"},
    // Braces: first "{" with the first "}" after it; the rest as written
    // once a "}" comes first or a brace is missing.
    {"a}{1+1}", "a}{1+1}"}, {"x={1+1}, y={2*2}", "x=2.00, y=4.00"}, {"{1}{2}", "1.002.00"},
    {"a{1}b}{2}c", "a1.00b}{2}c"}, {"{1+{2}}", "MATH_ERROR_SYNTAX}"}, {"{1}}", "1.00}"}, {"{1", "{1"},
    {"no braces", "no braces"}, {"", ""}, {"Температура {[t]}", "Температура MATH_ERROR_SYNTAX"},
    {"Температура {215/10} °C", "Температура 21.50 °C"},
};

void ExpectAllRows() {
    for (const Row& row : kRows) EXPECT_EQ(Expand(row.text), row.expanded) << "from " << row.text;
}

}  // namespace

TEST(ExpressionEvaluator, EveryFormatBecomesItsExpectedText) { ExpectAllRows(); }

TEST(ExpressionEvaluator, ValueIsZeroOnEveryErrorAndCodesNameTheError) {
    const std::pair<std::string_view, int> errors[] = {{"1/0", qm::script::kMathDivZero},
        {"1+99999999999999*99", qm::script::kMathOverflow}, {"2+a", qm::script::kMathSyntax},
        {std::string_view("1\0", 2), qm::script::kMathSyntax}};
    for (const auto& [text, code] : errors) {
        double v = 7;
        EXPECT_EQ(Evaluate(text, v), code) << text;
        EXPECT_EQ(v, 0) << text;
    }
    // Summed from the right, as nested terms are: 0.1+0.2 first would give
    // 0.6000000000000001.
    double v = 0;
    EXPECT_EQ(Evaluate("0.1+0.2+0.3", v), qm::script::kMathOk);
    EXPECT_EQ(v, 0.6);
}

// Device text reaches the calculator: its length must not matter to the stack.
TEST(ExpressionEvaluator, HugeExpressionsAndDeepBracesNeitherCrashNorRecurse) {
    std::string sum = "{1", products = "{1", many, expected;
    for (int i = 1; i < 100000; ++i) {
        sum += i % 2 ? "+2" : "-1";
        products += "*1";
    }
    for (int i = 0; i < 10000; ++i) many += "{1}", expected += "1.00";
    EXPECT_EQ(Expand(sum + "}"), "50002.00");
    EXPECT_EQ(Expand(products + "}"), "1.00");
    EXPECT_EQ(Expand("{" + std::string(1000000, '-') + "3}"), "3.00");
    EXPECT_EQ(Expand(std::string(10000, '{') + "1" + std::string(10000, '}')), "MATH_ERROR_SYNTAX" + std::string(9999, '}'));
    EXPECT_EQ(Expand(many), expected);
}

// The user's locale may want a decimal comma; the formats are written and
// read by devices and scripts with a point, so nothing may change.
TEST(ExpressionEvaluator, ADecimalCommaLocaleChangesNothing) {
    qm::testing::TempDir dir("qm-locale");
    {
        qm::testing::ChildProcess localedef({"localedef", "-i", "de_DE", "-f", "UTF-8", (dir.path() / "de_DE.UTF-8").string()},
                                            dir.path() / "localedef.log");
        ASSERT_EQ(localedef.Exit(std::chrono::seconds(120)), 0) << "localedef (package locales) could not build de_DE.UTF-8";
    }
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    const bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    ::unsetenv("LOCPATH");
    ASSERT_TRUE(switched);
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.2f", 2.5);
    const std::string localePrinted = printed;
    ExpectAllRows();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(localePrinted, "2,50") << "the locale in force did not use a decimal comma";
}
