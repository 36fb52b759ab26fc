#pragma once
// The desktop services the windows use. The program passes the Qt
// implementations; tests pass the recording and scripted doubles.

class DialogBackend;
class EventPump;
class MessageBoxService;
class ShellService;
class TickCounter;
class WindowTitles;

namespace ui {

struct Services {
    MessageBoxService* messages = nullptr;
    TickCounter* ticks = nullptr;
    EventPump* events = nullptr;
    ShellService* shell = nullptr;
    DialogBackend* dialogs = nullptr;
    WindowTitles* titles = nullptr;
};

}  // namespace ui
