#pragma once

#include <functional>

#include "platform/event_pump.h"

// Counts the calls; `onPump` (given the call number, from 1) stands for what
// the user does at that moment. With `processQtEvents` the real queue is
// handled too.
class RecordingEventPump final : public EventPump {
  public:
    void ProcessPendingEvents() override;

    int calls = 0;
    bool processQtEvents = false;
    std::function<void(int call)> onPump;
};
