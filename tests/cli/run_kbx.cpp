#include "run_kbx.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

extern char** environ;

namespace testutil {

namespace {

std::vector<char*> Pointers(const std::vector<QByteArray>& list) {
    std::vector<char*> p;
    for (const QByteArray& s : list) p.push_back(const_cast<char*>(s.constData()));
    p.push_back(nullptr);
    return p;
}

}  // namespace

KbxRun RunKbx(const std::vector<QByteArray>& args, const KbxOptions& options) {
    std::vector<QByteArray> env = options.env, argList{KBX_PATH};
    for (char** e = environ; *e; ++e) {
        const QByteArray var(*e), name = var.left(var.indexOf('=') + 1);
        if (std::none_of(options.env.begin(), options.env.end(),
                         [&](const QByteArray& o) { return o.startsWith(name); }))
            env.push_back(var);
    }
    argList.insert(argList.end(), args.begin(), args.end());
    const std::vector<char*> argv = Pointers(argList), envp = Pointers(env);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {-1000, {}, {}};
    if (options.stdoutPath) {
        ::close(out[1]);
        out[1] = ::open(options.stdoutPath, O_WRONLY | O_CLOEXEC);
    }
    if (options.stderrOnTerminal) {  // read from a terminal's master, the child writes the slave
        ::close(err[0]);
        ::close(err[1]);
        err[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(err[0]);
        ::unlockpt(err[0]);
        err[1] = ::open(::ptsname(err[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(KBX_PATH, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    KbxRun run{0, {}, {}};
    QByteArray* into[2] = {&run.out, &run.err};
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && ::poll(fds, 2, 60000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) continue;
            char buf[65536];
            // A terminal's master reads EIO once the last slave is closed.
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                fds[i].fd = -1;
                continue;
            }
            into[i]->append(buf, n);
            if (const auto& hook = i == 0 ? options.onOutput : options.onError) hook(pid);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {out[0], err[0]}) ::close(fd);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return run;
}

}  // namespace testutil
