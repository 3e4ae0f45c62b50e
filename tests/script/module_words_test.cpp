// Every module's script words against that module's own field tables: a word
// whose field is misspelt or cannot hold what the word puts there would only
// show when a script used it, as an edit that silently does nothing.
#include <gtest/gtest.h>

#include "core/module_registry.h"
#include "core/record_sets.h"
#include "script/command_words.h"
#include "support/program_core.h"
#include "support/udp_peer.h"

namespace qm::script {
namespace {

using core::RecordCopy;
using core::RecordSet;

// What is wrong with `rule` on a record of `blank`'s type; empty when nothing.
std::string RuleFault(const WordRule& rule, const RecordCopy& blank) {
    RecordCopy record = blank;
    const auto takes = [&record](const std::string& key, const std::string& value) {
        return key == kDeleteMark ? value == "0" || value == "1" : record.Set(key, value);
    };
    const auto number = [&](const std::string& key, size_t size) {
        const core::FieldDef* f = record.Find(key);
        return f && f->encoding == core::FieldEncoding::Struct && f->size == size;
    };
    switch (rule.kind) {
        case RuleKind::Flag:
            return takes(rule.key, "0") && takes(rule.key, "1") ? "" : "no flag field";
        case RuleKind::Bit:
            return rule.fallback > 0 && takes(rule.key, std::to_string(rule.fallback)) ? "" : "no room for the bit";
        case RuleKind::Range:
            return rule.low <= rule.fallback && rule.fallback <= rule.high && takes(rule.key, std::to_string(rule.low)) &&
                           takes(rule.key, std::to_string(rule.high)) && takes(rule.key, std::to_string(rule.fallback))
                       ? ""
                       : "range or fallback beyond the field";
        case RuleKind::Signed32:
            return number(rule.key, 4) && record.Find(rule.key)->isSigned ? "" : "no signed 32-bit field";
        case RuleKind::Text: {
            const core::FieldDef* f = record.Find(rule.key);
            return f && f->encoding == core::FieldEncoding::String && rule.length + 1 <= f->size ? "" : "no text field that long";
        }
        case RuleKind::ListRef:
        case RuleKind::ListUid:
            return number(rule.key, 8) ? "" : "no 64-bit UID field";
        case RuleKind::Correction:
            for (const char* v : {"0", "4", "8", "16", "32", "64"})
                if (!takes(rule.key, v)) return "no correction field";
            return "";
        case RuleKind::Choice:
            for (const auto& [name, value] : rule.choices)
                if (!takes(rule.key, std::to_string(value))) return "choice " + name + " not taken";
            return rule.choices.empty() ? "no choices" : "";
        case RuleKind::Reset:
            for (const auto& [key, value] : rule.reset)
                if (!takes(key, value)) return "reset " + key + "=" + value + " not taken";
            return "";
        case RuleKind::Refused:
        case RuleKind::Push:
        case RuleKind::Pop:
            return rule.key.empty() ? "" : "a field where none is used";
    }
    return "unknown rule";
}

TEST(ModuleWords, EveryWordNamesAFieldOfItsModuleThatCanHoldWhatTheWordPutsThere) {
    qm::testing::ProgramCore program(qm::testing::FreePort());
    size_t modules = 0;
    for (uint16_t id = 0; id <= core::kModuleWindow; ++id) {
        core::Module* module = program.core.registry->Find(id);
        const ModuleWords* words = module ? WordsFor(module->Section()) : nullptr;
        if (!words) continue;
        ++modules;
        core::RecordSets& sets = *module->Records();
        const auto blank = [&](RecordSet set) { return sets.Has(set) ? sets.Blank({set}) : RecordCopy(); };
        const auto check = [&](const std::vector<WordRow>& rows, RecordSet set, const char* part) {
            for (const WordRow& row : rows) {
                const RecordCopy record = blank(row.rule.entry ? RecordSet::Entry : set);
                const std::string fault = record ? RuleFault(row.rule, record) : "no such record set";
                EXPECT_EQ(fault, "") << words->module << " " << part << " word \"" << row.aliases.front() << "\"";
            }
        };
        check(words->common, RecordSet::Common, "common");
        check(words->item, RecordSet::Item, "item");
        check(words->list, RecordSet::List, "list");
        if (!words->newItem.empty()) {
            EXPECT_EQ(RuleFault(Reset(words->newItem), blank(RecordSet::Item)), "") << words->module << " new item";
        }
        const auto printed = [&](const std::vector<PrintedName>& names, RecordSet set, const char* part) {
            const RecordCopy record = blank(set);
            for (const PrintedName& n : names)
                EXPECT_TRUE(n.key == kDeleteMark || (set == RecordSet::List && n.key == "ListSize") ||
                            (record && record.Find(n.key)))
                    << words->module << " prints " << part << " " << n.name << " from no field " << n.key;
        };
        for (const auto& [set, key] : {std::pair{RecordSet::Item, words->nameKey}, {RecordSet::List, words->listUidKey},
                                       {RecordSet::Entry, words->entryTagKey}})
            if (const RecordCopy record = blank(set)) {
                EXPECT_TRUE(record.Find(key)) << words->module << " has no " << key;
            }
        printed(words->printedCommon, RecordSet::Common, "common");
        printed(words->printedItem, RecordSet::Item, "item");
        printed(words->printedList, RecordSet::List, "list");
        printed(words->printedEntry, RecordSet::Entry, "entry");
    }
    EXPECT_EQ(modules, 8u) << "every module with words was checked";
}

}  // namespace
}  // namespace qm::script
