#pragma once
// Shell services on a Linux desktop, with Qt dialogs. Every program start,
// every request to the session or system manager (systemctl, loginctl) and
// every opening of a file with the desktop's handler goes through the
// launcher, so that tests can put a recorder in its place.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "platform/shell_services.h"

class IconHandleTable;

struct ProgramLauncher {
    std::function<bool(const QString& program, const QStringList& arguments,
                       const QString& workingDirectory)>
        startDetached;
    std::function<bool(const QUrl& url)> openUrl;
    // Full path of a program found on the search path, or empty.
    std::function<QString(const QString& name)> findExecutable;
};

// Starts programs and opens files for real.
ProgramLauncher SystemLauncher();

// A program and its arguments.
struct CommandLine {
    QString program;
    QStringList arguments;
    bool operator==(const CommandLine&) const = default;
};

// The request to the session or system manager for a restart kind (kEwx...
// bits): log off the session `sessionId` (empty: the caller's own), power off
// or reboot; with the force bit, programs that hold the action up are not
// waited for.
CommandLine PowerActionCommand(quint32 restartKind, const QString& sessionId);

class LinuxShellServices : public ShellServices {
  public:
    // `icons` holds the icon handles (nullptr: the program's table).
    explicit LinuxShellServices(ProgramLauncher launcher = SystemLauncher(),
                                IconHandleTable* icons = nullptr);

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
    QString TrashFolder() const override;
    bool StartDisplaySettings() override;
    int ShellAbout(const AboutRequest& request) override;
    int WinHelp(const HelpRequest& request) override;

  private:
    bool RunPowerAction(quint32 restartKind);
    bool StartCommandLine(const QString& commandLine, const QString& directory, bool calcDirectory);

    ProgramLauncher launcher_;
    IconHandleTable* icons_;
    QString lastCommand_;  // proposed by the next run dialog
};
