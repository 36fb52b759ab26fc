#pragma once
// Runs kbx as a process with raw byte arguments: exit code, stdout and stderr
// bytes, an optional environment, stdout sent to a file (/dev/full), stderr
// on a pseudo-terminal, and a hook that sees stdout as it arrives (to send a
// signal at a chosen moment).

#include <QByteArray>

#include <sys/types.h>
#include <functional>
#include <vector>

namespace testutil {

struct KbxRun {
    int code;  // the exit status, or -N when killed by signal N
    QByteArray out;
    QByteArray err;
};

struct KbxOptions {
    std::vector<QByteArray> env = {};  // "NAME=value" added to (or replacing in) the environment
    const char* stdoutPath = nullptr;
    bool stderrOnTerminal = false;
    // Called with the child's pid each time more stdout arrives.
    std::function<void(pid_t)> onOutput = {};
    // The same for stderr.
    std::function<void(pid_t)> onError = {};
};

KbxRun RunKbx(const std::vector<QByteArray>& args, const KbxOptions& options = {});

}  // namespace testutil
