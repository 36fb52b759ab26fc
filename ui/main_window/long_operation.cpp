#include "ui/main_window/long_operation.h"

#include <QVariant>

#include "platform/event_pump.h"

namespace ui {

namespace {
const char* const kEnabled = "enabled";  // both QWidget and QAction have it
}

LongOperation::LongOperation(EventPump* events, std::vector<QObject*> commands) : events_(events) {
    for (QObject* c : commands) commands_.emplace_back(c, true);
}

bool LongOperation::Run(const std::function<void()>& work) {
    if (busy_) return false;
    for (auto& [command, saved] : commands_) {
        if (!command) continue;
        saved = command->property(kEnabled).toBool();
        command->setProperty(kEnabled, false);
    }
    busy_ = true;
    stop_.requested = false;
    // Restores the states even when `work` throws.
    struct End {
        LongOperation& op;
        ~End() {
            op.busy_ = false;
            for (auto& [command, saved] : op.commands_)
                if (command) command->setProperty(kEnabled, saved);
        }
    } end{*this};
    work();
    return true;
}

kbx::Progress LongOperation::Yielding(EveryOther items, std::function<void()> step) {
    const int parity = items == EveryOther::FromSecond ? 1 : 0;
    return [this, parity, step = std::move(step)](qint64 item) {
        if (item % 2 != parity) return;
        if (events_) events_->ProcessPendingEvents();
        if (closeRequested_) stop_.requested = true;
        if (step) step();
    };
}

void LongOperation::SetEnabled(QObject* command, bool enabled) {
    if (busy_) {
        for (auto& [c, saved] : commands_)
            if (c == command) {
                saved = enabled;
                return;
            }
    }
    command->setProperty(kEnabled, enabled);
}

bool LongOperation::DeferClose() {
    if (!busy_) return false;
    closeRequested_ = true;
    stop_.requested = true;
    return true;
}

}  // namespace ui
