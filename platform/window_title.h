#pragma once
// The title the window manager shows for a top-level window.

class QWidget;

class WindowTitles {
  public:
    virtual ~WindowTitles() = default;
    // Makes the title the window manager shows for the shown window
    // `window` empty.
    virtual void ClearTitle(QWidget* window) = 0;
};

// Qt hands a window system the application's name when a window's title is
// empty; on X11 the title properties are emptied after Qt has set them.
// Other window systems keep Qt's title.
class QtWindowTitles final : public WindowTitles {
  public:
    void ClearTitle(QWidget* window) override;
};
