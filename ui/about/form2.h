#pragma once
// Form2, the About window: a black fixed tool window with a picture, two
// lines about the program, the author credit and a mail link.

#include <QLabel>
#include <QWidget>

#include <array>

#include "ui/services.h"

namespace ui {

class Form2 : public QWidget {
    Q_OBJECT

  public:
    // The credit reads "Автор " + name + ".": with a team for the author, a
    // dash makes it a sentence ("Автор — команда Quillmere.").
    static inline const QString kAuthorName = QStringLiteral("— команда Quillmere");
    static inline const QString kMailAddress = QStringLiteral("quillmere@example.org");
    static constexpr quint32 kRed = 0x000000FFu;
    static constexpr quint32 kBlue = 0x00FF0000u;

    // A tool window owned by `owner`; it deletes itself when closed.
    Form2(const Services& services, QWidget* owner);

    // Shows the window in front: centred on its owner when it opens, and
    // where the user left it when it is already open.
    void Present();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void SetLinkColor(quint32 value);
    void Label2_Click();

    Services services_;
    QLabel* Image1_;
    std::array<QLabel*, 3> Label1_{};
    QLabel* Label2_;
};

}  // namespace ui
