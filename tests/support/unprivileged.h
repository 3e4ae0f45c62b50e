#pragma once
// Root reads and writes everything, so a case about what a user may not do
// runs as "nobody" in a forked child when the test runs as root.
#include <sys/wait.h>
#include <unistd.h>

namespace qm::testing {

// `fn`'s result (0..255), from a child as "nobody" when running as root.
template <typename Fn>
int RunAsNobody(Fn fn) {
    if (::geteuid() != 0) return fn();
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? fn() : 255);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qm::testing
