#include <gtest/gtest.h>
#include <QLocale>

#include <cerrno>

#include "ui/messages.h"

// In Russian with a decimal comma, in English with a point.
TEST(Messages, SecondsInTheShortestForm) {
    const QLocale ru(QLocale::Russian, QLocale::Russia),
        en(QLocale::English, QLocale::UnitedStates);
    const std::pair<qint64, QString> cases[] = {
        // 2000, 1234, 1500 and 20 ms are the window's completion texts (form1_test).
        {50, "0,05"},        {0, "0"},        {1, "0,001"}, {1234567890, "1234567,89"},
        {86400000, "86400"}, {-1500, "-1,5"},
    };
    for (const auto& [ms, russian] : cases) {
        EXPECT_EQ(ui::SecondsText(ms, ru), russian) << ms;
        EXPECT_EQ(ui::SecondsText(ms, en), QString(russian).replace(',', '.')) << ms;
    }
}

namespace {

using kbx::Failure;
using kbx::NameRule;
using enum kbx::Reason;
using enum ui::Operation;

kbx::Result Unusable(Failure f) {
    return kbx::Result::Unusable(std::move(f));
}
// A failure of the whole run, about `subject`.
kbx::Result Unusable(kbx::Reason why, int error, const QString& subject) {
    return Unusable(Failure(why, error, NameRule::None, -1, subject));
}
kbx::Result EntriesFailed(std::vector<Failure> failures) {
    kbx::Result r;
    r.outcome = kbx::Outcome::EntriesFailed;
    r.failures = std::move(failures);
    return r;
}

}  // namespace

// Every engine failure the window can meet, in the exact words it shows.
TEST(Messages, FailuresInTheWindowsWords) {
    const QString a = QStringLiteral("/games/a.kbx"), e = QStringLiteral("Version\\e.dat");
    const struct {
        ui::Operation op;
        kbx::Result result;
        const char* text;
    } cases[] = {
        // EINVAL is not "not a regular file": that is the engine's NotRegularFile.
        {Load, Unusable(CannotOpenArchive, EINVAL, a),
         "Не удалось открыть файл /games/a.kbx: недопустимый аргумент"},
        {Load, Unusable(NotRegularFile, 0, a),
         "/games/a.kbx: это не обычный файл (папка, канал, сокет или устройство)"},
        {Load, Unusable({HeaderTooShort}), "Архив повреждён: файл короче заголовка"},
        {Load, Unusable({NegativeCount}), "Архив повреждён: отрицательное число записей"},
        {Load, Unusable({DirectoryEndMismatch}),
         "Архив повреждён: конец каталога не совпадает с числом записей"},
        {Load, Unusable({DirectoryPastEnd}), "Архив повреждён: каталог выходит за конец файла"},
        {Unpack, Unusable(ArchiveChanged, 0, a), "Архив изменился после загрузки: /games/a.kbx"},
        {Unpack, Unusable(CannotOpenFolder, EACCES, "/out"),
         "Не удалось открыть папку /out: доступ запрещён"},
        // A value without Russian words is numbered, never shown in English.
        {Unpack, Unusable(CannotOpenFolder, ECHILD, "/out"),
         "Не удалось открыть папку /out: системная ошибка 10"},
        {Unpack, Unusable(CannotPrepareFolder, ENOTDIR, "/out/Version/Data"),
         "Не удалось создать папку /out/Version/Data: это не папка"},
        {Extract, EntriesFailed({{UnsafeName, 0, NameRule::BadComponent, 0, e, ".."}}),
         "Не удалось извлечь Version\\e.dat: недопустимое имя (недопустимая часть пути «..»)"},
        {Unpack,
         EntriesFailed({{UnsafeName, 0, NameRule::DriveLetter, 0, "C:\\x"},
                        {CannotCreateFolder, ENOSPC, NameRule::None, 1, "1"},
                        {CannotCreateFile, EROFS, NameRule::None, 2, "2"},
                        {ReadFailed, EIO, NameRule::None, 3, "3"},
                        {WriteFailed, EDQUOT, NameRule::None, 4, "4"},
                        {Truncated, 0, NameRule::None, 5, "5"}}),
         "Распаковка завершена с ошибками\r\nНе извлечено файлов: 6\r\n"
         "C:\\x: недопустимое имя (путь с буквой диска)\r\n"
         "1: не удалось создать папку: на диске не осталось места\r\n"
         "2: не удалось создать файл: файловая система доступна только для чтения\r\n"
         "3: ошибка чтения: ошибка ввода-вывода\r\n"
         "4: ошибка записи: превышена дисковая квота\r\n…"},
        {Pack, Unusable(CannotCreateArchive, EACCES, "/ro/a.kbx"),
         "Архив не создан: /ro/a.kbx: доступ запрещён"},  // a read-only folder
        {Pack, Unusable(NoTree, 0, "/r"),
         "Архив не создан: в папке /r нет папок Version и Version/Data"},
        {Pack, Unusable({UnsafeName, 0, NameRule::NotEncodable, -1, e}),
         "Архив не создан: Version\\e.dat: имя нельзя записать в кодировке Windows-1251"},
        {Pack, Unusable(FileChanged, 0, e),
         "Архив не создан: Version\\e.dat: файл изменился во время чтения"},
        {Pack, Unusable({TooLarge}),
         "Архив не создан: данные превысили бы предел формата в 2147483647 байт"},
        {Pack, Unusable(TargetNotRegular, 0, "/dev/null"),
         "Архив не создан: /dev/null: это не обычный файл (папка, канал, сокет или устройство); "
         "ничего не записано"},
        {Pack, Unusable({UnsafeName, 0, NameRule::CaseDuplicate, -1, "Version\\Z", "Version\\z"}),
         "Архив не создан: Version\\Z: имя отличается от другого только регистром букв"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::FailureMessage(c.op, c.result), QString::fromUtf8(c.text));
    EXPECT_EQ(ui::FailureMessage(Load, kbx::Result{}), QString());
    // Exactly five failures: every name is shown, with no "…" after them.
    const std::vector<Failure> five(5, {Truncated, 0, NameRule::None, 5, "5"});
    EXPECT_FALSE(ui::FailureMessage(Unpack, EntriesFailed(five)).endsWith(u'…'));
    EXPECT_EQ(ui::WarningMessage({OutputInTree, 0, NameRule::None, -1, e}),
              "Архив записан без файла Version\\e.dat: это прежняя копия самого архива");
}
