#pragma once

#include <vector>

#include "platform/message_box.h"

// Records each box instead of showing it.
class RecordingMessageBox final : public MessageBoxService {
  public:
    struct Shown {
        QString text;
        Icon icon;
        QString title;
    };

    void Show(QWidget*, const QString& text, Icon icon, const QString& title) override {
        shown.push_back({text, icon, title});
    }

    std::vector<Shown> shown;
};
