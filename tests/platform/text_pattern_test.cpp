// Finding plain texts and regular expressions in UTF-8: case folded for
// every script, bad bytes in the text, and an expression that would
// backtrack without end.
#include "platform/text_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace qm::platform {
namespace {

bool Found(std::string_view pattern, bool regex, bool matchCase, std::string_view text) {
    std::optional<TextPattern> p = TextPattern::Compile(pattern, regex, matchCase);
    EXPECT_TRUE(p) << pattern;
    return p && p->FoundIn(text);
}

TEST(TextPattern, PlainTextsAndExpressionsWithAndWithoutCaseInEveryScript) {
    // Plain text: special characters are themselves.
    EXPECT_TRUE(Found("a.c (1)", false, true, "x a.c (1) y"));
    EXPECT_FALSE(Found("a.c", false, true, "abc"));
    EXPECT_FALSE(Found("Link", false, true, "link down"));
    EXPECT_TRUE(Found("LINK", false, false, "link down"));
    EXPECT_TRUE(Found("a.c", false, false, "A.C"));
    EXPECT_FALSE(Found("a.c", false, false, "abc"));
    // Cyrillic case folds like Latin ("ОШИБКА" in "ошибка диска").
    EXPECT_TRUE(Found("\xD0\x9E\xD0\xA8\xD0\x98\xD0\x91\xD0\x9A\xD0\x90", false, false,
                      "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 \xD0\xB4\xD0\xB8\xD1\x81\xD0\xBA\xD0\xB0"));
    EXPECT_FALSE(Found("\xD0\x9E\xD0\xA8\xD0\x98\xD0\x91\xD0\x9A\xD0\x90", false, true,
                       "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0"));
    // Expressions; \w knows Cyrillic letters.
    EXPECT_TRUE(Found("port \\d+ (up|down)$", true, true, "port 12 down"));
    EXPECT_FALSE(Found("port \\d+ (up|down)$", true, true, "port 12 down!"));
    EXPECT_TRUE(Found("^PORT", true, false, "port 1"));
    EXPECT_TRUE(Found("^\\w+$", true, true, "\xD0\xB4\xD0\xB8\xD1\x81\xD0\xBA"));
    // Empty patterns are in every text, the empty one too.
    EXPECT_TRUE(Found("", false, true, ""));
    EXPECT_TRUE(Found("", true, false, "x"));

    std::string error;
    EXPECT_FALSE(TextPattern::Compile("(unclosed", true, false, &error));
    EXPECT_NE(error.find("missing closing parenthesis"), std::string::npos) << error;
    EXPECT_TRUE(TextPattern::Compile("(unclosed", false, false)) << "plain text is never refused";
}

TEST(TextPattern, BadBytesAndRunawayBacktrackingAreNoMatchNotAFailure) {
    // A lone continuation byte and a truncated sequence around good text.
    const std::string bad = "\x80 disk \xD0 full \xFF";
    EXPECT_TRUE(Found("DISK", false, false, bad));
    EXPECT_TRUE(Found("full", true, false, bad));
    EXPECT_FALSE(Found("fool", true, false, bad));

    // Nested repetition on a long text that almost matches: without a limit
    // this takes longer than the age of the machine. It ends, as no match,
    // and the same pattern still finds what it can find.
    const std::optional<TextPattern> runaway = TextPattern::Compile("^(a+)+$", true, true);
    ASSERT_TRUE(runaway);
    EXPECT_FALSE(runaway->FoundIn(std::string(5000, 'a') + "b"));
    EXPECT_TRUE(runaway->FoundIn(std::string(5000, 'a')));

    // One compiled pattern, several threads at once.
    const std::optional<TextPattern> shared = TextPattern::Compile("n(o|e)de \\d{3}", true, false);
    ASSERT_TRUE(shared);
    std::vector<std::thread> threads;
    std::vector<int> hits(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) hits[t] += shared->FoundIn(i % 2 ? "NODE 123" : "node 12") ? 1 : 0;
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(hits, (std::vector<int>{1000, 1000, 1000, 1000}));
}

}  // namespace
}  // namespace qm::platform
