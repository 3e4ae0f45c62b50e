#pragma once
// Start options from the command line. The line is read the way the program
// always read it: words split at blanks (no quoting), at most ten words of at
// most fifteen characters, options tested in a fixed order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::core {

enum class GodModeOverride : uint8_t { None = 0, On = 1, Off = 2 };

struct LogonRequest {
    std::string domain;
    std::string user;
    std::string password;
};

struct StartOptions {
    bool showHelp = false;
    std::optional<LogonRequest> logon;  // relaunch under another account
    bool windowReset = false;
    GodModeOverride godMode = GodModeOverride::None;
    std::string locale;      // two characters, or empty
    int32_t fontSize = 0;    // points; 0 = keep stored
    std::string fontFace;    // at most 31 characters; empty = keep stored
    // Given only when the option had a number: 0 is a size too, and switches
    // the value collector off.
    std::optional<uint32_t> valueBufferSize;
};

constexpr size_t kMaxWords = 10;
constexpr size_t kMaxWordLength = 15;  // UTF-16 units

std::vector<std::string> SplitCommandLine(const std::string& line);
StartOptions ParseCommandLine(const std::string& line);
// argv[1..] joined with spaces, as one command-line text.
std::string JoinArguments(int argc, char** argv);

extern const char* const kHelpText;

}  // namespace qm::core
