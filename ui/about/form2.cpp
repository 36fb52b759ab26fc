#include "ui/about/form2.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

#include "platform/colors.h"
#include "platform/message_box.h"
#include "platform/shell_service.h"
#include "platform/twips.h"
#include "platform/window_title.h"
#include "ui/fonts.h"
#include "ui/twips_rect.h"

namespace ui {

namespace {
void SetTextColor(QLabel* label, quint32 value) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, ColorFromValue(value));
    label->setPalette(p);
}
}  // namespace

Form2::Form2(const Services& services, QWidget* owner)
    : QWidget(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      services_(services) {
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString());
    setWindowIcon(QIcon());
    setFixedSize(TwipsToPixels(6990), TwipsToPixels(6120));
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, ColorFromValue(0x00000000u));
    setPalette(black);
    setMouseTracking(true);

    Image1_ = new QLabel(this);
    Image1_->setObjectName(QStringLiteral("Image1"));
    Image1_->setPixmap(QPixmap(QStringLiteral(":/about/about.jpg")));
    Image1_->setGeometry(Twips(45, 45, 6900, 4500));

    const QString lines[3] = {QStringLiteral("Программа для распаковки"),
                              QStringLiteral("kbx архива для игры Velmorra."),
                              QStringLiteral("Автор ") + kAuthorName + QStringLiteral(".")};
    const QRect places[3] = {Twips(1035, 4545, 4800, 450), Twips(495, 4950, 5790, 450),
                             Twips(90, 5625, 3045, 450)};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(lines[i], this);
        l->setObjectName(QStringLiteral("Label1(%1)").arg(i));
        l->setFont(DisplayFont());
        l->setGeometry(places[i]);
        Label1_[i] = l;
    }

    Label2_ = new QLabel(kMailAddress, this);
    Label2_->setObjectName(QStringLiteral("Label2"));
    Label2_->setFont(DefaultFont());
    Label2_->setGeometry(Twips(5265, 5805, 1470, 195));

    QList<QLabel*> labels{Label1_.begin(), Label1_.end()};
    labels << Label2_;
    for (QLabel* l : labels) {
        l->setTextFormat(Qt::PlainText);
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, ColorFromValue(0x00000000u));
        l->setPalette(p);
        SetTextColor(l, kRed);
        l->adjustSize();  // labels size themselves to their text
    }
    for (QWidget* w : {static_cast<QWidget*>(Image1_), static_cast<QWidget*>(Label1_[0]),
                       static_cast<QWidget*>(Label1_[1]), static_cast<QWidget*>(Label1_[2]),
                       static_cast<QWidget*>(Label2_)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

void Form2::Present() {
    const bool opening = !isVisible();
    QWidget* owner = parentWidget();
    if (owner && opening) {
        const QRect frame = owner->frameGeometry();
        QRect r(QPoint(0, 0), size());
        r.moveCenter(frame.center());
        move(r.topLeft());
    }
    show();
    raise();
    activateWindow();
    // The design's title is empty, and the window manager must show it so.
    if (opening && services_.titles) services_.titles->ClearTitle(this);
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        // Over the link it turns blue; over any other part of the window it
        // turns red. Leaving the window changes nothing.
        SetLinkColor(watched == Label2_ ? kBlue : kRed);
        return true;  // handled here, not again by the window's background
    } else if (watched == Label2_ && event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && Label2_->rect().contains(me->position().toPoint())) {
            Label2_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::mouseMoveEvent(QMouseEvent* event) {
    SetLinkColor(kRed);
    QWidget::mouseMoveEvent(event);
}

void Form2::SetLinkColor(quint32 value) {
    SetTextColor(Label2_, value);
}

void Form2::Label2_Click() {
    const QUrl url(QStringLiteral("mailto:") + kMailAddress);
    if (!services_.shell->OpenUrl(url) && services_.messages) {
        services_.messages->Show(
            this,
            QStringLiteral("Не удалось запустить почтовую программу для адреса ") + kMailAddress,
            MessageBoxService::Icon::Critical, QStringLiteral("Ошибка"));
    }
}

}  // namespace ui
