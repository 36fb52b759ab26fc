#include "tests/support/scripted_dialog_backend.h"

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

namespace {
// Takes the next prepared answer; none left counts as a cancel.
template <typename T>
std::optional<T> Next(QList<std::optional<T>>& answers) {
    if (answers.isEmpty()) return std::nullopt;
    return answers.takeFirst();
}
}  // namespace

int ScriptedDialogBackend::ChooseColor(ChooseColorRecord& cc) {
    colorRequests_.append(cc);
    const std::optional<ColorAnswer> answer = Next(colorAnswers_);
    if (!answer) return 0;
    cc.rgbResult = answer->rgb;
    if (answer->addToCustom) cc.lpCustColors[0] = answer->rgb;
    return 1;
}

int ScriptedDialogBackend::ChooseFont(ChooseFontRecord& cf) {
    fontRequests_.append(cf);
    const std::optional<FontAnswer> answer = Next(fontAnswers_);
    if (!answer) return 0;
    LogFontRecord& lf = cf.lpLogFont;
    lf.lfFaceName = FixedField(answer->face.left(kLogFontFaceChars - 1), kLogFontFaceChars);
    lf.lfWeight = answer->weight;
    lf.lfItalic = answer->italic ? 1 : 0;
    lf.lfUnderline = answer->underline ? 1 : 0;
    lf.lfStrikeOut = answer->strikeOut ? 1 : 0;
    cf.iPointSize = answer->tenthsOfPoint;
    cf.nFontType = kScreenFontType | (answer->weight >= 600 ? kBoldFontType : kRegularFontType) |
                   (answer->italic ? kItalicFontType : 0);
    return 1;
}

std::optional<QString> ScriptedDialogBackend::TextFaceOf(const LogFontRecord& lf) {
    faceRequests_.append(lf);
    if (fontCreationFails) return std::nullopt;
    if (matchedFace) return *matchedFace;
    return TextBeforeNul(lf.lfFaceName);
}

int ScriptedDialogBackend::PrintDlg(PrintDlgRecord& pd) {
    printerRequests_.append(pd);
    const std::optional<PrinterAnswer> answer = Next(printerAnswers_);
    if (!answer) return 0;
    DevModeRecord& dm = pd.hDevMode;
    dm.dmDeviceName = FixedField(answer->deviceName, kDeviceNameChars);
    dm.dmOrientation = answer->orientation;
    dm.dmDuplex = answer->duplex;
    dm.dmCopies = answer->copies;
    dm.dmFields |= kDmOrientation | kDmDuplex | kDmCopies;
    pd.hDevNames = MakeDevNames({}, answer->deviceName.left(kDeviceNameChars), {});
    pd.hDC = (pd.Flags & (kPdReturnDc | kPdReturnIc)) ? answer->device : nullptr;
    return 1;
}

int ScriptedDialogBackend::MessageBox(QWidget* owner, const QString& text, const QString& caption,
                                      quint32 style) {
    messages_.append({owner, text, caption, style});
    return 1;
}
