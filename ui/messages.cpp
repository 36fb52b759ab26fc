#include "ui/messages.h"

#include "words/words.h"

namespace ui {

namespace {

constexpr size_t kNamesInSummary = 5;

constexpr auto kRussian = words::Language::Russian;

QString RuleText(const kbx::Failure& f) {
    return words::RuleText(f.rule, f.detail, kRussian);
}

// What happened to one entry, as the clause after "name: ".
QString EntryClause(const kbx::Failure& f) {
    return words::ReasonText(f, f.detail, kRussian);
}

// Why an archive could not be read or an extraction could not start.
QString UnusableText(const kbx::Failure& f) {
    using kbx::Reason;
    const QString why = SystemReason(f.error);
    switch (f.reason) {
        case Reason::CannotOpenArchive:
            return QStringLiteral("Не удалось открыть файл ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::NotKbx:
            return kNotKbxMessage;
        case Reason::HeaderTooShort:
        case Reason::NegativeCount:
        case Reason::DirectoryEndMismatch:
        case Reason::DirectoryPastEnd:
            return words::Capitalized(EntryClause(f));
        case Reason::ReadFailed:
            return QStringLiteral("Не удалось прочитать файл ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::ArchiveChanged:
        case Reason::ArchiveBusy:
            return words::Capitalized(EntryClause(f)) + QStringLiteral(": ") + f.subject;
        case Reason::CannotOpenFolder:
            return QStringLiteral("Не удалось открыть папку ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::CannotPrepareFolder:
            return QStringLiteral("Не удалось создать папку ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::RolledBack:
            return QStringLiteral("Прерванное изменение архива ") + f.subject +
                   QStringLiteral(" отменено: архив прочитан в прежнем виде");
        case Reason::ForeignJournal:
            return QStringLiteral("Журнал ") + f.subject +
                   QStringLiteral(" относится к другому файлу и оставлен как есть");
        case Reason::CannotRollBack:
            return QStringLiteral(
                       "Архив не прочитан: прерванное изменение нужно отменить по "
                       "журналу ") +
                   f.subject + QStringLiteral(", но это не удалось: ") + why;
        default:
            return f.subject + QStringLiteral(": ") + EntryClause(f);
    }
}

// Why pack made no archive.
QString PackRefusal(const kbx::Failure& f) {
    using kbx::Reason;
    const QString why = SystemReason(f.error);
    QString text;
    switch (f.reason) {
        case Reason::CannotOpenFolder:
            text = QStringLiteral("не удалось открыть папку ") + f.subject + QStringLiteral(": ") +
                   why;
            break;
        case Reason::CannotReadFolder:
            text = QStringLiteral("не удалось прочитать папку ") + f.subject +
                   QStringLiteral(": ") + why;
            break;
        case Reason::NoTree:
            text = QStringLiteral("в папке ") + f.subject +
                   QStringLiteral(" нет папок Version и Version/Data");
            break;
        case Reason::UnsafeName:
            text = f.subject + QStringLiteral(": ") + RuleText(f);
            break;
        case Reason::TooLarge:
            text = EntryClause(f);
            break;
        default:
            text = f.subject + QStringLiteral(": ") + EntryClause(f);
            break;
    }
    return QStringLiteral("Архив не создан: ") + text;
}

QString Summary(const std::vector<kbx::Failure>& failures) {
    QString text = QStringLiteral("Распаковка завершена с ошибками") + kCrLf +
                   QStringLiteral("Не извлечено файлов: ") + QString::number(failures.size());
    for (size_t i = 0; i < failures.size() && i < kNamesInSummary; ++i)
        text += kCrLf + failures[i].subject + QStringLiteral(": ") + EntryClause(failures[i]);
    if (failures.size() > kNamesInSummary) text += kCrLf + QStringLiteral("…");
    return text;
}

}  // namespace

QString SecondsText(qint64 milliseconds, const QLocale& locale) {
    // Integer arithmetic keeps the text exact: no binary fraction can leak in.
    const bool negative = milliseconds < 0;
    const quint64 ms = negative ? 0 - quint64(milliseconds) : quint64(milliseconds);
    QString text = QString::number(ms / 1000);
    if (const quint64 frac = ms % 1000; frac != 0) {
        QString digits = QStringLiteral("%1").arg(frac, 3, 10, QChar(u'0'));
        while (digits.endsWith(u'0')) digits.chop(1);
        text += locale.decimalPoint() + digits;
    }
    return negative ? locale.negativeSign() + text : text;
}

QString CompletionText(Operation op, qint64 milliseconds, const QLocale& locale) {
    QString lead;
    switch (op) {
        case Operation::Load:
            lead = QStringLiteral("Архив читался ");
            break;
        case Operation::Extract:
            lead = QStringLiteral("Файл извлекался ");
            break;
        case Operation::Unpack:
            lead = QStringLiteral("Архив распаковывался ");
            break;
        case Operation::Pack:
            lead = QStringLiteral("Архив запаковывался ");
            break;
    }
    return QStringLiteral("Обработка завершена") + kCrLf + lead +
           SecondsText(milliseconds, locale) + QStringLiteral(" секунд");
}

QString SystemReason(int error) {
    return words::ErrnoText(error, kRussian);
}

QString FailureMessage(Operation op, const kbx::Result& result) {
    switch (result.outcome) {
        case kbx::Outcome::Unusable:
            return op == Operation::Pack ? PackRefusal(result.failure)
                                         : UnusableText(result.failure);
        case kbx::Outcome::EntriesFailed: {
            const kbx::Failure& f = result.failures.front();
            if (op == Operation::Extract)
                return QStringLiteral("Не удалось извлечь ") + f.subject + QStringLiteral(": ") +
                       EntryClause(f);
            return Summary(result.failures);
        }
        default:
            return QString();
    }
}

QString WarningMessage(const kbx::Failure& warning) {
    if (warning.reason == kbx::Reason::FolderNotFlushed)
        return QStringLiteral("Архив записан, но папку ") + warning.subject +
               QStringLiteral(" не удалось сохранить на диск: ") + SystemReason(warning.error);
    if (warning.reason == kbx::Reason::OutputInTree)
        return QStringLiteral("Архив записан без файла ") + warning.subject +
               QStringLiteral(": это прежняя копия самого архива");
    return UnusableText(warning);
}

}  // namespace ui
