#pragma once

#include <deque>

#include "platform/tick_counter.h"

// Returns the scripted readings in turn, then keeps the last one.
class ScriptedTickCounter final : public TickCounter {
  public:
    qint64 Milliseconds() override;

    std::deque<qint64> script;
    qint64 now = 0;
};
