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
    // the platform writes it, or refused as not fitting when too long for the buffer).
    void chooseFile(const QString& path) { fileAnswers_.append(path); }
    // The next open or save dialog is cancelled.
    void cancelFile() { fileAnswers_.append(std::nullopt); }
    // The next folder picker chooses `path`, or is cancelled.
    void chooseFolder(const QString& path) { folderAnswers_.append(path); }
    void cancelFolder() { folderAnswers_.append(std::nullopt); }

    const QList<FileRequest>& fileRequests() const { return fileRequests_; }
    const QList<BrowseInfoRecord>& folderRequests() const { return folderRequests_; }

    // The next answers of the other dialogs, in order. A chosen colour also
    // becomes the first custom colour.
    QList<quint32> colorAnswers;
    struct FontAnswer {
        QString face;
        qint32 tenthsOfPoint = 100, weight = 400;
        bool italic = false;  // never underlined or struck out
    };
    QList<FontAnswer> fontAnswers;
    // `deviceName` is written into the 32-character field as given: a name of
    // 32 characters or more fills it without a terminator. `device` comes
    // back as hDC when the record's flags ask for one.
    struct PrinterAnswer {
        QString deviceName;
        qint16 orientation = 1, duplex = 1, copies = 1;
        std::shared_ptr<QPrinter> device = nullptr;
    };
    QList<PrinterAnswer> printerAnswers;
    // The face the platform reports for any font made after a font dialog;
    // unset: the face asked for. With `fontCreationFails` no font is made.
    std::optional<QString> matchedFace;
    bool fontCreationFails = false;

    // Requests as they arrived.
    QList<ChooseColorRecord> colorRequests;
    QList<ChooseFontRecord> fontRequests;
    QList<LogFontRecord> faceRequests;
    QList<PrintDlgRecord> printerRequests;
    struct Message {
        QWidget* owner;
        QString text, caption;
        quint32 style;
    };
    QList<Message> messages;

    int GetOpenFileName(OpenFileNameRecord& ofn) override {
        return answerFile(FileDialogKind::Open, ofn);
    }
    int GetSaveFileName(OpenFileNameRecord& ofn) override {
        return answerFile(FileDialogKind::Save, ofn);
    }
    std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) override;
    int ChooseColor(ChooseColorRecord& cc) override;
    int ChooseFont(ChooseFontRecord& cf) override;
    std::optional<QString> TextFaceOf(const LogFontRecord& lf) override;
    int PrintDlg(PrintDlgRecord& pd) override;
    int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                   quint32 style) override {
        messages.append({owner, text, caption, style});
        return 1;
    }

  private:
    int answerFile(FileDialogKind kind, OpenFileNameRecord& ofn);

    QList<std::optional<QString>> fileAnswers_, folderAnswers_;
    QList<FileRequest> fileRequests_;
    QList<BrowseInfoRecord> folderRequests_;
};
