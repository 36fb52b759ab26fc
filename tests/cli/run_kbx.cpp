#include "run_kbx.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>

extern char** environ;

namespace testutil {

KbxRun RunKbx(const std::vector<QByteArray>& args, const KbxOptions& options) {
    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e) {
        const QByteArray var(*e);
        const QByteArray name = var.left(var.indexOf('=') + 1);
        bool replaced = false;
        for (const QByteArray& o : options.env) replaced |= o.startsWith(name);
        if (!replaced) env.push_back(var);
    }
    env.insert(env.end(), options.env.begin(), options.env.end());
    std::vector<char*> argv{const_cast<char*>(KBX_PATH)};
    for (const QByteArray& a : args) argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const QByteArray& e : env) envp.push_back(const_cast<char*>(e.constData()));
    envp.push_back(nullptr);

    int out[2], err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0) return {-1000, {}, {}};
    int master = -1;
    QByteArray slaveName;
    if (options.stderrOnTerminal) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        slaveName = ::ptsname(master);
    } else if (::pipe2(err, O_CLOEXEC) != 0) {
        return {-1000, {}, {}};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        int o = out[1];
        if (options.stdoutPath) o = ::open(options.stdoutPath, O_WRONLY);
        ::dup2(o, STDOUT_FILENO);
        const int e = master >= 0 ? ::open(slaveName.constData(), O_RDWR | O_NOCTTY) : err[1];
        ::dup2(e, STDERR_FILENO);
        ::execve(KBX_PATH, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (err[1] >= 0) ::close(err[1]);
    const int errRead = master >= 0 ? master : err[0];
    KbxRun run{0, {}, {}};
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? errRead : -1, POLLIN, 0}};
        if (::poll(fds, 2, 60000) <= 0) break;
        char buf[65536];
        if (fds[0].revents) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) {
                outOpen = false;
            } else {
                run.out.append(buf, n);
                if (options.onOutput) options.onOutput(pid, run.out);
            }
        }
        if (fds[1].revents) {
            // A terminal's master reads EIO once the last slave is closed.
            const ssize_t n = ::read(errRead, buf, sizeof buf);
            if (n <= 0)
                errOpen = false;
            else
                run.err.append(buf, n);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);
    ::close(errRead);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return run;
}

}  // namespace testutil
