#pragma once
// What the About box says about this binary: its version, what it was built
// for and with, and when. Filled in by the build (CMake), not by hand, so
// it cannot drift from the binary it describes.
#include <cstdint>
#include <string>

namespace qm::windows {

struct BuildInfo {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    std::string description;  // system, processor, compiler and toolkit
    std::string date;         // "Mon DD YYYY", the day the build was configured
};

BuildInfo ProgramBuild();

}  // namespace qm::windows
