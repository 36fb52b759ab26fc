#include "tests/support/recording_shell_services.h"

#include <QPixmap>

int RecordingShellServices::PickIconDlg(QWidget* owner, QString& path, int cchPath, int& index) {
    record("PickIconDlg", {Owner(owner), path, N(cchPath), N(index)});
    const auto answer = std::exchange(pickIcon, std::nullopt);
    if (!answer || answer->first.size() > cchPath) return 0;
    path = answer->first + QString(cchPath - answer->first.size(), QChar(u'\0'));
    index = answer->second;
    return 1;
}

int RecordingShellServices::ExtractIconEx(const QString& path, int index, quint32* large,
                                          quint32* small, int nIcons) {
    record("ExtractIconEx", {path, N(index), N(nIcons)});
    if (nIcons < 1 || index < 0 || index >= iconFiles.value(path, 0)) return 0;
    // Sized apart, so that a test can tell which of the two was kept.
    if (large) *large = icons.Add(QIcon(QPixmap(32, 32)));
    if (small) *small = icons.Add(QIcon(QPixmap(16, 16)));
    return 1;
}
