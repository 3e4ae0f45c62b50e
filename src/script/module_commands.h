#pragma once
// The command handlers of one module: the echo prints its settings, a set
// block edits a private copy of one record that "_APPLY_" hands back whole,
// and the call words start, stop or save it. Every module runs this one
// engine with its own word table.
#include <functional>
#include <mutex>
#include <thread>

#include "core/module.h"
#include "core/record_sets.h"
#include "script/command_words.h"
#include "script/script_node.h"

namespace qm::script {

class ModuleCommands : public ScriptNode {
public:
    // `records`: the module's own; `refresh`: what the call word "update"
    // does, where the module has one.
    ModuleCommands(core::Module& module, core::RecordSets& records, const ModuleWords& words,
                   std::function<void()> refresh = {});

    void Echo(ScriptOutput& out, const std::vector<std::string>& path, const std::optional<std::string>& value) override;
    int Set(ScriptOutput& out, std::string_view word, const std::vector<std::string>& path,
            const std::optional<std::string>& pipe, const std::optional<std::string>& value) override;
    void Call(ScriptOutput& out, const std::vector<std::string>& path) override;

private:
    enum class Mode { None, Item, Common, List };
    // The record a new item gets until "_APPLY_" adds it.
    static constexpr size_t kNewRecord = 501;

    int Modify(const std::vector<std::string>& path, const std::optional<std::string>& value);
    int ModifyList(const std::string& name);
    // A record the module refuses for a reason of its own leaves the reason in `out`.
    int Apply(ScriptOutput& out);
    int Change(std::string_view word, const std::optional<std::string>& pipe, const std::string& value);
    int ChangeList(const WordRule& rule, const std::optional<std::string>& pipe, const std::string& value);
    // False when the table names a field the record does not have.
    bool ApplyRule(const WordRule& rule, const std::string& value, core::RecordCopy& record);
    void EchoLists(ScriptOutput& out, int64_t filter);
    // Whether a list other than the one being edited has this identity;
    // nothing when the module was busy.
    std::optional<bool> ListUidTaken(int64_t uid);
    // The entry of the list being edited with this tag (cut to what a tag holds), or null.
    core::RecordCopy* EntryTagged(std::string_view tag);

    core::Module& module_;
    core::RecordSets& records_;
    const ModuleWords& words_;
    std::function<void()> refresh_;

    // One edit per module. Only the thread that opened it may change or
    // close it: a second script running at the same time is refused rather
    // than writing into the first one's record.
    std::mutex editLock_;
    core::RecordCopy buffer_;
    core::RecordCopy original_;  // the item as it was copied out
    size_t target_ = kNewRecord;
    Mode mode_ = Mode::None;
    std::thread::id owner_;
};

}  // namespace qm::script
