#pragma once
// Helpers of the dialog tests: readable QStrings in failure messages, the
// error number a call raises, and a dialog object with every double in place.

#include <gtest/gtest.h>
#include <QString>
#include <QWidget>
#include <ostream>

#include "dialogs/cls_dialog.h"
#include "platform/runtime_error.h"
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
