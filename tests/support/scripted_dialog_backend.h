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

    // The next colour dialog chooses `rgb`; with `addToCustom` the user also
    // put it into the first custom colour.
    void chooseColor(quint32 rgb, bool addToCustom = false) {
        colorAnswers_.append(ColorAnswer{rgb, addToCustom});
    }
    void cancelColor() { colorAnswers_.append(std::nullopt); }

    // What the user ends a font dialog with.
    struct FontAnswer {
        QString face;
        qint32 tenthsOfPoint = 100;
        qint32 weight = 400;
        bool italic = false;
        bool underline = false;
        bool strikeOut = false;
    };
    void chooseFont(const FontAnswer& answer) { fontAnswers_.append(answer); }
    void cancelFont() { fontAnswers_.append(std::nullopt); }
    // The face the platform reports for any font made after a font dialog;
    // unset: the face asked for. With `fontCreationFails` no font is made.
    std::optional<QString> matchedFace;
    bool fontCreationFails = false;

    // What the user ends a printer dialog with. `deviceName` is written into
    // the 32-character field as given: a name of 32 characters or more fills
    // it without a terminator.
    struct PrinterAnswer {
        QString deviceName;
        qint16 orientation = 1;
        qint16 duplex = 1;
        qint16 copies = 1;
        // Returned as hDC when the record's flags ask for a device.
        std::shared_ptr<QPrinter> device;
    };
    void choosePrinter(const PrinterAnswer& answer) { printerAnswers_.append(answer); }
    void cancelPrinter() { printerAnswers_.append(std::nullopt); }

    struct Message {
        QWidget* owner;
        QString text;
        QString caption;
        quint32 style;
    };

    const QList<FileRequest>& fileRequests() const { return fileRequests_; }
    // Records as they arrived.
    const QList<ChooseColorRecord>& colorRequests() const { return colorRequests_; }
    const QList<ChooseFontRecord>& fontRequests() const { return fontRequests_; }
    const QList<LogFontRecord>& faceRequests() const { return faceRequests_; }
    const QList<PrintDlgRecord>& printerRequests() const { return printerRequests_; }
    const QList<Message>& messages() const { return messages_; }
    const QList<BrowseInfoRecord>& folderRequests() const { return folderRequests_; }

    int GetOpenFileName(OpenFileNameRecord& ofn) override;
    int GetSaveFileName(OpenFileNameRecord& ofn) override;
    std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) override;
    int ChooseColor(ChooseColorRecord& cc) override;
    int ChooseFont(ChooseFontRecord& cf) override;
    std::optional<QString> TextFaceOf(const LogFontRecord& lf) override;
    int PrintDlg(PrintDlgRecord& pd) override;
    int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                   quint32 style) override;

  private:
    struct ColorAnswer {
        quint32 rgb;
        bool addToCustom;
    };

    int answerFile(FileDialogKind kind, OpenFileNameRecord& ofn);

    QList<std::optional<QString>> fileAnswers_;
    QList<std::optional<QString>> folderAnswers_;
    QList<FileRequest> fileRequests_;
    QList<BrowseInfoRecord> folderRequests_;
    QList<std::optional<ColorAnswer>> colorAnswers_;
    QList<std::optional<FontAnswer>> fontAnswers_;
    QList<std::optional<PrinterAnswer>> printerAnswers_;
    QList<ChooseColorRecord> colorRequests_;
    QList<ChooseFontRecord> fontRequests_;
    QList<LogFontRecord> faceRequests_;
    QList<PrintDlgRecord> printerRequests_;
    QList<Message> messages_;
};
