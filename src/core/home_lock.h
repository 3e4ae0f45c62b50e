#pragma once
// One user of a home at a time: the running program, or `quillmark -script`
// running a script on a stopped home. Whoever holds the home's lock file
// (Settings/quillmark.lock) alone reads and rewrites its settings and logs;
// two programs on one home would each rewrite log_last.log and the settings
// at exit, the later one undoing the earlier. The lock goes with its
// process, so a program that crashed never keeps the next one out.
#include "core/paths.h"
#include "platform/file_lock.h"

namespace qm::core {

// The exit status of a program refused because the home is in use.
inline constexpr int kExitHomeInUse = 3;

// Taken before anything reads the home; the settings folder (and the home)
// are made first when missing. Not Held() with Error() EWOULDBLOCK when
// another process uses the home.
platform::FileLock TakeHomeLock(const Paths& paths);

}  // namespace qm::core
