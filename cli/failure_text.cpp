#include "cli/failure_text.h"

#include "cli/console.h"
#include "cli/text.h"

namespace cli {

QString RuleText(const kbx::Failure& f) {
    using kbx::NameRule;
    switch (f.rule) {
        case NameRule::None:
            break;
        case NameRule::Empty:
            return Kbx::tr("empty name");
        case NameRule::Absolute:
            return Kbx::tr("absolute path");
        case NameRule::DriveLetter:
            return Kbx::tr("path with a drive letter");
        case NameRule::BadComponent:
            return Kbx::tr("invalid path component \"%1\"").arg(Quote(f.detail));
        case NameRule::ControlChar:
            return Kbx::tr("control character in the name");
        case NameRule::Backslash:
            return Kbx::tr("the name contains \"\\\"");
        case NameRule::NotEncodable:
            return Kbx::tr("the name cannot be written in Windows-1251");
        case NameRule::TooLong:
            return Kbx::tr("the name is longer than 128 bytes");
        case NameRule::CaseDuplicate:
            return Kbx::tr("the name differs from another only in letter case");
        case NameRule::Exists:
            return Kbx::tr("an entry of that name is in the archive already (replace changes it)");
        case NameRule::ComponentTooLong:
            return Kbx::tr("a name component is longer than 255 bytes");
        case NameRule::FolderClash:
            return Kbx::tr("the name clashes with the folder of another entry \"%1\"")
                .arg(Quote(f.detail));
        case NameRule::ReservedFolder:
            return Kbx::tr("unpacking makes a folder of this name");
        case NameRule::OutsideVersion:
            return Kbx::tr("the name does not begin with Version\\, so no pack could make it");
    }
    return QString();
}

QString ReasonText(const kbx::Failure& f) {
    using kbx::Reason;
    const QString why = ErrorText(f.error);
    QString text;
    switch (f.reason) {
        case Reason::None:
            break;
        case Reason::CannotOpenArchive:
        case Reason::CannotOpenFolder:
        case Reason::CannotReadFolder:
        case Reason::CannotCreateArchive:
        case Reason::CannotPrepareFolder:
            text = why;
            break;
        case Reason::NotKbx:
            text = Kbx::tr("not a KBX archive");
            break;
        case Reason::HeaderTooShort:
            text = Kbx::tr("damaged archive: the file is shorter than its header");
            break;
        case Reason::NegativeCount:
            text = Kbx::tr("damaged archive: negative entry count");
            break;
        case Reason::DirectoryEndMismatch:
            text = Kbx::tr("damaged archive: the directory end does not match the entry count");
            break;
        case Reason::DirectoryPastEnd:
            text = Kbx::tr("damaged archive: the directory runs past the end of the file");
            break;
        case Reason::ArchiveChanged:
            text = Kbx::tr("the archive changed after it was loaded");
            break;
        case Reason::FolderNotFlushed:
            text = Kbx::tr("written, but its folder could not be flushed: %1").arg(why);
            break;
        case Reason::UnsafeName:
            text = Kbx::tr("unsafe name (%1)").arg(RuleText(f));
            break;
        case Reason::OutOfBounds:
            text = Kbx::tr("the entry's data lies outside the archive");
            break;
        case Reason::CannotCreateFolder:
            text = Kbx::tr("cannot create folder: %1").arg(why);
            break;
        case Reason::CannotCreateFile:
            text = Kbx::tr("cannot create file: %1").arg(why);
            break;
        case Reason::ReadFailed:
            text = Kbx::tr("read error: %1").arg(why);
            break;
        case Reason::WriteFailed:
            text = Kbx::tr("write error: %1").arg(why);
            break;
        case Reason::Truncated:
            text = Kbx::tr("the archive changed or was cut short");
            break;
        case Reason::NoTree:
            text = Kbx::tr("no Version and Version/Data folders here");
            break;
        case Reason::CannotOpenFile:
            text = Kbx::tr("cannot open: %1").arg(why);
            break;
        case Reason::FileChanged:
            text = Kbx::tr("the file changed while it was read");
            break;
        case Reason::NotRegularFile:
            text = Kbx::tr("not a regular file (a folder, FIFO, socket or device)");
            break;
        case Reason::ArchiveBusy:
            text = Kbx::tr("another process is editing this archive");
            break;
        case Reason::TooLarge:
            text = Kbx::tr("the data would pass the format's limit of 2147483647 bytes");
            break;
        case Reason::TargetNotRegular:
            text =
                Kbx::tr("not a regular file (a folder, FIFO, socket or device); nothing written");
            break;
        case Reason::OutputInTree:
            text = Kbx::tr("left out: it is the archive being written");
            break;
        case Reason::NoSuchEntry:
            text = Kbx::tr("no entry with index %1").arg(f.index);
            break;
        case Reason::EditConflict:
            text = f.rule == kbx::NameRule::Exists ? Kbx::tr("the entry has this name already")
                                                   : Kbx::tr("changed more than once in one run");
            break;
        case Reason::FolderLeftOut:
            text = f.count < 0 ? Kbx::tr("left out: the folder cannot be read: %1").arg(why)
                               : Kbx::tr(
                                     "left out with the files in it (%1); --recursive "
                                     "packs sub-folders")
                                     .arg(f.count);
            break;
        case Reason::FolderLinkLeftOut:
            text = Kbx::tr("left out: a link to a folder is never followed");
            break;
        case Reason::RolledBack:
            text = Kbx::tr("rolled back an interrupted edit");
            break;
        case Reason::ForeignJournal:
            text = Kbx::tr(
                "left alone: this journal belongs to another file, or to an archive replaced "
                "since; move it away to edit in place");
            break;
        case Reason::CannotRollBack:
            text = Kbx::tr(
                       "an interrupted edit must be rolled back before the archive is read, and "
                       "cannot be: %1")
                       .arg(why);
            break;
        case Reason::NothingToUndo:
            text = Kbx::tr("nothing to undo: no edit in place is recorded");
            break;
        case Reason::UndoStale:
            text = Kbx::tr("cannot undo: the archive changed since its last edit in place");
            break;
    }
    return text;
}

QString ProblemDetail(const kbx::Problem& p) {
    switch (p.kind) {
        case kbx::Problem::Kind::OutOfBounds:
            return Kbx::tr("data (offset %1, size %2) outside the file of %3 bytes")
                .arg(p.offset)
                .arg(p.size)
                .arg(p.fileSize);
        case kbx::Problem::Kind::UnsafeName: {
            kbx::Failure f;
            f.rule = p.rule;
            f.detail = p.part;
            return RuleText(f);
        }
        case kbx::Problem::Kind::RequiredFolder:
            return Kbx::tr("unpacking makes a folder of this name");
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
