#pragma once
// The texts that archive operations show, and their completion reports.

#include <QLocale>
#include <QString>

namespace kbx {

enum class Operation { Load, Extract, Unpack, Pack };

inline const QString kInfoTitle = QStringLiteral("Quillmere  v1.1");
inline const QString kErrorTitle = QStringLiteral("Ошибка");
inline const QString kCrLf = QStringLiteral("\r\n");
inline const QString kNoPathMessage = QStringLiteral("Введите путь к игровому архиву!");
inline const QString kNotKbxMessage =
    QStringLiteral("Этот файл не является KBX архивом игры Velmorra");

// d / 1000 seconds in its shortest form, with the locale's decimal separator
// and no digit grouping: 2000 -> "2", 1234 -> "1,234", 50 -> "0,05".
QString SecondsText(qint64 milliseconds, const QLocale& locale);

// "Обработка завершена", CR LF, the operation's lead-in, the seconds, " секунд".
QString CompletionText(Operation op, qint64 milliseconds, const QLocale& locale);

// Errors in the program's message form.
QString CannotOpenMessage(const QString& path);
QString CorruptMessage(const QString& reason);
QString ExtractFailedMessage(const QString& name, const QString& reason);

}  // namespace kbx
