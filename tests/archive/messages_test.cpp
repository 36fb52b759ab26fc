#include <gtest/gtest.h>
#include <QLocale>

#include "archive/messages.h"

TEST(Messages, SecondsInTheShortestForm) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    const struct {
        qint64 ms;
        const char* russian;
        const char* english;
    } cases[] = {
        {2000, "2", "2"},
        {1234, "1,234", "1.234"},
        {50, "0,05", "0.05"},
        {1500, "1,5", "1.5"},
        {0, "0", "0"},
        {20, "0,02", "0.02"},
        {1, "0,001", "0.001"},
        {1234567890, "1234567,89", "1234567.89"},
        {86400000, "86400", "86400"},
        {-1500, "-1,5", "-1.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kbx::SecondsText(c.ms, ru), QString::fromUtf8(c.russian)) << c.ms;
        EXPECT_EQ(kbx::SecondsText(c.ms, en), QString::fromUtf8(c.english)) << c.ms;
    }
}

TEST(Messages, CompletionTexts) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const struct {
        kbx::Operation op;
        qint64 ms;
        const char* text;
    } cases[] = {
        {kbx::Operation::Load, 1500, "Обработка завершена\r\nАрхив читался 1,5 секунд"},
        {kbx::Operation::Extract, 2000, "Обработка завершена\r\nФайл извлекался 2 секунд"},
        {kbx::Operation::Unpack, 20, "Обработка завершена\r\nАрхив распаковывался 0,02 секунд"},
        {kbx::Operation::Pack, 1234, "Обработка завершена\r\nАрхив запаковывался 1,234 секунд"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kbx::CompletionText(c.op, c.ms, ru), QString::fromUtf8(c.text));
}
