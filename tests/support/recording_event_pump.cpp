#include "tests/support/recording_event_pump.h"

#include <QCoreApplication>

void RecordingEventPump::ProcessPendingEvents() {
    ++calls;
    if (processQtEvents) QCoreApplication::processEvents();
    if (onPump) onPump(calls);
}
