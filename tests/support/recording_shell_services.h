#pragma once
// Shell services for tests: records every call with its arguments, answers
// from a script, keeps icons in a table of its own, and never shows a
// dialog, starts a program or asks the system for anything.

#include <QHash>
#include <QStringList>
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

    void ShutDownDialog(QWidget* owner) override;
    int RestartDialog(QWidget* owner, const QString& prompt, quint32 restartKind) override;
    int RunFileDlg(const RunDialogRequest& request) override;
    qint32 FormatDrive(QWidget* owner, qint32 drive, qint32 fmtID, qint32 options) override;
    int PickIconDlg(QWidget* owner, QString& path, int cchPath, int& index) override;
    int ExtractIconEx(const QString& path, int index, quint32* large, quint32* small,
                      int nIcons) override;
    quint32 CopyIcon(quint32 icon) override;
    bool DestroyIcon(quint32 icon) override;
    bool ObjectProperties(const ObjectPropertiesRequest& request) override;
    QString TrashFolder() const override { return trashFolder; }
    bool StartDisplaySettings() override;
    int ShellAbout(const AboutRequest& request) override;
    int WinHelp(const HelpRequest& request) override;

  private:
    void record(const char* name, const QStringList& arguments = {});
};
