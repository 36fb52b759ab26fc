#pragma once

#include <vector>

#include "platform/shell_service.h"

// Records the links and answers with `result`.
class RecordingShell final : public ShellService {
  public:
    bool OpenUrl(const QUrl& url) override {
        opened.push_back(url);
        return result;
    }

    std::vector<QUrl> opened;
    bool result = true;
};
