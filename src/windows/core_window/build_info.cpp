#include "windows/core_window/build_info.h"

// Set by CMakeLists.txt on this file only, so a new date rebuilds nothing else.
#ifndef QM_VERSION_MAJOR
#define QM_VERSION_MAJOR 0
#define QM_VERSION_MINOR 0
#define QM_VERSION_PATCH 0
#endif
#ifndef QM_BUILD_DESCRIPTION
#define QM_BUILD_DESCRIPTION "unknown"
#endif
#ifndef QM_BUILD_DATE
#define QM_BUILD_DATE __DATE__
#endif

namespace qm::windows {

BuildInfo ProgramBuild() {
    return BuildInfo{QM_VERSION_MAJOR, QM_VERSION_MINOR, QM_VERSION_PATCH, QM_BUILD_DESCRIPTION, QM_BUILD_DATE};
}

}  // namespace qm::windows
