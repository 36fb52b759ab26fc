#include "platform/scripted_dialog_backend.h"

int ScriptedDialogBackend::answerFile(FileDialogKind kind, OpenFileNameRecord& ofn) {
    fileRequests_.append({kind, ofn});
    if (fileAnswers_.isEmpty()) return 0;
    const std::optional<QString> answer = fileAnswers_.takeFirst();
    if (!answer) return 0;
    return StoreFileChoice(ofn, *answer) ? 1 : 0;
}

int ScriptedDialogBackend::GetOpenFileName(OpenFileNameRecord& ofn) {
    return answerFile(FileDialogKind::Open, ofn);
}

int ScriptedDialogBackend::GetSaveFileName(OpenFileNameRecord& ofn) {
    return answerFile(FileDialogKind::Save, ofn);
}

std::optional<QString> ScriptedDialogBackend::BrowseForFolder(const BrowseInfoRecord& bi) {
    folderRequests_.append(bi);
    if (folderAnswers_.isEmpty()) return std::nullopt;
    return folderAnswers_.takeFirst();
}
