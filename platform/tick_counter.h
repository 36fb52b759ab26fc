#pragma once
// Milliseconds for the elapsed-time reports. Readings come from a monotonic
// 64-bit clock, so the difference of two readings never wraps.

#include <QElapsedTimer>
#include <QtGlobal>

#include <deque>

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

// Returns the scripted readings in turn, then keeps the last one. `Advance`
// moves the current reading on.
class ScriptedTickCounter final : public TickCounter {
  public:
    qint64 Milliseconds() override;
    void Advance(qint64 ms) { now += ms; }

    std::deque<qint64> script;
    qint64 now = 0;
};
