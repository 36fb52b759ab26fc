#include "words/words.h"

#include <locale.h>
#include <string.h>
#include <cerrno>
#include <cstring>

namespace words {

namespace {

// One text in both languages; "%1" (and "%2") stand for what the key
// carries.
template <typename Key>
struct Words {
    Key key;
    const char* english;
    const char* russian;
};

template <typename Key, size_t N>
QString Find(const Words<Key> (&table)[N], Key key, Language language) {
    for (const Words<Key>& w : table) {
        if (w.key == key)
            return QString::fromUtf8(language == Language::Russian ? w.russian : w.english);
    }
    return QString();
}

using kbx::NameRule;
using kbx::Reason;

const Words<NameRule> kRules[] = {
    {NameRule::Empty, "empty name", "пустое имя"},
    {NameRule::Absolute, "absolute path", "абсолютный путь"},
    {NameRule::DriveLetter, "path with a drive letter", "путь с буквой диска"},
    {NameRule::BadComponent, "invalid path component \"%1\"", "недопустимая часть пути «%1»"},
    {NameRule::ControlChar, "control character in the name", "управляющий символ в имени"},
    {NameRule::Backslash, "the name contains \"\\\"", "имя содержит «\\»"},
    {NameRule::NotEncodable, "the name cannot be written in Windows-1251",
     "имя нельзя записать в кодировке Windows-1251"},
    {NameRule::TooLong, "the name is longer than 128 bytes", "имя длиннее 128 байт"},
    {NameRule::CaseDuplicate, "the name differs from another only in letter case",
     "имя отличается от другого только регистром букв"},
    {NameRule::Exists, "an entry of that name is in the archive already (replace changes it)",
     "запись с таким именем уже есть в архиве (её меняет replace)"},
    {NameRule::ComponentTooLong, "a name component is longer than 255 bytes",
     "часть имени длиннее 255 байт"},
    {NameRule::FolderClash, "the name clashes with the folder of another entry \"%1\"",
     "имя совпадает с папкой другой записи «%1»"},
    {NameRule::ReservedFolder, "unpacking makes a folder of this name",
     "распаковка создаёт папку с этим именем"},
    {NameRule::OutsideVersion, "the name does not begin with Version\\, so no pack could make it",
     "имя не начинается с Version\\, упаковка не смогла бы его создать"},
};

// Every reason but FolderLeftOut with its files counted (kFilesLeftOut) and a
// rename to the entry's own name (kOwnName).
const Words<Reason> kReasons[] = {
    {Reason::CannotOpenArchive, "%1", "%1"},
    {Reason::CannotOpenFolder, "%1", "%1"},
    {Reason::CannotReadFolder, "%1", "%1"},
    {Reason::CannotCreateArchive, "%1", "%1"},
    {Reason::CannotPrepareFolder, "%1", "%1"},
    {Reason::NotKbx, "not a KBX archive", "это не KBX архив"},
    {Reason::HeaderTooShort, "damaged archive: the file is shorter than its header",
     "архив повреждён: файл короче заголовка"},
    {Reason::NegativeCount, "damaged archive: negative entry count",
     "архив повреждён: отрицательное число записей"},
    {Reason::DirectoryEndMismatch,
     "damaged archive: the directory end does not match the entry count",
     "архив повреждён: конец каталога не совпадает с числом записей"},
    {Reason::DirectoryPastEnd, "damaged archive: the directory runs past the end of the file",
     "архив повреждён: каталог выходит за конец файла"},
    {Reason::ArchiveChanged, "the archive changed after it was loaded",
     "архив изменился после загрузки"},
    {Reason::FolderNotFlushed, "written, but its folder could not be flushed: %1",
     "записано, но папку не удалось сохранить на диск: %1"},
    {Reason::TemporaryLeft, "written, but its temporary name %1 could not be removed: %2",
     "записано, но временное имя %1 не удалось удалить: %2"},
    {Reason::UnsafeName, "unsafe name (%1)", "недопустимое имя (%1)"},
    {Reason::OutOfBounds, "the entry's data lies outside the archive",
     "данные записи лежат за пределами архива"},
    {Reason::CannotCreateFolder, "cannot create folder: %1", "не удалось создать папку: %1"},
    {Reason::CannotCreateFile, "cannot create file: %1", "не удалось создать файл: %1"},
    {Reason::ReadFailed, "read error: %1", "ошибка чтения: %1"},
    {Reason::WriteFailed, "write error: %1", "ошибка записи: %1"},
    {Reason::Truncated, "the archive changed or was cut short", "архив изменился или обрезан"},
    {Reason::NoTree, "no Version and Version/Data folders here",
     "здесь нет папок Version и Version/Data"},
    {Reason::CannotOpenFile, "cannot open: %1", "не удалось открыть: %1"},
    {Reason::FileChanged, "the file changed while it was read", "файл изменился во время чтения"},
    {Reason::NotRegularFile, "not a regular file (a folder, FIFO, socket or device)",
     "это не обычный файл (папка, канал, сокет или устройство)"},
    {Reason::ArchiveBusy, "another process is editing this archive",
     "этот архив меняет другой процесс"},
    {Reason::TooLarge, "the data would pass the format's limit of 2147483647 bytes",
     "данные превысили бы предел формата в 2147483647 байт"},
    {Reason::OutputInTree, "left out: it is the archive being written",
     "не упакован: это сам записываемый архив"},
    {Reason::NoSuchEntry, "no entry with index %1", "нет записи с номером %1"},
    {Reason::EditConflict, "changed more than once in one run", "изменяется дважды за один запуск"},
    {Reason::FolderLinkLeftOut, "left out: a link to a folder is never followed",
     "не упакована: по ссылкам на папки pack не переходит"},
    {Reason::RolledBack, "rolled back an interrupted edit", "прерванное изменение отменено"},
    {Reason::CannotRollBack,
     "an interrupted edit must be rolled back before the archive is read, and cannot be: %1",
     "прерванное изменение нужно отменить, прежде чем читать архив, но это не удаётся: %1"},
    {Reason::NothingToUndo, "nothing to undo: no edit in place is recorded",
     "нечего отменять: изменений на месте не записано"},
    {Reason::UndoStale, "cannot undo: the archive changed since its last edit in place",
     "отменить нельзя: архив изменился после последнего изменения на месте"},
    {Reason::TargetNotRegular,
     "not a regular file (a folder, FIFO, socket or device); nothing written",
     "это не обычный файл (папка, канал, сокет или устройство); ничего не записано"},
    {Reason::ForeignJournal,
     "left alone: this journal belongs to another file, or to an archive replaced since; move it "
     "away to edit in place",
     "оставлен как есть: этот журнал относится к другому файлу или к архиву, который с тех пор "
     "заменён; уберите его, чтобы менять архив на месте"},
    {Reason::FolderLeftOut, "left out: the folder cannot be read: %1",
     "не упакована: папку нельзя прочитать: %1"},
};
const Words<Reason> kFilesLeftOut{
    Reason::FolderLeftOut, "left out with the files in it (%1); --recursive packs sub-folders",
    "не упакована вместе с файлами в ней (%1); вложенные папки упаковывает --recursive"};
// EditConflict of a rename to the name the entry has (NameRule::Exists).
const Words<Reason> kOwnName{Reason::EditConflict, "the entry has this name already",
                             "у записи уже есть это имя"};

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

QString RuleText(NameRule rule, const QString& detail, Language language) {
    const QString text = Find(kRules, rule, language);
    return text.contains(u"%1") ? text.arg(detail) : text;
}

QString ReasonText(const kbx::Failure& f, const QString& detail, Language language) {
    const QString why = ErrnoText(f.error, language);
    if (f.reason == Reason::FolderLeftOut && f.count >= 0) {
        const char* text =
            language == Language::Russian ? kFilesLeftOut.russian : kFilesLeftOut.english;
        return QString::fromUtf8(text).arg(f.count);
    }
    if (f.reason == Reason::EditConflict && f.rule == kbx::NameRule::Exists)
        return QString::fromUtf8(language == Language::Russian ? kOwnName.russian
                                                               : kOwnName.english);
    const QString text = Find(kReasons, f.reason, language);
    switch (f.reason) {
        case Reason::UnsafeName:
            return text.arg(RuleText(f.rule, detail, language));
        case Reason::NoSuchEntry:
            return text.arg(f.index);
        case Reason::TemporaryLeft:
            return text.arg(detail, why);
        default:
            return text.contains(u"%1") ? text.arg(why) : text;
    }
}

QString Capitalized(const QString& text) {
    return text.isEmpty() ? text : text.front().toUpper() + text.mid(1);
}

}  // namespace words
