#include "platform/event_pump.h"

#include <QCoreApplication>

void QtEventPump::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}
