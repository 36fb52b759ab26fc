#include "tests/support/scripted_tick_counter.h"

qint64 ScriptedTickCounter::Milliseconds() {
    if (!script.empty()) {
        now = script.front();
        script.pop_front();
    }
    return now;
}
