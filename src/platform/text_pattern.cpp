#include "platform/text_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace qm::platform {

namespace {

// Steps one search may take: far beyond what a sane expression needs on a
// message of 64 KB, and still a bounded time for one that backtracks wildly.
constexpr uint32_t kMatchLimit = 2'000'000;
constexpr uint32_t kDepthLimit = 10'000;

struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

// One per thread: a pattern is shared, the place of its last match is not.
pcre2_match_data* ThreadMatchData() {
    thread_local std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(pcre2_match_data_create(1, nullptr));
    return data.get();
}

}  // namespace

struct TextPattern::Compiled {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    ~Compiled() {
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }
};

std::optional<TextPattern> TextPattern::Compile(std::string_view pattern, bool regex, bool matchCase,
                                                std::string* error) {
    TextPattern p;
    if (!regex && matchCase) {
        p.literal_ = std::string(pattern);
        return p;
    }
    // Valid UTF-8 is the rule for the program's texts, but a message is the
    // sender's bytes: bad sequences are skipped instead of failing the search.
    uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    if (!matchCase) options |= PCRE2_CASELESS;
    // \w, \d and \b know the letters of every script, as the user reads them.
    options |= regex ? PCRE2_UCP : PCRE2_LITERAL;
    int code = 0;
    PCRE2_SIZE offset = 0;
    auto compiled = std::make_unique<Compiled>();
    compiled->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &code,
                                   &offset, nullptr);
    if (compiled->code == nullptr) {
        if (error) {
            PCRE2_UCHAR message[256];
            const int length = pcre2_get_error_message(code, message, sizeof message);
            *error = std::string(reinterpret_cast<const char*>(message), length > 0 ? size_t(length) : 0) + " (" +
                     std::to_string(offset) + ")";
        }
        return std::nullopt;
    }
    // Where the machine has no JIT the interpreter runs the same pattern.
    pcre2_jit_compile(compiled->code, PCRE2_JIT_COMPLETE);
    compiled->context = pcre2_match_context_create(nullptr);
    if (compiled->context) {
        pcre2_set_match_limit(compiled->context, kMatchLimit);
        pcre2_set_depth_limit(compiled->context, kDepthLimit);
    }
    p.compiled_ = std::move(compiled);
    return p;
}

TextPattern::~TextPattern() = default;
TextPattern::TextPattern(TextPattern&&) noexcept = default;
TextPattern& TextPattern::operator=(TextPattern&&) noexcept = default;

bool TextPattern::FoundIn(std::string_view text) const {
    if (!compiled_) return text.find(literal_) != std::string_view::npos;
    pcre2_match_data* data = ThreadMatchData();
    if (data == nullptr) return false;
    // A pointer into an empty view may be null, which PCRE2 refuses even with no bytes.
    const char* bytes = text.empty() ? "" : text.data();
    // Errors (the match limit, memory) are no match: the text is not shown
    // as matching what was never found in it.
    return pcre2_match(compiled_->code, reinterpret_cast<PCRE2_SPTR>(bytes), text.size(), 0, 0, data,
                       compiled_->context) >= 0;
}

}  // namespace qm::platform
