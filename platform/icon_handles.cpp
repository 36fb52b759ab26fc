#include "platform/icon_handles.h"

quint32 IconHandleTable::Add(const QIcon& icon) {
    // Skip 0 and handles still in use when the counter wraps round.
    do {
        ++next_;
    } while (next_ == 0 || icons_.contains(next_));
    icons_.insert(next_, icon);
    return next_;
}

quint32 IconHandleTable::CopyIcon(quint32 handle) {
    const auto it = icons_.constFind(handle);
    if (it == icons_.constEnd()) return 0;
    return Add(*it);
}

IconHandleTable& ProgramIcons() {
    // Kept for the life of the process: icons must not be destroyed after
    // the application object, as a static would be.
    static IconHandleTable* table = new IconHandleTable;
    return *table;
}
