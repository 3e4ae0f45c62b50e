#pragma once
// Running the program under another account: the password is checked through
// PAM, the process takes the account's identity and starts itself afresh with
// no arguments. Only a process running as root can switch accounts.
#include <string>

namespace qm::platform {

// Returns only on failure, with an errno-style code (EPERM when not root,
// EACCES for a refused password or account, ENOENT for an unknown user,
// ENOSYS when the build has no PAM).
int RelaunchAsUser(const std::string& domain, const std::string& user, const std::string& password,
                   const std::string& executable);

// Overwrites the process's argument strings, so a password given on the
// command line no longer shows in the process list.
void ScrubArguments(int argc, char** argv);

}  // namespace qm::platform
