#include "ui/messages.h"

#include <cerrno>
#include <cstring>

namespace ui {

namespace {

constexpr size_t kNamesInSummary = 5;

QString RuleText(const kbx::Failure& f) {
    using kbx::NameRule;
    switch (f.rule) {
        case NameRule::None:
            break;
        case NameRule::Empty:
            return QStringLiteral("пустое имя");
        case NameRule::Absolute:
            return QStringLiteral("абсолютный путь");
        case NameRule::DriveLetter:
            return QStringLiteral("путь с буквой диска");
        case NameRule::BadComponent:
            return QStringLiteral("недопустимая часть пути «%1»").arg(f.detail);
        case NameRule::ControlChar:
            return QStringLiteral("управляющий символ в имени");
        case NameRule::Backslash:
            return QStringLiteral("имя содержит «\\»");
        case NameRule::NotEncodable:
            return QStringLiteral("имя нельзя записать в кодировке Windows-1251");
        case NameRule::TooLong:
            return QStringLiteral("имя длиннее 128 байт");
        case NameRule::CaseDuplicate:
            return QStringLiteral("имя отличается от другого только регистром букв");
        case NameRule::Exists:
            return QStringLiteral("запись с таким именем уже есть в архиве");
        case NameRule::ComponentTooLong:
            return QStringLiteral("часть имени длиннее 255 байт");
        case NameRule::FolderClash:
            return QStringLiteral("имя совпадает с папкой другой записи «%1»").arg(f.detail);
        case NameRule::ReservedFolder:
            return QStringLiteral("распаковка создаёт папку с этим именем");
        case NameRule::OutsideVersion:
            return QStringLiteral("имя не начинается с Version\\");
    }
    return QString();
}

// What happened to one entry, as the clause after "name: ".
QString EntryClause(const kbx::Failure& f) {
    using kbx::Reason;
    const QString why = SystemReason(f.error);
    switch (f.reason) {
        case Reason::ArchiveChanged:
            return QStringLiteral("архив изменился после загрузки");
        case Reason::UnsafeName:
            return QStringLiteral("недопустимое имя (") + RuleText(f) + QStringLiteral(")");
        case Reason::OutOfBounds:
            return QStringLiteral("данные записи лежат за пределами архива");
        case Reason::CannotCreateFolder:
            return QStringLiteral("не удалось создать папку: ") + why;
        case Reason::CannotCreateFile:
            return QStringLiteral("не удалось создать файл: ") + why;
        case Reason::ReadFailed:
            return QStringLiteral("ошибка чтения: ") + why;
        case Reason::WriteFailed:
            return QStringLiteral("ошибка записи: ") + why;
        case Reason::Truncated:
            return QStringLiteral("архив изменился или обрезан");
        case Reason::CannotOpenFile:
            return QStringLiteral("не удалось открыть: ") + why;
        case Reason::FileChanged:
            return QStringLiteral("файл изменился во время упаковки");
        default:
            return why;
    }
}

QString Corrupt(const QString& what) {
    return QStringLiteral("Архив повреждён: ") + what;
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
            return Corrupt(QStringLiteral("файл короче заголовка"));
        case Reason::NegativeCount:
            return Corrupt(QStringLiteral("отрицательное число записей"));
        case Reason::DirectoryEndMismatch:
            return Corrupt(QStringLiteral("конец каталога не совпадает с числом записей"));
        case Reason::DirectoryPastEnd:
            return Corrupt(QStringLiteral("каталог выходит за конец файла"));
        case Reason::ReadFailed:
            return QStringLiteral("Не удалось прочитать файл ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::ArchiveChanged:
            return QStringLiteral("Архив изменился после загрузки: ") + f.subject;
        case Reason::CannotOpenFolder:
            return QStringLiteral("Не удалось открыть папку ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::CannotPrepareFolder:
            return QStringLiteral("Не удалось создать папку ") + f.subject + QStringLiteral(": ") +
                   why;
        case Reason::ArchiveBusy:
            return QStringLiteral("Архив сейчас изменяет другая программа: ") + f.subject;
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
            text = QStringLiteral("данные больше 2 147 483 647 байт, предела формата");
            break;
        case Reason::CannotCreateArchive:
            text = f.subject + QStringLiteral(": ") + why;
            break;
        case Reason::TargetNotRegular:
            text = f.subject + QStringLiteral(": это не обычный файл");
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
    switch (error) {
        case ENOENT:
            return QStringLiteral("нет такого файла или папки");
        case EACCES:
            return QStringLiteral("доступ запрещён");
        case EPERM:
            return QStringLiteral("операция не разрешена");
        case ENOSPC:
            return QStringLiteral("на диске не осталось места");
        case EDQUOT:
            return QStringLiteral("превышена дисковая квота");
        case EROFS:
            return QStringLiteral("файловая система доступна только для чтения");
        case EEXIST:
            return QStringLiteral("файл уже существует");
        case EISDIR:
            return QStringLiteral("это папка");
        case ENOTDIR:
            return QStringLiteral("это не папка");
        case ENAMETOOLONG:
            return QStringLiteral("слишком длинное имя");
        case ELOOP:
            return QStringLiteral("слишком много уровней символических ссылок");
        case EIO:
            return QStringLiteral("ошибка ввода-вывода");
        case EFBIG:
            return QStringLiteral("файл слишком велик");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("слишком много открытых файлов");
        case EINVAL:
            return QStringLiteral("это не обычный файл");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
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
