#include "tests/support/recording_message_box.h"

void RecordingMessageBox::Show(QWidget*, const QString& text, Icon icon, const QString& title) {
    shown.push_back({text, icon, title});
    if (onShow) onShow(shown.back());
}
