#pragma once
// kbx's commands. Each takes its parsed arguments and returns the exit code.

#include "cli/args.h"

namespace kbx {
struct StopFlag;
}

namespace cli {

enum Exit { kOk = 0, kFailed = 1, kUnusable = 2 };

// Set from the signal handlers: the operation in progress stops at its next
// safe point.
kbx::StopFlag& Stop();
// True once the run has published an archive: a signal caught after that
// stopped nothing.
bool Published();

// Appends the names in the file at `path` ("-": standard input), one a
// line or, with `nul`, each ended by a NUL byte; a last name needs no end.
// Reports a file that cannot be read and returns false.
bool ReadNames(const QByteArray& path, bool nul, std::vector<QByteArray>& names);

int List(const ParsedArgs& args);
int Verify(const ParsedArgs& args);
int Extract(const ParsedArgs& args);
int Unpack(const ParsedArgs& args);
int Pack(const ParsedArgs& args);
int Replace(const ParsedArgs& args);
int Add(const ParsedArgs& args);
int Remove(const ParsedArgs& args);
int Rename(const ParsedArgs& args);
int Diff(const ParsedArgs& args);
int Update(const ParsedArgs& args);
int Undo(const ParsedArgs& args);
int Compact(const ParsedArgs& args);

}  // namespace cli
