#include "platform/shell_service.h"

#include <QDesktopServices>

bool QtShellService::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
