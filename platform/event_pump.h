#pragma once
// Lets the window system handle what is pending from inside a long loop, so
// the window repaints and the user can act between items.

#include <functional>

class EventPump {
  public:
    virtual ~EventPump() = default;
    virtual void ProcessPendingEvents() = 0;
};

// QCoreApplication::processEvents.
class QtEventPump final : public EventPump {
  public:
    void ProcessPendingEvents() override;
};

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
