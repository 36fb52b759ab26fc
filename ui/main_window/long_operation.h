#pragma once
// The one protocol every long window command follows: no second command
// while one runs, the commands that could start one disabled for its length
// and restored afterwards, pending events handled between items so the
// window stays alive, and a close during a run deferred until the run has
// stopped after its current item. A new command joins by calling Run.

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>
#include <vector>

#include "archive/archive.h"

class EventPump;

namespace ui {

class LongOperation {
  public:
    // `commands` are the controls (widgets or actions) that start a long
    // operation; they are disabled while one runs.
    LongOperation(EventPump* events, std::vector<QObject*> commands);

    bool Busy() const { return busy_; }

    // Runs `work` with the commands disabled. Does nothing and returns false
    // while another operation runs.
    bool Run(const std::function<void()>& work);

    // Which items a progress hook acts before: every other one, from the
    // first (indexes 0, 2, 4...) or from the second (1, 3, 5...).
    enum class EveryOther { FromFirst, FromSecond };
    // A progress hook for the engine: before each of `items` it handles
    // pending events and then calls `step`.
    kbx::Progress Yielding(EveryOther items, std::function<void()> step);
    const kbx::StopFlag* Stop() const { return &stop_; }

    // Enables or disables a command now or, while an operation runs, when
    // it ends (the end restores the states it saved).
    void SetEnabled(QObject* command, bool enabled);

    // A close request. During a run it stops the run after its current item
    // and returns true: the caller ignores the close and calls
    // TakeCloseRequest when the run has returned.
    bool DeferClose();
    // True once after a deferred close.
    bool TakeCloseRequest() { return std::exchange(closeRequested_, false); }
    bool CloseRequested() const { return closeRequested_; }

  private:
    EventPump* events_;
    std::vector<std::pair<QPointer<QObject>, bool>> commands_;  // with saved states
    bool busy_ = false;
    bool closeRequested_ = false;
    kbx::StopFlag stop_;
};

}  // namespace ui
