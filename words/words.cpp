#include "words/words.h"

#include <locale.h>
#include <string.h>
#include <cerrno>
#include <cstring>

namespace words {

namespace {

// Picks the text of `language` from a pair.
struct Pick {
    Language language;
    QString operator()(const char* english, const char* russian) const {
        return QString::fromUtf8(language == Language::Russian ? russian : english);
    }
};

// The Russian texts of the errno values a user meets.
struct RussianErrno {
    int err;
    const char* text;
};
const RussianErrno kRussianErrno[] = {
    {ENOENT, "нет такого файла или папки"},
    {EACCES, "доступ запрещён"},
    {EPERM, "операция не разрешена"},
    {ENOSPC, "на диске не осталось места"},
    {EDQUOT, "превышена дисковая квота"},
    {EROFS, "файловая система доступна только для чтения"},
    {EEXIST, "файл уже существует"},
    {EISDIR, "это папка"},
    {ENOTDIR, "это не папка"},
    {ENAMETOOLONG, "слишком длинное имя"},
    {ELOOP, "слишком много уровней символических ссылок"},
    {EIO, "ошибка ввода-вывода"},
    {EFBIG, "файл слишком велик"},
    {EMFILE, "слишком много открытых файлов"},
    {ENFILE, "слишком много открытых файлов в системе"},
    {EINVAL, "недопустимый аргумент"},
    {ENOTEMPTY, "папка не пуста"},
    {EBUSY, "устройство или ресурс занято"},
    {ENOMEM, "недостаточно памяти"},
    {EPIPE, "канал закрыт"},
    {EXDEV, "ссылка между разными устройствами"},
    {ETXTBSY, "исполняемый файл занят"},
    {ENXIO, "нет такого устройства или адреса"},
    {ENODEV, "нет такого устройства"},
    {EAGAIN, "ресурс временно недоступен"},
    {EOPNOTSUPP, "операция не поддерживается"},
    {ESTALE, "устаревший дескриптор файла"},
    {ETIMEDOUT, "время ожидания соединения истекло"},
    {EOVERFLOW, "значение слишком велико для типа данных"},
};

}  // namespace

QString ErrnoText(int err, Language language) {
    if (language == Language::Russian) {
        for (const RussianErrno& r : kRussianErrno)
            if (r.err == err) return QString::fromUtf8(r.text);
        return QStringLiteral("системная ошибка %1").arg(err);
    }
    // The C library's own English text: strerror would follow LANGUAGE.
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    return QString::fromLocal8Bit(c ? ::strerror_l(err, c) : std::strerror(err));
}

QString RuleText(kbx::NameRule rule, const QString& detail, Language language) {
    using kbx::NameRule;
    const Pick t{language};
    switch (rule) {
        case NameRule::None:
            break;
        case NameRule::Empty:
            return t("empty name", "пустое имя");
        case NameRule::Absolute:
            return t("absolute path", "абсолютный путь");
        case NameRule::DriveLetter:
            return t("path with a drive letter", "путь с буквой диска");
        case NameRule::BadComponent:
            return t("invalid path component \"%1\"", "недопустимая часть пути «%1»").arg(detail);
        case NameRule::ControlChar:
            return t("control character in the name", "управляющий символ в имени");
        case NameRule::Backslash:
            return t("the name contains \"\\\"", "имя содержит «\\»");
        case NameRule::NotEncodable:
            return t("the name cannot be written in Windows-1251",
                     "имя нельзя записать в кодировке Windows-1251");
        case NameRule::TooLong:
            return t("the name is longer than 128 bytes", "имя длиннее 128 байт");
        case NameRule::CaseDuplicate:
            return t("the name differs from another only in letter case",
                     "имя отличается от другого только регистром букв");
        case NameRule::Exists:
            return t("an entry of that name is in the archive already (replace changes it)",
                     "запись с таким именем уже есть в архиве (её меняет replace)");
        case NameRule::ComponentTooLong:
            return t("a name component is longer than 255 bytes", "часть имени длиннее 255 байт");
        case NameRule::FolderClash:
            return t("the name clashes with the folder of another entry \"%1\"",
                     "имя совпадает с папкой другой записи «%1»")
                .arg(detail);
        case NameRule::ReservedFolder:
            return t("unpacking makes a folder of this name",
                     "распаковка создаёт папку с этим именем");
        case NameRule::OutsideVersion:
            return t("the name does not begin with Version\\, so no pack could make it",
                     "имя не начинается с Version\\, упаковка не смогла бы его создать");
    }
    return QString();
}

QString ReasonText(const kbx::Failure& f, const QString& detail, Language language) {
    using kbx::Reason;
    const Pick t{language};
    const QString why = ErrnoText(f.error, language);
    switch (f.reason) {
        case Reason::None:
            break;
        case Reason::CannotOpenArchive:
        case Reason::CannotOpenFolder:
        case Reason::CannotReadFolder:
        case Reason::CannotCreateArchive:
        case Reason::CannotPrepareFolder:
            return why;
        case Reason::NotKbx:
            return t("not a KBX archive", "это не KBX архив");
        case Reason::HeaderTooShort:
            return t("damaged archive: the file is shorter than its header",
                     "архив повреждён: файл короче заголовка");
        case Reason::NegativeCount:
            return t("damaged archive: negative entry count",
                     "архив повреждён: отрицательное число записей");
        case Reason::DirectoryEndMismatch:
            return t("damaged archive: the directory end does not match the entry count",
                     "архив повреждён: конец каталога не совпадает с числом записей");
        case Reason::DirectoryPastEnd:
            return t("damaged archive: the directory runs past the end of the file",
                     "архив повреждён: каталог выходит за конец файла");
        case Reason::ArchiveChanged:
            return t("the archive changed after it was loaded", "архив изменился после загрузки");
        case Reason::FolderNotFlushed:
            return t("written, but its folder could not be flushed: %1",
                     "записано, но папку не удалось сохранить на диск: %1")
                .arg(why);
        case Reason::TemporaryLeft:
            return t("written, but its temporary name %1 could not be removed: %2",
                     "записано, но временное имя %1 не удалось удалить: %2")
                .arg(detail, why);
        case Reason::UnsafeName:
            return t("unsafe name (%1)", "недопустимое имя (%1)")
                .arg(RuleText(f.rule, detail, language));
        case Reason::OutOfBounds:
            return t("the entry's data lies outside the archive",
                     "данные записи лежат за пределами архива");
        case Reason::CannotCreateFolder:
            return t("cannot create folder: %1", "не удалось создать папку: %1").arg(why);
        case Reason::CannotCreateFile:
            return t("cannot create file: %1", "не удалось создать файл: %1").arg(why);
        case Reason::ReadFailed:
            return t("read error: %1", "ошибка чтения: %1").arg(why);
        case Reason::WriteFailed:
            return t("write error: %1", "ошибка записи: %1").arg(why);
        case Reason::Truncated:
            return t("the archive changed or was cut short", "архив изменился или обрезан");
        case Reason::NoTree:
            return t("no Version and Version/Data folders here",
                     "здесь нет папок Version и Version/Data");
        case Reason::CannotOpenFile:
            return t("cannot open: %1", "не удалось открыть: %1").arg(why);
        case Reason::FileChanged:
            return t("the file changed while it was read", "файл изменился во время чтения");
        case Reason::NotRegularFile:
            return t("not a regular file (a folder, FIFO, socket or device)",
                     "это не обычный файл (папка, канал, сокет или устройство)");
        case Reason::ArchiveBusy:
            return t("another process is editing this archive", "этот архив меняет другой процесс");
        case Reason::TooLarge:
            return t("the data would pass the format's limit of 2147483647 bytes",
                     "данные превысили бы предел формата в 2147483647 байт");
        case Reason::TargetNotRegular:
            return t(
                "not a regular file (a folder, FIFO, socket or device); nothing written",
                "это не обычный файл (папка, канал, сокет или устройство); ничего не записано");
        case Reason::OutputInTree:
            return t("left out: it is the archive being written",
                     "не упакован: это сам записываемый архив");
        case Reason::NoSuchEntry:
            return t("no entry with index %1", "нет записи с номером %1").arg(f.index);
        case Reason::EditConflict:
            return t("changed more than once in one run", "изменяется дважды за один запуск");
        case Reason::FolderLinkLeftOut:
            return t("left out: a link to a folder is never followed",
                     "не упакована: по ссылкам на папки pack не переходит");
        case Reason::RolledBack:
            return t("rolled back an interrupted edit", "прерванное изменение отменено");
        case Reason::ForeignJournal:
            return t(
                "left alone: this journal belongs to another file, or to an archive replaced "
                "since; move it away to edit in place",
                "оставлен как есть: этот журнал относится к другому файлу или к архиву, который с "
                "тех пор заменён; уберите его, чтобы менять архив на месте");
        case Reason::CannotRollBack:
            return t("an interrupted edit must be rolled back before the archive is read, and "
                     "cannot be: %1",
                     "прерванное изменение нужно отменить, прежде чем читать архив, но это не "
                     "удаётся: %1")
                .arg(why);
        case Reason::NothingToUndo:
            return t("nothing to undo: no edit in place is recorded",
                     "нечего отменять: изменений на месте не записано");
        case Reason::UndoStale:
            return t("cannot undo: the archive changed since its last edit in place",
                     "отменить нельзя: архив изменился после последнего изменения на месте");
        case Reason::FolderLeftOut:
            return f.count < 0 ? t("left out: the folder cannot be read: %1",
                                   "не упакована: папку нельзя прочитать: %1")
                                     .arg(why)
                               : t("left out with the files in it (%1); --recursive packs "
                                   "sub-folders",
                                   "не упакована вместе с файлами в ней (%1); вложенные папки "
                                   "упаковывает --recursive")
                                     .arg(f.count);
    }
    return QString();
}

QString Capitalized(const QString& text) {
    return text.isEmpty() ? text : text.front().toUpper() + text.mid(1);
}

}  // namespace words
