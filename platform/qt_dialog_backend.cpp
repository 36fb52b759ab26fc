#include "platform/qt_dialog_backend.h"

#include <QFileDialog>

namespace {

int RunFileDialog(OpenFileNameRecord& ofn, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(ofn.hwndOwner);
    dialog.setAcceptMode(mode);
    if (!ofn.lpstrTitle.isEmpty()) {
        dialog.setWindowTitle(ofn.lpstrTitle);
    } else {
        dialog.setWindowTitle(mode == QFileDialog::AcceptOpen ? QStringLiteral("Открыть")
                                                              : QStringLiteral("Сохранить как"));
    }

    // Without the must-exist bit any typed name is accepted, as the record
    // asks; without the overwrite bit an existing file is replaced silently.
    dialog.setFileMode((ofn.Flags & kOfnFileMustExist) ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(ofn.Flags & kOfnOverwritePrompt));

    const QStringList filters = QtNameFilters(ofn.lpstrFilter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const qsizetype index = ofn.nFilterIndex > 0 ? qsizetype(ofn.nFilterIndex) - 1 : 0;
        if (index < filters.size()) dialog.selectNameFilter(filters[index]);
    }
    if (!ofn.lpstrInitialDir.isEmpty()) dialog.setDirectory(ofn.lpstrInitialDir);
    dialog.setDefaultSuffix(ofn.lpstrDefExt);
    // A proposed name with a folder opens the dialog in that folder.
    const QString proposed = TextBeforeNul(ofn.lpstrFile);
    if (!proposed.isEmpty()) dialog.selectFile(proposed);

    if (dialog.exec() != QDialog::Accepted) return 0;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return 0;
    return StoreFileChoice(ofn, chosen.first()) ? 1 : 0;
}

}  // namespace

int QtDialogBackend::GetOpenFileName(OpenFileNameRecord& ofn) {
    return RunFileDialog(ofn, QFileDialog::AcceptOpen);
}

int QtDialogBackend::GetSaveFileName(OpenFileNameRecord& ofn) {
    return RunFileDialog(ofn, QFileDialog::AcceptSave);
}

std::optional<QString> QtDialogBackend::BrowseForFolder(const BrowseInfoRecord& bi) {
    QFileDialog dialog(bi.hwndOwner);
    dialog.setWindowTitle(bi.lpszTitle.isEmpty() ? QStringLiteral("Обзор папок") : bi.lpszTitle);
    if (bi.ulFlags & kBifBrowseIncludeFiles) {
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    }
    if (!bi.pidlRoot.isEmpty()) dialog.setDirectory(bi.pidlRoot);

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    return chosen.first();
}
