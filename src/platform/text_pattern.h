#pragma once
// Finding a pattern in a UTF-8 text: a plain text, or a regular expression
// (Perl syntax), with or without regard to case. The only place the program
// calls PCRE2. Case is folded for every script, not only for ASCII, so a
// Cyrillic message is found whatever its case. A text that is not valid
// UTF-8 is searched all the same (its bad bytes match nothing).
//
// A compiled pattern is immutable and may be used by several threads at
// once. A match that would backtrack without end (a pathological expression
// on a long text) gives up and counts as no match, so a user's expression
// cannot hang the caller.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qm::platform {

class TextPattern {
public:
    // Plain text, or a regular expression when `regex`; nothing and the
    // reason in words (PCRE2's, with the offset) when an expression does
    // not compile. An empty pattern is found in every text.
    static std::optional<TextPattern> Compile(std::string_view pattern, bool regex, bool matchCase,
                                              std::string* error = nullptr);

    ~TextPattern();
    TextPattern(TextPattern&&) noexcept;
    TextPattern& operator=(TextPattern&&) noexcept;
    TextPattern(const TextPattern&) = delete;
    TextPattern& operator=(const TextPattern&) = delete;

    // True when the pattern occurs anywhere in `text`.
    bool FoundIn(std::string_view text) const;

private:
    struct Compiled;
    TextPattern() = default;

    // Plain text with case: a byte search, no PCRE2 at all.
    std::string literal_;
    std::unique_ptr<Compiled> compiled_;
};

}  // namespace qm::platform
