#pragma once
// Shell services for tests: answers from a script, records every call in
// order, keeps icons in a table of its own, and never shows a dialog, starts
// a program or asks the system for anything.

#include <QHash>
#include <QList>
#include <QStringList>
#include <optional>

#include "platform/icon_handles.h"
#include "platform/shell_services.h"

class RecordingShellServices : public ShellServices {
  public:
    struct RestartCall {
        QWidget* owner;
        QString prompt;
        quint32 restartKind;
    };
    struct FormatCall {
        QWidget* owner;
        qint32 drive, fmtID, options;
    };
    struct PickIconCall {
        QWidget* owner;
        QString path;  // the buffer as it arrived
        int cchPath;
        int index;
    };
    struct PickIconAnswer {
        QString path;
        int index;
    };

    // Names of the calls, in order ("ShutDownDialog", "DestroyIcon" ...).
    QStringList calls;
    QList<QWidget*> shutDownCalls;
    QList<RestartCall> restartCalls;
    QList<RunDialogRequest> runCalls;
    QList<FormatCall> formatCalls;
    QList<PickIconCall> pickIconCalls;
    QList<ObjectPropertiesRequest> propertyCalls;
    QList<AboutRequest> aboutCalls;
    QList<HelpRequest> helpCalls;
    QList<quint32> destroyedIcons;
    int displaySettingsStarts = 0;

    // Answers. The next icon picker chooses this, or is cancelled (nothing
    // prepared).
    std::optional<PickIconAnswer> pickIcon;
    // Icons in a file, by path: how many it holds.
    QHash<QString, int> iconFiles;
    int restartAnswer = kIdNo;
    int helpResult = 1;
    QString trashFolder = QStringLiteral("/home/tester/.local/share/Trash/files");

    IconHandleTable icons;

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
};
