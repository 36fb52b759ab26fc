#pragma once
// Shell services for tests: records every call with its arguments, answers
// from a script, keeps icons in a table of its own, and never shows a
// dialog, starts a program or asks the system for anything.

#include <QHash>
#include <QStringList>
#include <QWidget>
#include <optional>
#include <utility>

#include "platform/icon_handles.h"
#include "platform/shell_services.h"

class RecordingShellServices : public ShellServices {
  public:
    // Every call in order as "Name(arguments)": an owner window as its object
    // name ("-": none), icon handles in hex, strings as they arrived.
    QStringList calls;
    // The file and index the next icon picker chooses; none: it is cancelled.
    std::optional<std::pair<QString, int>> pickIcon;
    // Icons in a file, by path: how many it holds.
    QHash<QString, int> iconFiles;
    IconHandleTable icons;
    QString trashFolder = QStringLiteral("/home/tester/.local/share/Trash/files");

    void ShutDownDialog(QWidget* owner) override { record("ShutDownDialog", {Owner(owner)}); }
    int RestartDialog(QWidget* owner, const QString& prompt, quint32 kind) override {
        return record("RestartDialog", {Owner(owner), prompt, N(kind)}, kIdNo);
    }
    int RunFileDlg(const RunDialogRequest& r) override {
        return record("RunFileDlg", {Owner(r.hwndOwner), Hex(r.hIcon), r.lpszDirectory, r.lpszTitle,
                                     r.lpszDescription, N(r.uFlags)});
    }
    qint32 FormatDrive(QWidget* owner, qint32 drive, qint32 fmtID, qint32 options) override {
        return record("FormatDrive", {Owner(owner), N(drive), N(fmtID), N(options)},
                      kShFmtNoFormat);
    }
    int PickIconDlg(QWidget* owner, QString& path, int cchPath, int& index) override;
    int ExtractIconEx(const QString& path, int index, quint32* large, quint32* small,
                      int nIcons) override;
    quint32 CopyIcon(quint32 icon) override {
        record("CopyIcon", {Hex(icon)});
        return icons.CopyIcon(icon);
    }
    bool DestroyIcon(quint32 icon) override {
        record("DestroyIcon", {Hex(icon)});
        return icons.DestroyIcon(icon);
    }
    bool ObjectProperties(const ObjectPropertiesRequest& r) override {
        return record("ObjectProperties",
                      {Owner(r.hwndOwner), N(r.shopObjectType), r.pszObjectName, r.pszPropertyPage},
                      1);
    }
    QString TrashFolder() const override { return trashFolder; }
    bool StartDisplaySettings() override { return record("StartDisplaySettings", {}, 1); }
    int ShellAbout(const AboutRequest& r) override {
        return record("ShellAbout", {Owner(r.hwndOwner), r.szApp, r.szOtherStuff, Hex(r.hIcon)}, 1);
    }
    int WinHelp(const HelpRequest& r) override {
        return record("WinHelp", {Owner(r.hwndOwner), r.lpszHelp, N(r.uCommand), N(r.dwData)}, 1);
    }

  private:
    // Appends the call and returns `result`.
    int record(const char* name, const QStringList& arguments, int result = 0) {
        calls.append(QString::fromUtf8(name) + "(" + arguments.join(", ") + ")");
        return result;
    }
    static QString Owner(const QWidget* w) { return w ? w->objectName() : QStringLiteral("-"); }
    static QString N(qint64 n) { return QString::number(n); }
    static QString Hex(quint32 handle) { return "0x" + QString::number(handle, 16); }
};
