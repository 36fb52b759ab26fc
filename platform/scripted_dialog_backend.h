#pragma once
// Dialog backend for tests: answers each dialog from a prepared script and
// records every request it was given. A dialog with no answer left in the
// script is cancelled, so an unplanned dialog never blocks a test.

#include <QList>
#include <optional>

#include "platform/dialog_backend.h"

class ScriptedDialogBackend : public DialogBackend {
  public:
    enum class FileDialogKind { Open, Save };

    // One open or save request, as the record arrived.
    struct FileRequest {
        FileDialogKind kind;
        OpenFileNameRecord record;
    };

    // The next open or save dialog chooses `path` (written into the record as
    // the platform writes it; a path too long for the buffer fails the call).
    void chooseFile(const QString& path) { fileAnswers_.append(path); }
    // The next open or save dialog is cancelled.
    void cancelFile() { fileAnswers_.append(std::nullopt); }
    // The next folder picker chooses `path`, or is cancelled.
    void chooseFolder(const QString& path) { folderAnswers_.append(path); }
    void cancelFolder() { folderAnswers_.append(std::nullopt); }

    const QList<FileRequest>& fileRequests() const { return fileRequests_; }
    const QList<BrowseInfoRecord>& folderRequests() const { return folderRequests_; }
    // Answers prepared but not yet used.
    qsizetype pendingFileAnswers() const { return fileAnswers_.size(); }
    qsizetype pendingFolderAnswers() const { return folderAnswers_.size(); }

    int GetOpenFileName(OpenFileNameRecord& ofn) override;
    int GetSaveFileName(OpenFileNameRecord& ofn) override;
    std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) override;

  private:
    int answerFile(FileDialogKind kind, OpenFileNameRecord& ofn);

    QList<std::optional<QString>> fileAnswers_;
    QList<std::optional<QString>> folderAnswers_;
    QList<FileRequest> fileRequests_;
    QList<BrowseInfoRecord> folderRequests_;
};
