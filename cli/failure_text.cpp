#include "cli/failure_text.h"

#include "cli/console.h"
#include "cli/text.h"
#include "words/words.h"

namespace cli {

QString ReasonText(const kbx::Failure& f) {
    return words::ReasonText(f, Quote(f.detail), Language());
}

QString ProblemDetail(const kbx::Problem& p) {
    switch (p.kind) {
        case kbx::Problem::Kind::OutOfBounds:
            return Kbx::tr("data (offset %1, size %2) outside the file of %3 bytes")
                .arg(p.offset)
                .arg(p.size)
                .arg(p.fileSize);
        case kbx::Problem::Kind::UnsafeName:
            return words::RuleText(p.rule, Quote(p.part), Language());
        case kbx::Problem::Kind::RequiredFolder:
            return words::RuleText(kbx::NameRule::ReservedFolder, {}, Language());
        case kbx::Problem::Kind::NameIsFolder:
            return Kbx::tr("entry %1 needs this name as a folder").arg(p.other);
        case kbx::Problem::Kind::Overlap:
            return p.other < 0 ? Kbx::tr("data overlaps the directory")
                               : Kbx::tr("data overlaps entry %1").arg(p.other);
        case kbx::Problem::Kind::Duplicate:
            return Kbx::tr("same name as entry %1").arg(p.other);
    }
    return QString();
}

}  // namespace cli
