#pragma once
// Another user of the same computer, for the tests of what one user may do
// to another's files, sockets and locks: a child process that has given up
// root for an unprivileged user.

#include <functional>
#include <optional>

#ifndef _WIN32
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {

#ifndef _WIN32
inline constexpr uid_t kOtherUser = 65534;  // "nobody"
inline constexpr gid_t kOtherGroup = 65534;

// Starts `body` as kOtherUser in a child process (exit status 120 when it
// cannot become that user) and returns at once: the child's pid, or -1.
inline pid_t startAsOtherUser(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kOtherGroup) != 0 || setuid(kOtherUser) != 0)
            _exit(120);
        _exit(body());
    }
    return child;
}

// Runs `body` as kOtherUser in a child process and gives its exit status;
// nothing when this process cannot become another user (it is not root).
inline std::optional<int> asOtherUser(const std::function<int()>& body) {
    if (geteuid() != 0) return std::nullopt;
    const pid_t child = startAsOtherUser(body);
    if (child < 0) return std::nullopt;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline constexpr const char* kNotRoot = "needs root to act as a second user of this computer";
#endif

}  // namespace testing_support
