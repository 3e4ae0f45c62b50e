#pragma once
// What a module offers the script language: printing its settings, changing
// them through an edit opened with "_MODIFY_" and closed with "_APPLY_", and
// its call words (start, stop, save ...). The interpreter finds a node by the
// module's section name; the command-handler engine implements it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_output.h"

namespace qm::script {

class ScriptNode {
public:
    virtual ~ScriptNode() = default;
    virtual void Echo(ScriptOutput& out, const std::vector<std::string>& path, const std::optional<std::string>& value) = 0;
    // A reply code; the node reports its own OK/FAIL lines.
    virtual int Set(ScriptOutput& out, std::string_view word, const std::vector<std::string>& path,
                    const std::optional<std::string>& pipe, const std::optional<std::string>& value) = 0;
    // The first path word is a call word of the module (or none).
    virtual void Call(ScriptOutput& out, const std::vector<std::string>& path) = 0;
};

}  // namespace qm::script
