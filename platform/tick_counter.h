#pragma once
// Milliseconds for the elapsed-time reports. Readings come from a monotonic
// 64-bit clock, so the difference of two readings never wraps.

#include <QElapsedTimer>
#include <QtGlobal>

class TickCounter {
  public:
    virtual ~TickCounter() = default;
    virtual qint64 Milliseconds() = 0;
};

// Milliseconds since the counter was made, from QElapsedTimer.
class QtTickCounter final : public TickCounter {
  public:
    QtTickCounter() { timer_.start(); }
    qint64 Milliseconds() override { return timer_.elapsed(); }

  private:
    QElapsedTimer timer_;
};
