#pragma once

namespace ui {
// Registers the windows' embedded pictures (the static library's resources
// are not registered on their own). Safe to call more than once.
void InitResources();
}  // namespace ui
