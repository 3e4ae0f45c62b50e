#pragma once
// Splits script text into statements of the shape
//   #keyword:name.path1.path2|pipe=value{block}
// with every part after the keyword optional. Text between statements is
// ignored except "/", which comments out the rest of its line. Blocks are
// kept as written and parsed only when they run.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::script {

struct Statement {
    std::string keyword;
    std::optional<std::string> name;
    std::optional<std::string> value;
    std::optional<std::string> pipe;
    std::optional<std::string> block;
    std::vector<std::string> path;
};

std::vector<Statement> ParseStatements(std::string_view text);

// Without the blanks (space, tab, CR, LF) at either end.
std::string_view TrimBlanks(std::string_view text);

// Words of the language (node names, path and command words) compare
// without regard to ASCII case, whatever the user's locale.
bool SameWord(std::string_view a, std::string_view b);

}  // namespace qm::script
