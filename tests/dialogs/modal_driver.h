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
        if (!acted_) {
            auto* dialog = qobject_cast<T*>(modal);
            if (dialog && dialog->isVisible()) {
                acted_ = true;
                ticks_ = 0;
                // Acted on from a timer of its own, so that a further box
                // opened by the action runs while this watch keeps ticking.
                QTimer::singleShot(0, dialog, [this, dialog] { act_(dialog); });
            } else if (modal && ticks_ > 150) {
                ADD_FAILURE() << "unexpected dialog: " << modal->metaObject()->className();
                if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
            }
            return;
        }
        if (modal && ticks_ > 100) {
            ADD_FAILURE() << "still open: " << modal->metaObject()->className();
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
        }
    }

    std::function<void(T*)> act_;
    QTimer timer_;
    int ticks_ = 0;
    bool acted_ = false;
};

// Clicks the button of `dialog` whose text is `text` (after "&" is removed).
inline void ClickButton(QWidget* dialog, const QString& text) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text().remove(u'&') == text && b->isVisible()) {
            ASSERT_TRUE(b->isEnabled()) << text.toStdString();
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
}

// Types `text` into `edit` key by key, with each character as the event's
// text, so that Cyrillic is typed as well.
inline void TypeInto(QLineEdit* edit, const QString& text) {
    ASSERT_NE(edit, nullptr);
    for (const QChar ch : text) {
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}
