#pragma once
// Lets the window system handle what is pending from inside a long loop, so
// the window repaints and the user can act between items.

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
