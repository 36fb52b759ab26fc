#include "ui/resources.h"

#include <QtGlobal>

static void InitUiResources() {
    Q_INIT_RESOURCE(about);
    Q_INIT_RESOURCE(icons);
}

namespace ui {
void InitResources() {
    static const bool done = (InitUiResources(), true);
    Q_UNUSED(done);
}
}  // namespace ui
