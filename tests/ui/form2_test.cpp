#include <QApplication>
#include <QLabel>
#include <QTest>

#include "platform/colors.h"
#include "ui/about/form2.h"
#include "window_fixture.h"

namespace {
QColor LinkColor(QWidget* about) {
    return about->findChild<QLabel*>("Label2")->palette().color(QPalette::WindowText);
}
const QColor kRed(255, 0, 0), kBlue(0, 0, 255);
}  // namespace

using Form2Test = WindowTest;

TEST_F(Form2Test, IsABlackToolWindowWithItsPictureAndTexts) {
    Click("Command4");
    auto* about = Form().findChild<ui::Form2*>("Form2");
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->windowFlags() & Qt::Tool);
    EXPECT_FALSE(about->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(about->size(), QSize(466, 408));
    EXPECT_EQ(about->minimumSize(), about->maximumSize());
    EXPECT_EQ(about->palette().color(QPalette::Window), QColor(0, 0, 0));
    EXPECT_TRUE(about->windowTitle().isEmpty());

    auto* image = about->findChild<QLabel*>("Image1");
    EXPECT_EQ(image->pixmap().size(), QSize(460, 300));
    EXPECT_EQ(image->pos(), QPoint(3, 3));

    const char* texts[] = {"Программа для распаковки", "kbx архива для игры Velmorra.",
                           "Автор проект Quillmere."};
    for (int i = 0; i < 3; ++i) {
        auto* l = about->findChild<QLabel*>(QStringLiteral("Label1(%1)").arg(i));
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->text(), QString::fromUtf8(texts[i]));
        EXPECT_EQ(l->palette().color(QPalette::WindowText), kRed);
        EXPECT_EQ(l->font().pointSizeF(), 15.75);
        EXPECT_GE(l->width(), l->sizeHint().width());  // sized to its text
    }
    EXPECT_EQ(about->findChild<QLabel*>("Label2")->text(), "quillmere@example.org");
    EXPECT_EQ(LinkColor(about), kRed);
}

TEST_F(Form2Test, LinkTurnsBlueOnlyUnderThePointer) {
    Click("Command4");
    auto* about = Form().findChild<ui::Form2*>("Form2");
    ASSERT_NE(about, nullptr);
    auto* link = about->findChild<QLabel*>("Label2");
    const struct {
        const char* over;  // nullptr: the window's background
        QColor expected;
    } moves[] = {{"Image1", kRed}, {"Label2", kBlue}, {"Label1(1)", kRed}, {"Label2", kBlue},
                 {nullptr, kRed},  {"Label2", kBlue}, {"Label1(0)", kRed}};
    for (const auto& m : moves) {
        QWidget* target = m.over ? about->findChild<QWidget*>(m.over) : about;
        const QPoint at = m.over ? target->rect().center() : QPoint(2, about->height() - 2);
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        EXPECT_EQ(LinkColor(about), m.expected) << (m.over ? m.over : "background");
    }

    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(shell_.opened.size(), 1u);
    EXPECT_EQ(shell_.opened[0], QUrl("mailto:quillmere@example.org"));
    EXPECT_TRUE(about->isVisible());  // the window stays open
    EXPECT_TRUE(messages_.shown.empty());

    // A desktop without a mail handler gets a message instead of silence.
    shell_.result = false;
    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].title, "Ошибка");

    // Closed and opened again, the link is red again.
    about->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Click("Command4");
    about = Form().findChild<ui::Form2*>("Form2");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(LinkColor(about), kRed);
}
