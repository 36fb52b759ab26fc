#include <QLabel>

#ifdef QUILLMERE_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

#include "ui/about/form2.h"
#include "window_fixture.h"

using Form2Test = WindowTest;

TEST_F(Form2Test, ShowsItsTextsAndTheLinkTurnsBlueOnlyUnderThePointer) {
    const QColor kRed(255, 0, 0), kBlue(0, 0, 255);
    Click("Command4");
    auto* about = Form().findChild<ui::Form2*>("Form2");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(std::tuple(bool(about->windowFlags() & Qt::Tool), about->size(),
                         about->findChild<QLabel*>("Image1")->pixmap().size()),
              std::tuple(true, QSize(466, 408), QSize(460, 300)));
    const char* texts[] = {"Программа для распаковки", "kbx архива для игры Velmorra.",
                           "Автор — команда Quillmere.", "quillmere@example.org"};
    for (int i = 0; i < 4; ++i) {
        auto* l = about->findChild<QLabel*>(i < 3 ? QStringLiteral("Label1(%1)").arg(i) : "Label2");
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(std::tuple(l->text(), l->palette().color(QPalette::WindowText)),
                  std::tuple(QString::fromUtf8(texts[i]), kRed));
        EXPECT_GE(l->width(), l->sizeHint().width());  // sized to its text
    }

    auto* link = about->findChild<QLabel*>("Label2");
    const std::pair<const char*, QColor> moves[] = {
        // nullptr: the window's background
        {"Image1", kRed}, {"Label2", kBlue}, {"Label1(1)", kRed}, {"Label2", kBlue},
        {nullptr, kRed},  {"Label2", kBlue}, {"Label1(0)", kRed}};
    for (const auto& [over, expected] : moves) {
        QWidget* target = over ? about->findChild<QWidget*>(over) : about;
        const QPoint at = over ? target->rect().center() : QPoint(2, about->height() - 2);
        QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        EXPECT_EQ(link->palette().color(QPalette::WindowText), expected) << (over ? over : "");
    }

    QTest::mouseClick(link, Qt::LeftButton);
    QTest::mouseClick(link, Qt::RightButton);  // only the left button opens mail
    // The window stays open.
    EXPECT_EQ(std::tuple(shell_.opened, about->isVisible(), messages_.shown.size()),
              std::tuple(std::vector{QUrl("mailto:quillmere@example.org")}, true, 0u));
    // A desktop without a mail handler gets a message instead of silence.
    shell_.result = false;
    QTest::mouseClick(link, Qt::LeftButton);
    ExpectBoxes(1, Icon::Critical, {});

    // Asked for again, the one window stays where the user moved it.
    about->move(about->pos() + QPoint(40, -25));
    const QPoint left = about->pos();
    Click("Command4");
    EXPECT_EQ(
        std::tuple(Form().findChildren<ui::Form2*>("Form2"), about->isVisible(), about->pos()),
        std::tuple(QList<ui::Form2*>({about}), true, left));
    // Its title was emptied once, when it opened: the design's title is empty.
    EXPECT_EQ(titles_.cleared, std::vector<QWidget*>({about}));
    // Closed, it is gone; opened again, there is one and its link is red again.
    about->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form().findChildren<QWidget*>("Form2").isEmpty());
    Click("Command4");
    ASSERT_EQ(Form().findChildren<ui::Form2*>("Form2").size(), 1);
    about = Form().findChild<ui::Form2*>("Form2");
    EXPECT_EQ(std::tuple(titles_.cleared.size(), titles_.cleared.back()), std::tuple(2u, about));
    EXPECT_EQ(about->findChild<QLabel*>("Label2")->palette().color(QPalette::WindowText), kRed);
    // Closing the main window takes the About window with it.
    Form().close();
    EXPECT_FALSE(about->isVisible());
}

#ifdef QUILLMERE_HAVE_XCB
namespace {
// A text property of a window as the window manager reads it.
QByteArray X11Property(QWidget* w, const char* name) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, xcb_window_t(w->winId()), atom->atom,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                               nullptr);
    QByteArray value(static_cast<const char*>(xcb_get_property_value(reply)),
                     xcb_get_property_value_length(reply));
    free(reply);
    free(atom);
    return value;
}
}  // namespace
#endif

// Qt gives the window system the application's name for a window whose
// title is empty; the About window's title must stay empty there too.
TEST_F(Form2Test, WindowManagerShowsNoTitle) {
#ifdef QUILLMERE_HAVE_XCB
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
    Click("Command4");
    auto* about = Form().findChild<ui::Form2*>("Form2");
    ASSERT_NE(about, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(X11Property(&Form(), "_NET_WM_NAME"), "Quillmere v1.1");
    for (const char* name : {"_NET_WM_NAME", "WM_NAME"})
        EXPECT_EQ(X11Property(about, name), QByteArray()) << name;
    // Shown again, it is still untitled.
    Click("Command4");
    QApplication::processEvents();
    EXPECT_EQ(X11Property(about, "_NET_WM_NAME"), QByteArray());
#else
    GTEST_SKIP() << "built without xcb";
#endif
}
