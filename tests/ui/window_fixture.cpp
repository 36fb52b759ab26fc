#include "window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "archive/format.h"
#include "ui/fonts.h"

std::vector<TestEntry> NumberedEntries(int count) {
    std::vector<TestEntry> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(
            {QStringLiteral("Version\\Data\\e%1.dat").arg(i, 3, 10, QChar('0')).toLatin1(),
             QByteArray("entry ") + QByteArray::number(i) + QByteArray(i % 7, 'x')});
    }
    return out;
}

void WindowTest::SetUp() {
    ASSERT_TRUE(tmp_.isValid());
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    ui::InstallFontSubstitutions();
    Recreate();
}

void WindowTest::TearDown() {
    form_.reset();
    QLocale::setDefault(QLocale::c());
}

void WindowTest::Recreate() {
    form_.reset();
    form_ = std::make_unique<ui::Form1>(
        ui::Services{&messages_, &ticks_, &events_, &shell_, &dialogs_});
    form_->show();
    QApplication::setActiveWindow(form_.get());
}

QStringList WindowTest::RowTexts(int row) {
    return {Cell("nm", row)->text(), Cell("off", row)->text(), Cell("sz", row)->text()};
}

QString WindowTest::WriteFile(const QString& name, const QByteArray& bytes) {
    QFile f(tmp_.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return f.fileName();
}

QString WindowTest::Folder(const QString& name) {
    EXPECT_TRUE(QDir().mkpath(tmp_.filePath(name)));
    return tmp_.filePath(name);
}

void WindowTest::Click(const char* name) {
    auto* b = Child<QAbstractButton>(name);
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton);
}

void WindowTest::RightClickAndChoose(int row, const char* action) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        seen = true;
        if (!action) return void(menu->close());
        QAction* a = menu->findChild<QAction*>(action);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
    });
    QTest::mouseClick(Cell("nm", row), Qt::RightButton);
    EXPECT_TRUE(seen) << "the popup menu did not open";
}

WindowTest::Dropped WindowTest::Drop(const QMimeData& data) {
    const QPoint at = Form().rect().center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(&Form(), &enter);
    QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(drop.proposedAction(), Qt::MoveAction);
    QApplication::sendEvent(&Form(), &drop);
    QApplication::processEvents();
    return {enter.isAccepted(), drop.isAccepted(), drop.dropAction()};
}

void WindowTest::SetScroll(int value) {
    Child<QScrollBar>("Scr")->setValue(value);
}
