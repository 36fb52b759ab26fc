#include "platform/event_pump.h"

#include <QCoreApplication>

void QtEventPump::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}

void RecordingEventPump::ProcessPendingEvents() {
    ++calls;
    if (processQtEvents) QCoreApplication::processEvents();
    if (onPump) onPump(calls);
}
