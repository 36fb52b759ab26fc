#pragma once
// Archives and folder trees for tests, built byte by byte without the
// engine's own writer, so that a fault in one cannot hide a fault in the other.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/describe.h"

namespace testutil {

using testsupport::Describe;
using testsupport::Failures;

// A result's outcome and its failure's reason, to compare in one check.
inline std::pair<kbx::Outcome, kbx::Reason> Refusal(const kbx::Result& r) {
    return {r.outcome, r.failure.reason};
}

// A temporary folder that is removed only when the test passed: a failing
// test keeps its files for a look, and says where they are.
class TempDir : public QTemporaryDir {
  public:
    ~TempDir();
};

struct RawEntry {
    QByteArray name;  // bytes of the name field (padded to 128, or longer to cut)
    QByteArray data;
    qint64 offsetDelta = 0;    // added to the computed offset
    qint64 sizeOverride = -1;  // the size field, when not the data's length
    bool forceSize = false;
};

// A well-formed archive: header, records, data in directory order.
QByteArray BuildArchive(const std::vector<RawEntry>& entries);

// Little-endian helpers for hand-written bytes and for patching.
QByteArray Le32(qint32 v);
void PatchLe32(QByteArray& bytes, qint64 at, qint32 v);

// Windows-1251 bytes for text written in this source file.
QByteArray Cp1251(const QString& text);

bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

// Every regular file beneath `root`, as relative path -> content.
std::map<QString, QByteArray> Snapshot(const QString& root);

// The engine's temporary files (".kbx-...") anywhere beneath `root`: none
// may outlive an operation, whatever its outcome.
QStringList Temporaries(const QString& root);

// Fails the test (SIGALRM ends the process) when the guarded code runs
// longer than `seconds`: a FIFO that blocks or a retry that never ends would
// otherwise hang the whole suite.
struct HangGuard {
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
};

// The device and inode of the file at `path` (after links; zeros: none).
std::pair<quint64, quint64> FileId(const QString& path);

// The device, inode and change of content (ns) of the file at `path`
// (after links; zeros: none): the same after a run that wrote nothing.
std::tuple<quint64, quint64, qint64> FileStamp(const QString& path);

// The descriptors this process has open: the same before and after an
// engine operation, whatever its outcome, or the operation leaks.
int OpenDescriptors();

}  // namespace testutil
