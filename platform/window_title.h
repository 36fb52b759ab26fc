#pragma once
// The title the window manager shows for a top-level window.

class QWidget;

// Makes the title the window manager shows for the shown window `window`
// empty. Qt hands a window system the application's name when a window's
// title is empty; on X11 the title properties are emptied after Qt has set
// them. Other window systems keep Qt's title.
void ClearWindowManagerTitle(QWidget* window);
