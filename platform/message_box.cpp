#include "platform/message_box.h"

#include <QMessageBox>

void QtMessageBoxService::Show(QWidget* parent, const QString& text, Icon icon,
                               const QString& title) {
    // The texts use CR LF between lines; a label breaks on LF alone.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::Critical,
                    title, shown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
