#include "script/statement_lexer.h"

#include <algorithm>

namespace qm::script {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

enum class State { Idle, Keyword, Name, Path, Pipe, Value, Block };

// What ends a collection in each state.
bool Ends(State state, char c) {
    switch (state) {
        case State::Keyword:
            return c == ':' || c == ';' || c == '=' || c == '{' || c == '\r' || c == '\n' || c == '\t';
        case State::Name:
        case State::Path:
            return c == '.' || c == ';' || c == '=' || c == '{' || c == '|' || c == '\r' || c == '\n' || c == '\t';
        case State::Pipe: return c == ';' || c == '=' || c == '{' || c == '\r' || c == '\n' || c == '\t';
        case State::Value: return c == ';' || c == '{' || c == '\r' || c == '\n';
        default: return false;
    }
}

// Where a terminator leads after a non-empty collection.
State Next(State state, char c) {
    switch (c) {
        case ':': return state == State::Keyword ? State::Name : State::Idle;
        case '.': return state == State::Name || state == State::Path ? State::Path : State::Idle;
        case '|': return state == State::Name || state == State::Path ? State::Pipe : State::Idle;
        case '=': return state == State::Value ? State::Idle : State::Value;
        case '{': return State::Block;
        default: return State::Idle;
    }
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameWord(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::vector<Statement> ParseStatements(std::string_view text) {
    std::vector<Statement> statements;
    State state = State::Idle;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        if (state == State::Idle) {
            const char c = text[i++];
            if (c == '#') {
                state = State::Keyword;
            } else if (c == '/') {
                while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
            }
            continue;
        }
        if (state == State::Block) {
            // The block's text is everything up to the brace that closes the
            // one that opened it; a block never closed is not kept.
            const size_t start = i;
            int depth = 1;
            for (; i < n; ++i) {
                if (text[i] == '{') ++depth;
                if (text[i] == '}' && --depth == 0) break;
            }
            if (i < n) {
                statements.back().block = std::string(text.substr(start, i - start));
                ++i;
            }
            state = State::Idle;
            continue;
        }
        const size_t start = i;
        while (i < n && !Ends(state, text[i])) ++i;
        const std::string_view collected = text.substr(start, i - start);
        const bool atEnd = i >= n;
        const char terminator = atEnd ? '\0' : text[i++];
        if (collected.empty()) {
            // Nothing collected: the terminator is used up without leading
            // anywhere (so "={" opens no block and "#set:.x" no path).
            state = State::Idle;
            continue;
        }
        const std::string word(TrimBlanks(collected));
        switch (state) {
            case State::Keyword: statements.push_back(Statement{word, {}, {}, {}, {}, {}}); break;
            case State::Name: statements.back().name = word; break;
            case State::Path: statements.back().path.push_back(word); break;
            case State::Pipe: statements.back().pipe = word; break;
            case State::Value: statements.back().value = word; break;
            default: break;
        }
        state = atEnd ? State::Idle : Next(state, terminator);
    }
    return statements;
}

}  // namespace qm::script
