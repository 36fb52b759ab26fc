#pragma once
// Dialog backend that shows Qt's standard file and folder dialogs, modal
// over the record's owner (or over the whole application without one).

#include "platform/dialog_backend.h"

class QtDialogBackend : public DialogBackend {
  public:
    int GetOpenFileName(OpenFileNameRecord& ofn) override;
    int GetSaveFileName(OpenFileNameRecord& ofn) override;
    std::optional<QString> BrowseForFolder(const BrowseInfoRecord& bi) override;
};
