#pragma once
// The window's words: completion reports, titles, and the Russian text of
// every engine failure. The engine reports what happened as data; these
// functions are the only place that turns it into sentences for the window.

#include <QLocale>
#include <QString>

#include "archive/result.h"

namespace ui {

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

// The system's reason for an errno value, in Russian (words::ErrnoText).
QString SystemReason(int error);

// The message for a result that is not ok: the reason an operation could
// not start, the single extraction that failed, or the unpack summary with
// the first five failed names. Empty for a result that needs no message.
QString FailureMessage(Operation op, const kbx::Result& result);

// A warning that a result carries although it is complete.
QString WarningMessage(const kbx::Failure& warning);

}  // namespace ui
