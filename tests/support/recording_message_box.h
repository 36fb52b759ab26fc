#pragma once

#include <functional>
#include <vector>

#include "platform/message_box.h"

// Records each box. `onShow` runs while the box would be open, so a test can
// act at that moment (for example close the window behind it).
class RecordingMessageBox final : public MessageBoxService {
  public:
    struct Shown {
        QString text;
        Icon icon;
        QString title;
    };

    void Show(QWidget* parent, const QString& text, Icon icon, const QString& title) override;

    std::vector<Shown> shown;
    std::function<void(const Shown&)> onShow;
};
