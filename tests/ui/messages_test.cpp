#include <gtest/gtest.h>
#include <QLocale>

#include <cerrno>
#include <cstring>

#include "ui/messages.h"

TEST(Messages, SecondsInTheShortestForm) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    const struct {
        qint64 ms;
        const char* russian;
        const char* english;
    } cases[] = {
        {2000, "2", "2"},
        {1234, "1,234", "1.234"},
        {50, "0,05", "0.05"},
        {1500, "1,5", "1.5"},
        {0, "0", "0"},
        {20, "0,02", "0.02"},
        {1, "0,001", "0.001"},
        {1234567890, "1234567,89", "1234567.89"},
        {86400000, "86400", "86400"},
        {-1500, "-1,5", "-1.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::SecondsText(c.ms, ru), QString::fromUtf8(c.russian)) << c.ms;
        EXPECT_EQ(ui::SecondsText(c.ms, en), QString::fromUtf8(c.english)) << c.ms;
    }
}

namespace {

using kbx::Failure;
using kbx::NameRule;
using kbx::Reason;

kbx::Result Unusable(Failure f) {
    return kbx::Result::Unusable(std::move(f));
}

kbx::Result EntriesFailed(std::vector<Failure> failures) {
    kbx::Result r;
    r.outcome = kbx::Outcome::EntriesFailed;
    r.failures = std::move(failures);
    return r;
}

// Every engine failure the window can meet, in the exact words it shows.
TEST(Messages, FailuresInTheWindowsWords) {
    const QString a = QStringLiteral("/games/a.kbx");
    const QString e = QStringLiteral("Version\\e.dat");
    const struct {
        const char* what;
        ui::Operation op;
        kbx::Result result;
        const char* text;
    } cases[] = {
        {"missing archive", ui::Operation::Load,
         Unusable({Reason::CannotOpenArchive, ENOENT, NameRule::None, -1, a}),
         "Не удалось открыть файл /games/a.kbx: нет такого файла или папки"},
        {"not an archive", ui::Operation::Load,
         Unusable({Reason::NotKbx, 0, NameRule::None, -1, a}),
         "Этот файл не является KBX архивом игры Velmorra"},
        {"short header", ui::Operation::Load, Unusable({Reason::HeaderTooShort}),
         "Архив повреждён: файл короче заголовка"},
        {"negative count", ui::Operation::Load, Unusable({Reason::NegativeCount}),
         "Архив повреждён: отрицательное число записей"},
        {"directory end", ui::Operation::Load, Unusable({Reason::DirectoryEndMismatch}),
         "Архив повреждён: конец каталога не совпадает с числом записей"},
        {"directory past end", ui::Operation::Load, Unusable({Reason::DirectoryPastEnd}),
         "Архив повреждён: каталог выходит за конец файла"},
        {"changed", ui::Operation::Unpack,
         Unusable({Reason::ArchiveChanged, 0, NameRule::None, -1, a}),
         "Архив изменился после загрузки: /games/a.kbx"},
        {"folder", ui::Operation::Unpack,
         Unusable({Reason::CannotOpenFolder, EACCES, NameRule::None, -1, "/out"}),
         "Не удалось открыть папку /out: доступ запрещён"},
        {"version", ui::Operation::Unpack,
         Unusable({Reason::CannotPrepareFolder, ENOTDIR, NameRule::None, -1, "/out/Version/Data"}),
         "Не удалось создать папку /out/Version/Data: это не папка"},
        {"single", ui::Operation::Extract,
         EntriesFailed({{Reason::UnsafeName, 0, NameRule::BadComponent, 0, e, ".."}}),
         "Не удалось извлечь Version\\e.dat: недопустимое имя (недопустимая часть пути «..»)"},
        {"summary", ui::Operation::Unpack,
         EntriesFailed({{Reason::UnsafeName, 0, NameRule::DriveLetter, 0, "C:\\x"},
                        {Reason::CannotCreateFolder, ENOSPC, NameRule::None, 1, "1"},
                        {Reason::CannotCreateFile, EROFS, NameRule::None, 2, "2"},
                        {Reason::ReadFailed, EIO, NameRule::None, 3, "3"},
                        {Reason::WriteFailed, EDQUOT, NameRule::None, 4, "4"},
                        {Reason::Truncated, 0, NameRule::None, 5, "5"}}),
         "Распаковка завершена с ошибками\r\nНе извлечено файлов: 6\r\n"
         "C:\\x: недопустимое имя (путь с буквой диска)\r\n"
         "1: не удалось создать папку: на диске не осталось места\r\n"
         "2: не удалось создать файл: файловая система доступна только для чтения\r\n"
         "3: ошибка чтения: ошибка ввода-вывода\r\n"
         "4: ошибка записи: превышена дисковая квота\r\n…"},
        {"pack tree", ui::Operation::Pack, Unusable({Reason::NoTree, 0, NameRule::None, -1, "/r"}),
         "Архив не создан: в папке /r нет папок Version и Version/Data"},
        {"pack name", ui::Operation::Pack,
         Unusable({Reason::UnsafeName, 0, NameRule::NotEncodable, -1, e}),
         "Архив не создан: Version\\e.dat: имя нельзя записать в кодировке Windows-1251"},
        {"pack changed", ui::Operation::Pack,
         Unusable({Reason::FileChanged, 0, NameRule::None, -1, e}),
         "Архив не создан: Version\\e.dat: файл изменился во время упаковки"},
        {"pack size", ui::Operation::Pack, Unusable({Reason::TooLarge}),
         "Архив не создан: данные больше 2 147 483 647 байт, предела формата"},
        {"pack over a device", ui::Operation::Pack,
         Unusable({Reason::TargetNotRegular, 0, NameRule::None, -1, "/dev/null"}),
         "Архив не создан: /dev/null: это не обычный файл"},
        {"pack case twins", ui::Operation::Pack,
         Unusable({Reason::UnsafeName, 0, NameRule::CaseDuplicate, -1, "Version\\Z", "Version\\z"}),
         "Архив не создан: Version\\Z: имя отличается от другого только регистром букв"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ui::FailureMessage(c.op, c.result), QString::fromUtf8(c.text));
    }
    EXPECT_EQ(ui::FailureMessage(ui::Operation::Load, kbx::Result{}), QString());
    EXPECT_EQ(ui::WarningMessage({Reason::OutputInTree, 0, NameRule::None, -1, e}),
              QStringLiteral("Архив записан без файла Version\\e.dat: это прежняя копия самого "
                             "архива"));
}

// Reasons a user meets are Russian; others keep the system's own text.
TEST(Messages, SystemReasonsInRussian) {
    const struct {
        int error;
        const char* text;
    } cases[] = {
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
        {ENFILE, "слишком много открытых файлов"},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::SystemReason(c.error), QString::fromUtf8(c.text));
    EXPECT_EQ(ui::SystemReason(EXDEV), QString::fromLocal8Bit(std::strerror(EXDEV)));
}

}  // namespace
