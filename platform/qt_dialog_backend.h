#pragma once
// Dialog backend that shows Qt's standard dialogs (file, folder, colour,
// font, printer, message box), modal over the record's owner (or over the
// whole application without one).

#include "platform/dialog_backend.h"

class QtDialogBackend : public DialogBackend {
  public:
    // Nothing persists between runs: Qt's dialogs record their history,
    // last folder and custom colours in the user's QtProject.conf, and this
    // turns that record off for the whole program.
    QtDialogBackend();

    int GetOpenFileName(OpenFileNameRecord& ofn) override;
    int GetSaveFileName(OpenFileNameRecord& ofn) override;
    std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) override;

    // A QColorDialog. The custom-colour part (the spectrum, the value fields
    // and "Add to Custom Colors") shows at once with kCcFullOpen, never with
    // kCcPreventFullOpen, and otherwise behind a button "Определить цвет >>".
    int ChooseColor(ChooseColorRecord& cc) override;
    // A QFontDialog. It has no colour choice: rgbColors comes back unchanged.
    int ChooseFont(ChooseFontRecord& cf) override;
    // The family Qt resolves for the record (QFontInfo).
    std::optional<QString> TextFaceOf(const LogFontRecord& lf) override;
    // A QPrintDialog for a printer set up from the two records; with
    // kPdReturnDefault the default printer comes back without a dialog.
    int PrintDlg(PrintDlgRecord& pd) override;
    int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                   quint32 style) override;
};
