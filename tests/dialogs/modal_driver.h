#pragma once
// Drives a modal dialog from a test: waits until a visible modal widget of
// type T is open and hands it to `act`. Whatever is still modal a while
// later, or a modal widget of another type that opens instead, is rejected
// and the test fails, so that no test can hang.

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

template <typename T>
class ModalDriver {
  public:
    explicit ModalDriver(std::function<void(T*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(20);
    }
    bool acted() const { return acted_; }

  private:
    void tick() {
        ++ticks_;
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = acted_ ? nullptr : qobject_cast<T*>(modal);
        if (dialog && dialog->isVisible()) {
            acted_ = true;
            ticks_ = 0;
            // Acted on from a timer of its own, so that a further box opened
            // by the action runs while this watch keeps ticking.
            QTimer::singleShot(0, dialog, [this, dialog] { act_(dialog); });
        } else if (modal && ticks_ > (acted_ ? 100 : 150)) {
            ADD_FAILURE() << (acted_ ? "still open: " : "unexpected dialog: ")
                          << modal->metaObject()->className();
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
        }
    }

    std::function<void(T*)> act_;
    QTimer timer_;
    int ticks_ = 0;
    bool acted_ = false;
};

// Clicks the visible button of `dialog` whose text is `text` (after "&" is
// removed) or whose role in a button box is `role`.
inline void ClickButton(QWidget* dialog, const QString& text,
                        QDialogButtonBox::ButtonRole role = QDialogButtonBox::InvalidRole) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        auto* box = qobject_cast<QDialogButtonBox*>(b->parentWidget());
        const bool byRole =
            role != QDialogButtonBox::InvalidRole && box && box->buttonRole(b) == role;
        if ((byRole || (!text.isEmpty() && b->text().remove(u'&') == text)) && b->isVisible()) {
            ASSERT_TRUE(b->isEnabled()) << text.toStdString();
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString() << " / role " << role;
}

// Replaces the text of `edit` by typing `text` key by key, with each
// character as the event's text, so that Cyrillic is typed as well.
inline void TypeInto(QLineEdit* edit, const QString& text) {
    ASSERT_NE(edit, nullptr);
    edit->clear();
    for (const QChar ch : text) {
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    EXPECT_EQ(edit->text(), text);
}
