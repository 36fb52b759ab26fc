#pragma once
// Helpers of the dialog tests: readable QStrings in failure messages, the
// error number a call raises, a dialog object with every double in place, and
// the driving of a real modal dialog.

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>

#include "dialogs/cls_dialog.h"
#include "tests/support/error_number.h"
#include "tests/support/recording_shell_services.h"
#include "tests/support/scripted_dialog_backend.h"
#include "tests/support/scripted_printer_registry.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline QString Nuls(int n) {
    return QString(n, QChar(u'\0'));
}

// The dialog's owner window is `owner`, named so in the shell calls.
struct Fixture {
    Fixture() {
        owner.setObjectName("owner");
        dialog.setHOwner(&owner);
    }
    QWidget owner;
    ScriptedDialogBackend backend;
    RecordingShellServices shell;
    ScriptedPrinterRegistry printers;
    ClsDialog dialog{&backend, &shell, &printers};
};

// Drives a modal dialog from a test: runs `call` while a timer waits until a
// visible modal widget of type T is open and hands it to `act`. Whatever is
// still modal a while later, or a modal widget of another type that opens
// instead, is rejected and the test fails, so that no test can hang; so does
// a call that opens no T.
template <typename T>
void Drive(const std::function<void(T*)>& act, const std::function<void()>& call) {
    QTimer timer;
    int ticks = 0;
    bool acted = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = acted ? nullptr : qobject_cast<T*>(modal);
        if (dialog && dialog->isVisible()) {
            acted = true;
            ticks = 0;
            // Acted on from a timer of its own, so that a further box opened
            // by the action runs while this watch keeps ticking.
            QTimer::singleShot(0, dialog, [&act, dialog] { act(dialog); });
        } else if (modal && ticks > (acted ? 100 : 150)) {
            ADD_FAILURE() << (acted ? "still open: " : "unexpected dialog: ")
                          << modal->metaObject()->className();
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
        }
    });
    timer.start(20);
    call();
    EXPECT_TRUE(acted) << "no " << T::staticMetaObject.className() << " opened";
}

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
