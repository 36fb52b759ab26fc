#pragma once
// The file layer's test seam: process-wide knobs that make its calls fail,
// cut short or take their fallbacks, so that tests reach every error path.
// Internal to the engine and its tests; nothing else includes it, and no
// product code turns a knob. Knobs are turned between operations, from one
// thread; the counts and a call hook also see the reads of a comparison's
// own thread (DiffersAhead), and the hook then runs on that thread.

#include <functional>
#include <utility>
#include <vector>

namespace kbx::io {

// the k-th call (1-based, counted from now) of the given kind
// fails with EIO. k = 0 switches the kind back to normal. Publish counts the
// step that gives a finished file its final name, by link or by rename. A
// read is one pread of ReadAt, so a read that the kernel cuts short counts
// again. Truncate counts changes of a file's length, Remove removals of a
// name.
enum class Op { Write, Publish, Fsync, Close, Read, Truncate, Remove, Count_ };
void FailNth(Op op, long k);
// calls of each kind made since the last ResetFaults(), and a
// hook run just before each one (with its 1-based number), so that tests can
// change files at an exact point of an operation.
long Calls(Op op);
using CallHook = std::function<void(Op op, long n)>;
void SetCallHook(CallHook hook);
// Clears the counts, the hook, the planned failures, torn writes and read
// limits; the knobs marked "not cleared" stay, so that one test can run
// several operations under the same machine it set up.
void ResetFaults();
// the k-th write (counted from now) writes only its first half,
// as a power loss in the middle of it would leave the file, and then fails
// with EIO. k = 0: writes are whole. Cleared by ResetFaults().
void TearNthWrite(long k);
// copies go through the bounded buffer, as on filesystems without
// copy_file_range, so that the fault tests reach that path's several writes
// per entry. Not cleared by ResetFaults().
void ForceBufferedCopy(bool on);
// atomic files take the named temporary path, as on file systems
// without unnamed files. Not cleared by ResetFaults().
void ForceNamedFiles(bool on);
// folder listings give no entry kinds (DT_UNKNOWN), as on file
// systems that leave them out, so that each name's kind is looked up. Not
// cleared by ResetFaults().
void ForceUnknownEntryTypes(bool on);
bool UnknownEntryTypesForced();
// each pread returns at most `bytes` bytes (0: no limit), as a
// signal or a network file system may cut a read short. Cleared by
// ResetFaults().
void LimitReads(long long bytes);
// behaves as on a system without the given facility, so that its
// fallback runs: folder walks name by name instead of openat2, linking
// through /proc instead of by descriptor (named temporaries instead of
// unnamed files: ForceNamedFiles). Not cleared by ResetFaults().
enum class Facility { Openat2, LinkByDescriptor, RenameNoReplace, Splice, Count_ };
void Disable(Facility facility, bool disabled);
// the facility's call fails with `err` (0: it runs), as where the
// kernel lacks it or a sandbox refuses it; the process trusts the facility
// again from its next call. Splice: every splice of a copy fails, as on a
// failing disk.
void Refuse(Facility facility, int err);
// the files (device, inode) that Fsync flushed to disk since the
// last ResetFaults(), in order, so that a test can see which file and folder
// were made durable, not only how many flushes ran.
std::vector<std::pair<unsigned long long, unsigned long long>> Flushed();

// Everything above back to normal, as a test leaves the process: the test
// fixture (tests/support/seam_test.h) calls it after every test.
void ResetSeam();

}  // namespace kbx::io

namespace kbx {

// Every name hashes to one value, so that verify's checks between names
// meet only collisions and must decide by the names themselves.
void ForceHashCollisions(bool on);

}  // namespace kbx
