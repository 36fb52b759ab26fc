#include "tests/support/scripted_dialog_backend.h"

namespace {
// Takes the next prepared answer; none left counts as a cancel.
template <typename T>
std::optional<T> Next(QList<T>& answers) {
    if (answers.isEmpty()) return std::nullopt;
    return answers.takeFirst();
}
}  // namespace

int ScriptedDialogBackend::answerFile(FileDialogKind kind, OpenFileNameRecord& ofn) {
    fileRequests_.append({kind, ofn});
    const std::optional<QString> answer = Next(fileAnswers_).value_or(std::nullopt);
    if (!answer) return 0;
    return StoreFileChoice(ofn, *answer) ? 1 : kChoiceDoesNotFit;
}

std::optional<QString> ScriptedDialogBackend::BrowseForFolder(const BrowseInfoRecord& bi) {
    folderRequests_.append(bi);
    return Next(folderAnswers_).value_or(std::nullopt);
}

int ScriptedDialogBackend::ChooseColor(ChooseColorRecord& cc) {
    colorRequests.append(cc);
    const std::optional<quint32> answer = Next(colorAnswers);
    if (!answer) return 0;
    cc.rgbResult = cc.lpCustColors[0] = *answer;
    return 1;
}

int ScriptedDialogBackend::ChooseFont(ChooseFontRecord& cf) {
    fontRequests.append(cf);
    const std::optional<FontAnswer> answer = Next(fontAnswers);
    if (!answer) return 0;
    LogFontRecord& lf = cf.lpLogFont;
    lf.lfFaceName = FixedField(answer->face.left(kLogFontFaceChars - 1), kLogFontFaceChars);
    lf.lfWeight = answer->weight;
    lf.lfItalic = answer->italic ? 1 : 0;
    lf.lfUnderline = lf.lfStrikeOut = 0;
    cf.iPointSize = answer->tenthsOfPoint;
    cf.nFontType = kScreenFontType | (answer->weight >= 600 ? kBoldFontType : kRegularFontType) |
                   (answer->italic ? kItalicFontType : 0);
    return 1;
}

std::optional<QString> ScriptedDialogBackend::TextFaceOf(const LogFontRecord& lf) {
    faceRequests.append(lf);
    if (fontCreationFails) return std::nullopt;
    return matchedFace.value_or(TextBeforeNul(lf.lfFaceName));
}

int ScriptedDialogBackend::PrintDlg(PrintDlgRecord& pd) {
    printerRequests.append(pd);
    const std::optional<PrinterAnswer> answer = Next(printerAnswers);
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
