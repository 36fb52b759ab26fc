#pragma once
// Outcome of an engine operation. An operation either succeeds, does nothing,
// fails for some entries while finishing the others, or finds the archive,
// folder or target unusable and stops before it changes anything.

#include <QString>

#include <vector>

namespace kbx {

// Why a name may not be written beneath a target folder.
enum class NameRule {
    None,
    Empty,             // no characters at all
    Absolute,          // starts with a separator
    DriveLetter,       // "C:..."
    BadComponent,      // an empty, "." or ".." component (Failure::detail holds it)
    ControlChar,       // a character below 0x20, DEL or a C1 control
    Backslash,         // pack: a file name that holds "\"
    NotEncodable,      // pack: no Windows-1251 encoding
    TooLong,           // pack: over 128 bytes once encoded
    CaseDuplicate,     // pack: another name in the folder differs only in case
    ComponentTooLong,  // a component longer than a file name may be on disk
};

struct EntryFailure {
    qint64 index = -1;  // directory index, or -1 for a file being packed
    QString name;
    QString reason;
};

enum class Outcome {
    Ok,
    NothingDone,    // nothing to do (for example, the blank element)
    EntriesFailed,  // the operation ran to its end, but some entries failed
    Unusable,       // stopped before anything was changed
    Stopped,        // the caller asked to stop; finished entries stay written
};

struct Result {
    Outcome outcome = Outcome::Ok;
    QString message;  // the Russian message for the user when not ok
    std::vector<EntryFailure> failures;
    qint64 written = 0;  // entries written or files packed

    bool ok() const { return outcome == Outcome::Ok || outcome == Outcome::NothingDone; }

    static Result Unusable(QString message) {
        Result r;
        r.outcome = Outcome::Unusable;
        r.message = std::move(message);
        return r;
    }
};

}  // namespace kbx
