#include "dialogs/cls_dialog.h"

#include <QCoreApplication>

#include "platform/qt_dialog_backend.h"
#include "platform/runtime_error.h"

namespace {
constexpr quint32 kOfnRecordSize = 76;
// Longest filter the conversion walks: its position counter is 16-bit.
constexpr qsizetype kMaxFilterChars = 32767;
// Bits of `flags` the folder picker understands: browse for computer,
// browse for printer, include files, and (only with one of those) bit 0.
constexpr quint32 kFolderFlagMask = 0x7001;
}  // namespace

ClsDialog::ClsDialog(DialogBackend* backend) : backend_(backend) {
    if (!backend_) {
        ownBackend_ = std::make_unique<QtDialogBackend>();
        backend_ = ownBackend_.get();
    }
}

ClsDialog::~ClsDialog() = default;

void ClsDialog::InitOFN() {
    OFN.Flags = flags_ & ~kOfnHookAndTemplateMask;
    OFN.hwndOwner = hOwner_;
    OFN.lStructSize = kOfnRecordSize;
    OFN.lpstrDefExt = DefaultExt_;
    OFN.lpstrInitialDir = InitDir_.isEmpty() ? QCoreApplication::applicationDirPath() : InitDir_;

    if (FileName_.size() > kFileBufferChars) throw RuntimeError(RuntimeError::InvalidArgument);
    OFN.lpstrFile = FileName_ + QString(kFileBufferChars - FileName_.size(), QChar(u'\0'));
    OFN.nMaxFile = kFileBufferChars;
    OFN.lpstrFileTitle = QString(kFileBufferChars, QChar(u'\0'));
    OFN.nMaxFileTitle = kFileBufferChars;

    if (Filter_.size() > kMaxFilterChars) throw RuntimeError(RuntimeError::Overflow);
    QString filter = Filter_;
    filter.replace(u'|', QChar(u'\0'));
    filter += QString(2, QChar(u'\0'));
    OFN.lpstrFilter = filter;

    OFN.nFilterIndex = quint32(FilterIndex_);
    OFN.lpstrTitle = DialogTitle_;
    OFN.hInstance = QCoreApplication::instance();
}

void ClsDialog::ShowOpen() {
    ShowFileDialog(false);
}

void ClsDialog::ShowSave() {
    ShowFileDialog(true);
}

void ClsDialog::ShowFileDialog(bool save) {
    InitOFN();
    LastApiResult = save ? backend_->GetSaveFileName(OFN) : backend_->GetOpenFileName(OFN);
    if (LastApiResult > 0) {
        // The title first, then the name; a buffer without a terminator
        // leaves its property as it was.
        const qsizetype titleEnd = OFN.lpstrFileTitle.indexOf(QChar(u'\0'));
        if (titleEnd >= 0) FileTitle_ = OFN.lpstrFileTitle.left(titleEnd);
        const qsizetype nameEnd = OFN.lpstrFile.indexOf(QChar(u'\0'));
        if (nameEnd >= 0) FileName_ = OFN.lpstrFile.left(nameEnd);
        return;
    }
    if (CancelError_) throw RuntimeError(RuntimeError::Cancel);
}

QString ClsDialog::ShowFolder(const QString& TopFolder) {
    BrowseInfoRecord bi;
    bi.hwndOwner = hOwner_;
    bi.pidlRoot = TopFolder;
    bi.lpszTitle = DialogPrompt_;
    bi.ulFlags = kBifReturnOnlyFsDirs;
    const quint32 requested = quint32(flags_) & kFolderFlagMask;
    if (requested >= kBifBrowseForComputer) bi.ulFlags = requested;

    const std::optional<QString> chosen = backend_->BrowseForFolder(bi);
    if (chosen) {
        QString path = TextBeforeNul(*chosen);
        while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
        // The path must fit the platform's path buffer with its terminator.
        if (!path.isEmpty() && path.size() < kMaxPathChars) setInitDir(path);
    }
    return {};
}
