#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/core_context.h"
#include "processing/processing_test_support.h"
#include "processing/rules/rules_module.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

// Writes its argument count, then each argument as "<bytes>:<text>\n", into
// args-<first argument>, renamed into place once complete.
constexpr const char* kRecorder = R"sh(#!/bin/sh
out="$(dirname "$0")/args-$1"
tmp="$(mktemp "$out.XXXXXX")"
{
  printf '%s\n' "$#"
  for a in "$@"; do printf '%s:%s\n' "$(printf '%s' "$a" | wc -c | tr -d ' ')" "$a"; done
} > "$tmp"
mv "$tmp" "$out"
)sh";

class RulesProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir_.path() / "record.sh") << kRecorder;
        ASSERT_EQ(::chmod((dir_.path() / "record.sh").c_str(), 0700), 0);
        for (uint64_t uid : {1, 2}) {
            Rule r;
            r.enable = 1;
            r.uid = uid;
            r.inCond1 = kCondSender;
            r.strInCond1 = "*";
            r.param = kStartProgram | kNoWindow | kContinue;
            r.startCmd = (dir_.path() / "record.sh").string();
            ASSERT_TRUE(rules_.AddRule(r));
        }
    }

    unsigned Run(uint64_t sequence, std::string sender, std::string message, uint32_t type = core::kEventExternal,
                 std::vector<uint64_t> selection = {1}) {
        core::EventRecord e = test::Event(std::move(sender), std::move(message), 3, type);
        e.sequence = sequence;
        return rules_.Apply(e, selection).programsStarted;
    }

    // The arguments after the program path, as the program received them.
    std::vector<std::string> Recorded(uint64_t sequence) {
        const fs::path file = dir_.path() / ("args-" + std::to_string(sequence));
        test::WaitUntil([&] { return fs::exists(file); }, 10s);
        const std::string text = test::ReadWholeFile(file);
        std::vector<std::string> args;
        size_t at = text.find('\n') + 1;
        while (at < text.size()) {
            const size_t colon = text.find(':', at);
            const size_t length = std::stoul(text.substr(at, colon - at));
            args.push_back(text.substr(colon + 1, length));
            at = colon + 2 + length;
        }
        EXPECT_EQ(text.substr(0, text.find('\n')), std::to_string(args.size()));
        return args;
    }

    qm::testing::TempDir dir_{"qm-rules-run"};
    core::CoreContext core_;
    RulesModule rules_{core_};
};

TEST_F(RulesProgramTest, EveryTextArrivesAsOneArgumentByteForByte) {
    const std::string pwned = (dir_.path() / "pwned").string();
    const std::string sender = "10.0.0.1\" \"--evil $(touch " + pwned + ")";
    const std::string messages[] = {
        R"(it's "quoted" and 'single' \"escaped\")",
        "$(touch " + pwned + ") `touch " + pwned + "` ${HOME}",
        "a; touch " + pwned + "; b && c | d > " + pwned + " &",
        "  spaces   and\ttabs  ",
        "line one\nline two\r\n",
        "",
        "Сбой питания 𝄞",
    };
    for (uint64_t i = 0; i < std::size(messages); ++i) {
        EXPECT_EQ(Run(100 + i, sender, messages[i]), 1u);
        EXPECT_EQ(Recorded(100 + i), (std::vector<std::string>{std::to_string(100 + i), "3", sender, messages[i]}));
    }
    EXPECT_EQ(Run(200, "h", "before\0after"s, core::kEventInternal, {1, 2}), 2u);  // one per matching rule
    EXPECT_EQ(Recorded(200), (std::vector<std::string>{"200", "3", "h", "before after"}));
    EXPECT_FALSE(fs::exists(pwned));

    Rule missing = *rules_.FindRule(1);
    missing.startCmd = (dir_.path() / "no-such-program").string();
    ASSERT_TRUE(rules_.ReplaceRule(0, missing));
    EXPECT_EQ(Run(300, "h", "m"), 0u);  // passed over silently
}

}  // namespace
}  // namespace qm::processing
