#include <gtest/gtest.h>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "platform/event_pump.h"
#include "platform/message_box.h"

TEST(QtMessageBoxService, ShowsAModalBoxWithItsIconTitleTextAndOk) {
    const struct {
        MessageBoxService::Icon icon;
        QMessageBox::Icon expected;
    } cases[] = {{MessageBoxService::Icon::Information, QMessageBox::Information},
                 {MessageBoxService::Icon::Critical, QMessageBox::Critical}};
    for (const auto& c : cases) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = true;
            EXPECT_EQ(box->icon(), c.expected);
            EXPECT_EQ(box->windowTitle(), "Quillmere  v1.1");
            // The CR LF line break shows as one break.
            EXPECT_EQ(box->text(), "Обработка завершена\nАрхив читался 2 секунд");
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            box->accept();
        });
        QtMessageBoxService().Show(nullptr, "Обработка завершена\r\nАрхив читался 2 секунд", c.icon,
                                   "Quillmere  v1.1");
        EXPECT_TRUE(seen);
    }
}

TEST(QtEventPump, HandlesWhatIsPending) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QtEventPump().ProcessPendingEvents();
    EXPECT_TRUE(ran);
}
