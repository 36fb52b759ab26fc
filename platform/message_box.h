#pragma once
// The modal message box: one text, an icon, a single OK button and a title.
// The window shows every report through this interface, so tests record the
// boxes instead of blocking on them.

#include <QString>

class QWidget;

class MessageBoxService {
  public:
    enum class Icon { Information, Critical };

    virtual ~MessageBoxService() = default;

    // Returns when the user has closed the box.
    virtual void Show(QWidget* parent, const QString& text, Icon icon, const QString& title) = 0;
};

// QMessageBox, modal to `parent`.
class QtMessageBoxService final : public MessageBoxService {
  public:
    void Show(QWidget* parent, const QString& text, Icon icon, const QString& title) override;
};
