#pragma once
// What a module's script words mean, as data: which words edit which field
// by which rule, which names the echo prints in which form, and what the call
// words do. One engine (ModuleCommands) runs every module's table.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/statement_lexer.h"

namespace qm::script {

// The key that stands for a record's deletion mark, which lives in its table
// slot rather than among its fields.
inline constexpr std::string_view kDeleteMark = "Delete";

enum class RuleKind : uint8_t {
    Flag,      // 1 when n >= 1, else 0
    Bit,       // the bit set when n >= 1, else cleared
    Range,     // n when low <= n <= high, else the fallback
    Signed32,  // the low 32 bits of n, signed
    Text,      // the value, cut to `length` characters
    Refused,   // "Deprecated method", nothing changes
    Reset,     // the listed fields take the listed values
    ListRef,     // the UID of the first list named by the value, or 0
    ListUid,     // n when n >= 1 and no other list has it (else refused), otherwise 0:
                 // the module gives a fresh UID as it takes the list
    Correction,  // 1/10 -> 64, 2/100 -> 32, 3/1000 -> 16, -1 -> 8, -2 -> 4, else 0
    Push,        // list mode: a zero entry with the value as its tag, unless one has it
    Pop,         // list mode: every entry with the value as its tag goes
    Choice,      // the number of the value's name in `choices` (or the number itself,
                 // when one of them); anything else is refused
};

struct WordRule {
    RuleKind kind = RuleKind::Refused;
    std::string key;  // the field (or kDeleteMark)
    int64_t low = 0;
    int64_t high = 0;
    int64_t fallback = 0;  // Range; Bit: the bit
    size_t length = 0;     // Text, in UTF-16 units
    std::vector<std::pair<std::string, std::string>> reset;  // key, value as text
    std::vector<std::pair<std::string, int64_t>> choices;    // Choice: name, value
    // List mode: the word changes the entry the statement's pipe text names
    // (taken, or appended when there is none) instead of the list itself.
    bool entry = false;
};

struct WordRow {
    std::vector<std::string> aliases;
    WordRule rule;
};

inline WordRule MakeRule(RuleKind kind, std::string key = {}) {
    WordRule r;
    r.kind = kind;
    r.key = std::move(key);
    return r;
}
inline WordRule Flag(std::string key) { return MakeRule(RuleKind::Flag, std::move(key)); }
inline WordRule Bit(std::string key, int64_t bit) {
    WordRule r = MakeRule(RuleKind::Bit, std::move(key));
    r.fallback = bit;
    return r;
}
inline WordRule Range(std::string key, int64_t low, int64_t high, int64_t fallback) {
    WordRule r = MakeRule(RuleKind::Range, std::move(key));
    r.low = low;
    r.high = high;
    r.fallback = fallback;
    return r;
}
inline WordRule Signed32(std::string key) { return MakeRule(RuleKind::Signed32, std::move(key)); }
inline WordRule Text(std::string key, size_t length) {
    WordRule r = MakeRule(RuleKind::Text, std::move(key));
    r.length = length;
    return r;
}
inline WordRule Refused() { return MakeRule(RuleKind::Refused); }
inline WordRule Choice(std::string key, std::vector<std::pair<std::string, int64_t>> choices) {
    WordRule r = MakeRule(RuleKind::Choice, std::move(key));
    r.choices = std::move(choices);
    return r;
}
inline WordRule ListRef(std::string key) { return MakeRule(RuleKind::ListRef, std::move(key)); }
inline WordRule ListUid(std::string key) { return MakeRule(RuleKind::ListUid, std::move(key)); }
inline WordRule Correction(std::string key) { return MakeRule(RuleKind::Correction, std::move(key)); }
inline WordRule Push() { return MakeRule(RuleKind::Push); }
inline WordRule Pop() { return MakeRule(RuleKind::Pop); }
// The same rule, applied to the entry the pipe text names.
inline WordRule Entry(WordRule rule) {
    rule.entry = true;
    return rule;
}
inline WordRule Reset(std::vector<std::pair<std::string, std::string>> values) {
    WordRule r = MakeRule(RuleKind::Reset);
    r.reset = std::move(values);
    return r;
}

// How the echo prints a value: "%d", "%u", "%X", "%s", "%I64d".
enum class PrintForm : uint8_t { Signed, Unsigned, Hex, Text, Signed64 };

struct PrintedName {
    std::string name;  // as printed
    std::string key;   // the field (or kDeleteMark)
    PrintForm form;
};

enum class CallAction : uint8_t { None, Start, Stop, Save, Refresh };

struct CallRow {
    std::vector<std::string> aliases;
    CallAction action;
};

struct ModuleWords {
    std::string module;  // section name, as in the reply lines
    std::vector<WordRow> item;
    std::vector<WordRow> common;
    std::vector<CallRow> call;
    std::vector<PrintedName> printedCommon;
    std::vector<PrintedName> printedItem;
    std::string nameKey = "StrName";  // the field "_MODIFY_=name" looks for
    // The item word (a Choice) whose names may follow the module's name to
    // tell items of one name apart: "#set:mod_collector.tcp=0.0.0.0{...}"
    // edits the TCP listener on 0.0.0.0 (or adds one), leaving a UDP one on
    // the same address alone. Empty: none.
    std::string kindWord;
    // Modules with lists of entries: the list words, what the echo prints of
    // a list and of an entry, and the fields that name them.
    std::vector<WordRow> list;
    std::vector<PrintedName> printedList;
    std::vector<PrintedName> printedEntry;
    std::string listUidKey = "UID";
    std::string entryTagKey = "Tag";
    // "_MODIFY_" with a name no item has opens a new item (instead of
    // replying "Deprecated method"), with these values besides its name.
    bool createsItems = true;
    std::vector<std::pair<std::string, std::string>> newItem;
    // An unknown call word is answered with a FAIL line (otherwise silently).
    bool reportsUnknownCall = false;
};

// The value a Choice rule gives `text`: one of its names, or the number of
// one; nothing for anything else.
std::optional<int64_t> ChoiceValue(const WordRule& rule, std::string_view text);

// The row whose alias equals `word` (without regard to case), or -1.
template <typename Row>
int Lookup(const std::vector<Row>& rows, std::string_view word) {
    for (size_t i = 0; i < rows.size(); ++i)
        for (const std::string& alias : rows[i].aliases)
            if (SameWord(alias, word)) return int(i);
    return -1;
}

// The tables of every module that has script words, by section name; null
// for a module without them.
const ModuleWords* WordsFor(std::string_view module);

}  // namespace qm::script
