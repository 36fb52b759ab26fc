#include "cli/failure_text.h"

#include <QCoreApplication>

#include <cstring>

namespace cli {

namespace {
QString Tr(const char* text) {
    return QCoreApplication::translate("kbx", text);
}
}  // namespace

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString RuleText(const kbx::Failure& f) {
    using kbx::NameRule;
    switch (f.rule) {
        case NameRule::None:
            break;
        case NameRule::Empty:
            return Tr("empty name");
        case NameRule::Absolute:
            return Tr("absolute path");
        case NameRule::DriveLetter:
            return Tr("path with a drive letter");
        case NameRule::BadComponent:
            return Tr("invalid path component \"%1\"").arg(f.detail);
        case NameRule::ControlChar:
            return Tr("control character in the name");
        case NameRule::Backslash:
            return Tr("the name contains \"\\\"");
        case NameRule::NotEncodable:
            return Tr("the name cannot be written in Windows-1251");
        case NameRule::TooLong:
            return Tr("the name is longer than 128 bytes");
        case NameRule::CaseDuplicate:
            return Tr("the name differs from another only in letter case");
        case NameRule::ComponentTooLong:
            return Tr("a name component is longer than 255 bytes");
    }
    return QString();
}

QString FailureText(const kbx::Failure& f) {
    using kbx::Reason;
    const QString why = SystemReason(f.error);
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
            text = Tr("not a KBX archive");
            break;
        case Reason::HeaderTooShort:
            text = Tr("damaged archive: the file is shorter than its header");
            break;
        case Reason::NegativeCount:
            text = Tr("damaged archive: negative entry count");
            break;
        case Reason::DirectoryEndMismatch:
            text = Tr("damaged archive: the directory end does not match the entry count");
            break;
        case Reason::DirectoryPastEnd:
            text = Tr("damaged archive: the directory runs past the end of the file");
            break;
        case Reason::ArchiveChanged:
            text = Tr("the archive changed after it was loaded");
            break;
        case Reason::FolderNotFlushed:
            text = Tr("written, but its folder could not be flushed: %1").arg(why);
            break;
        case Reason::UnsafeName:
            text = Tr("unsafe name (%1)").arg(RuleText(f));
            break;
        case Reason::OutOfBounds:
            text = Tr("the entry's data lies outside the archive");
            break;
        case Reason::CannotCreateFolder:
            text = Tr("cannot create folder: %1").arg(why);
            break;
        case Reason::CannotCreateFile:
            text = Tr("cannot create file: %1").arg(why);
            break;
        case Reason::ReadFailed:
            text = Tr("read error: %1").arg(why);
            break;
        case Reason::WriteFailed:
            text = Tr("write error: %1").arg(why);
            break;
        case Reason::Truncated:
            text = Tr("the archive changed or was cut short");
            break;
        case Reason::NoTree:
            text = Tr("no Version and Version/Data folders here");
            break;
        case Reason::CannotOpenFile:
            text = Tr("cannot open: %1").arg(why);
            break;
        case Reason::FileChanged:
            text = Tr("the file changed while it was packed");
            break;
        case Reason::TooLarge:
            text = Tr("the data would pass the format's limit of 2147483647 bytes");
            break;
    }
    return f.subject.isEmpty() ? text : f.subject + QStringLiteral(": ") + text;
}

QString ProblemDetail(const kbx::Problem& p) {
    switch (p.kind) {
        case kbx::Problem::Kind::OutOfBounds:
            return Tr("data (offset %1, size %2) outside the file of %3 bytes")
                .arg(p.offset)
                .arg(p.size)
                .arg(p.fileSize);
        case kbx::Problem::Kind::UnsafeName: {
            kbx::Failure f;
            f.rule = p.rule;
            f.detail = p.part;
            return RuleText(f);
        }
        case kbx::Problem::Kind::Overlap:
            return p.other < 0 ? Tr("data overlaps the directory")
                               : Tr("data overlaps entry %1").arg(p.other);
        case kbx::Problem::Kind::Duplicate:
            return Tr("same name as entry %1").arg(p.other);
    }
    return QString();
}

}  // namespace cli
