#include "archive/messages.h"

namespace kbx {

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

QString CannotOpenMessage(const QString& path) {
    return QStringLiteral("Не удалось открыть файл ") + path;
}

QString CorruptMessage(const QString& reason) {
    return QStringLiteral("Архив повреждён: ") + reason;
}

QString ExtractFailedMessage(const QString& name, const QString& reason) {
    return QStringLiteral("Не удалось извлечь ") + name + QStringLiteral(": ") + reason;
}

}  // namespace kbx
