#pragma once
// The tests run as root, who may do what an ordinary user may not. runAsNobody() runs work in a
// child process that has become user and group "nobody" first, as an operator's program runs, and
// returns what work returned (or "still root" when the rights could not be dropped). prepare runs
// in the child before the drop: limits an ordinary user has and root would keep.
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fixtures {

inline std::string runAsNobody(const std::function<std::string()>& work,
                               const std::function<void()>& prepare = {}) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child < 0)
        return "no child";
    if (child == 0) {
        ::close(pipeFds[0]);
        if (prepare)
            prepare();
        std::string result = "still root";
        if (::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0))
            result = work();
        [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

} // namespace fixtures
