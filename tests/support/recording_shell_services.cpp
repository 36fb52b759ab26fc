#include "tests/support/recording_shell_services.h"

#include <QPixmap>

void RecordingShellServices::ShutDownDialog(QWidget* owner) {
    calls.append("ShutDownDialog");
    shutDownCalls.append(owner);
}

int RecordingShellServices::RestartDialog(QWidget* owner, const QString& prompt,
                                          quint32 restartKind) {
    calls.append("RestartDialog");
    restartCalls.append({owner, prompt, restartKind});
    return restartAnswer;
}

int RecordingShellServices::RunFileDlg(const RunDialogRequest& request) {
    calls.append("RunFileDlg");
    runCalls.append(request);
    return 0;
}

qint32 RecordingShellServices::FormatDrive(QWidget* owner, qint32 drive, qint32 fmtID,
                                           qint32 options) {
    calls.append("FormatDrive");
    formatCalls.append({owner, drive, fmtID, options});
    return kShFmtNoFormat;
}

int RecordingShellServices::PickIconDlg(QWidget* owner, QString& path, int cchPath, int& index) {
    calls.append("PickIconDlg");
    pickIconCalls.append({owner, path, cchPath, index});
    if (!pickIcon) return 0;
    const PickIconAnswer answer = *pickIcon;
    pickIcon.reset();
    if (answer.path.size() > cchPath) return 0;
    path = answer.path + QString(cchPath - answer.path.size(), QChar(u'\0'));
    index = answer.index;
    return 1;
}

int RecordingShellServices::ExtractIconEx(const QString& path, int index, quint32* large,
                                          quint32* small, int nIcons) {
    calls.append("ExtractIconEx");
    if (nIcons < 1 || index < 0 || index >= iconFiles.value(path, 0)) return 0;
    // Sized apart, so that a test can tell which of the two was kept.
    if (large) *large = icons.Add(QIcon(QPixmap(32, 32)));
    if (small) *small = icons.Add(QIcon(QPixmap(16, 16)));
    return 1;
}

quint32 RecordingShellServices::CopyIcon(quint32 icon) {
    calls.append("CopyIcon");
    return icons.CopyIcon(icon);
}

bool RecordingShellServices::DestroyIcon(quint32 icon) {
    calls.append("DestroyIcon");
    destroyedIcons.append(icon);
    return icons.DestroyIcon(icon);
}

bool RecordingShellServices::ObjectProperties(const ObjectPropertiesRequest& request) {
    calls.append("ObjectProperties");
    propertyCalls.append(request);
    return true;
}

bool RecordingShellServices::StartDisplaySettings() {
    calls.append("StartDisplaySettings");
    ++displaySettingsStarts;
    return true;
}

int RecordingShellServices::ShellAbout(const AboutRequest& request) {
    calls.append("ShellAbout");
    aboutCalls.append(request);
    return 1;
}

int RecordingShellServices::WinHelp(const HelpRequest& request) {
    calls.append("WinHelp");
    helpCalls.append(request);
    return helpResult;
}
