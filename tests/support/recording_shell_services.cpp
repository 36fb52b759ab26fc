#include "tests/support/recording_shell_services.h"

#include <QPixmap>
#include <QWidget>

namespace {
QString Owner(const QWidget* owner) {
    return owner ? owner->objectName() : QStringLiteral("-");
}
QString N(qint64 n) {
    return QString::number(n);
}
QString Hex(quint32 handle) {
    return "0x" + QString::number(handle, 16);
}
}  // namespace

void RecordingShellServices::record(const char* name, const QStringList& arguments) {
    calls.append(QString::fromUtf8(name) + "(" + arguments.join(", ") + ")");
}

void RecordingShellServices::ShutDownDialog(QWidget* owner) {
    record("ShutDownDialog", {Owner(owner)});
}

int RecordingShellServices::RestartDialog(QWidget* owner, const QString& prompt,
                                          quint32 restartKind) {
    record("RestartDialog", {Owner(owner), prompt, N(restartKind)});
    return kIdNo;
}

int RecordingShellServices::RunFileDlg(const RunDialogRequest& r) {
    record("RunFileDlg", {Owner(r.hwndOwner), Hex(r.hIcon), r.lpszDirectory, r.lpszTitle,
                          r.lpszDescription, N(r.uFlags)});
    return 0;
}

qint32 RecordingShellServices::FormatDrive(QWidget* owner, qint32 drive, qint32 fmtID,
                                           qint32 options) {
    record("FormatDrive", {Owner(owner), N(drive), N(fmtID), N(options)});
    return kShFmtNoFormat;
}

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

quint32 RecordingShellServices::CopyIcon(quint32 icon) {
    record("CopyIcon", {Hex(icon)});
    return icons.CopyIcon(icon);
}

bool RecordingShellServices::DestroyIcon(quint32 icon) {
    record("DestroyIcon", {Hex(icon)});
    return icons.DestroyIcon(icon);
}

bool RecordingShellServices::ObjectProperties(const ObjectPropertiesRequest& r) {
    record("ObjectProperties",
           {Owner(r.hwndOwner), N(r.shopObjectType), r.pszObjectName, r.pszPropertyPage});
    return true;
}

bool RecordingShellServices::StartDisplaySettings() {
    record("StartDisplaySettings");
    return true;
}

int RecordingShellServices::ShellAbout(const AboutRequest& r) {
    record("ShellAbout", {Owner(r.hwndOwner), r.szApp, r.szOtherStuff, Hex(r.hIcon)});
    return 1;
}

int RecordingShellServices::WinHelp(const HelpRequest& r) {
    record("WinHelp", {Owner(r.hwndOwner), r.lpszHelp, N(r.uCommand), N(r.dwData)});
    return 1;
}
