// The list and verify writers against Qt's JSON writer, which produced
// kbx's output before: the bytes must stay the same for every name.

#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "archive/archive.h"
#include "cli/console.h"
#include "cli/failure_text.h"
#include "cli/listing.h"
#include "test_util.h"

using namespace testutil;

namespace {

QByteArray QtString(const QString& text) {
    const QByteArray doc = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return doc.mid(1, doc.size() - 2);
}

// What a writer puts out.
template <typename Write>
QByteArray Captured(Write write) {
    QByteArray bytes;
    write([&](QByteArrayView b) { bytes += b; });
    return bytes;
}

TEST(Listing, JsonStringsAreQtsForEveryCharacter) {
    QString all;
    for (char16_t c = 1; c != 0; ++c) {
        if (!QChar::isSurrogate(c)) all += QChar(c);
    }
    all += QStringLiteral("😀 and a lone \\ \" at the end\"");
    QByteArray mine;
    cli::AppendJsonString(mine, all);
    EXPECT_EQ(mine, QtString(all));
    for (const QString& s : {QString(), QStringLiteral("\""), QStringLiteral("\\\x1b")}) {
        mine.clear();
        cli::AppendJsonString(mine, s);
        EXPECT_EQ(mine, QtString(s)) << s.toStdString();
    }
}

class Output : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        // The path itself needs escaping too.
        path = tmp.filePath(QStringLiteral("a \"q\" \\ д 😀.kbx"));
        QByteArray control;
        for (char c = 1; c < 0x20; ++c) control += c;
        QByteArray high;  // every byte above ASCII: Cyrillic, signs and C1 controls
        for (int c = 0x80; c < 0x100; c += 2) high += char(c);
        ASSERT_TRUE(WriteFile(path, BuildArchive({
                                        {"Version\\a.txt", "alpha"},
                                        {"Version\\q\"uo\"te\\\\", "1"},
                                        {"Version\\" + control + "\x7f", "2"},
                                        {"Version\\" + high, "3"},
                                        {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "4"},
                                        {QByteArray(128, 'n'), "5"},  // no NUL in its field
                                        {"Version\\a.txt", "6", -3},  // a duplicate, overlapping
                                    })));
        ASSERT_TRUE(kbx::ReadArchive(path, dir).ok());
    }
    testutil::TempDir tmp;
    QString path;
    kbx::Directory dir;
};

TEST_F(Output, ListIsWhatQtWrote) {
    QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("archive"), path},
                                                {QStringLiteral("count"), dir.UpperBound()}})
                          .toJson(QJsonDocument::Compact);
    json.chop(1);
    json += ",\"entries\":[";
    QString plain;
    for (qint64 i = 0; i < dir.UpperBound(); ++i) {
        json += (i > 0 ? ",\n  " : "\n  ") +
                QJsonDocument(QJsonObject{{QStringLiteral("index"), i},
                                          {QStringLiteral("offset"), dir.EntryOffset[size_t(i)]},
                                          {QStringLiteral("size"), dir.EntrySize[size_t(i)]},
                                          {QStringLiteral("name"), dir.Name(i)}})
                    .toJson(QJsonDocument::Compact);
        plain += QStringLiteral("%1\t%2\t%3\t%4\n")
                     .arg(i)
                     .arg(dir.EntryOffset[size_t(i)])
                     .arg(dir.EntrySize[size_t(i)])
                     .arg(cli::Quote(dir.Name(i)));
    }
    json += "\n]}\n";
    const auto all = [](qint64) { return true; };
    const auto going = [] { return true; };
    EXPECT_EQ(Captured([&](auto out) { cli::WriteList(out, path, dir, true, all, going); }), json);
    EXPECT_EQ(Captured([&](auto out) { cli::WriteList(out, path, dir, false, all, going); }),
              plain.toUtf8());
}

TEST_F(Output, VerifyIsWhatQtWrote) {
    QJsonArray list;
    QString plain;
    kbx::Verify(path, [&](const kbx::Problem& p) {
        const QString kind = QString::fromLatin1(kbx::KindName(p.kind));
        list.append(QJsonObject{{QStringLiteral("problem"), kind},
                                {QStringLiteral("index"), p.index},
                                {QStringLiteral("name"), p.name},
                                {QStringLiteral("detail"), cli::ProblemDetail(p)}});
        plain += kind + u'\t' + QString::number(p.index) + u'\t' + cli::Quote(p.name) + u'\t' +
                 cli::ProblemDetail(p) + u'\n';
        return true;
    });
    ASSERT_GE(list.size(), 4);  // the two unsafe names, the duplicate, the overlap
    plain += QStringLiteral("7 entries, %1 problems\n").arg(list.size());
    const QJsonObject doc{{QStringLiteral("archive"), path},
                          {QStringLiteral("count"), dir.UpperBound()},
                          {QStringLiteral("ok"), false},
                          {QStringLiteral("problems"), list}};
    qint64 problems = 0;
    EXPECT_EQ(Captured([&](auto out) { cli::WriteVerify(out, path, true, false, &problems); }),
              QJsonDocument(doc).toJson(QJsonDocument::Indented));
    EXPECT_EQ(problems, list.size());
    EXPECT_EQ(Captured([&](auto out) { cli::WriteVerify(out, path, false, false, &problems); }),
              plain.toUtf8());

    // With no problem, the empty list as Qt lays it out.
    ASSERT_TRUE(WriteFile(path, BuildArchive({{"Version\\a", "1"}})));
    const QJsonObject clean{{QStringLiteral("archive"), path},
                            {QStringLiteral("count"), 1},
                            {QStringLiteral("ok"), true},
                            {QStringLiteral("problems"), QJsonArray()}};
    EXPECT_EQ(Captured([&](auto out) { cli::WriteVerify(out, path, true, false, &problems); }),
              QJsonDocument(clean).toJson(QJsonDocument::Indented));
    EXPECT_EQ(problems, 0);
}

// However long the output, it leaves in pieces of about a megabyte: the
// writers never hold it whole.
TEST_F(Output, LongOutputLeavesInBoundedPieces) {
    const std::vector<RawEntry> same(12000, {"Version\\" + QByteArray(100, 'n'), "x"});
    ASSERT_TRUE(WriteFile(path, BuildArchive(same)));
    ASSERT_TRUE(kbx::ReadArchive(path, dir).ok());
    qint64 problems = 0;
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const bool json = k % 2;
        qint64 largest = 0, total = 0;
        const cli::Output out = [&](QByteArrayView b) {
            largest = std::max(largest, b.size());
            total += b.size();
        };
        if (k < 2)
            cli::WriteList(
                out, path, dir, json, [](qint64) { return true; }, [] { return true; });
        else
            cli::WriteVerify(out, path, json, false, &problems);
        constexpr qint64 kPiece = (1 << 20) + 1024;  // a megabyte and the record that passed it
        EXPECT_GT(total, kPiece);
        EXPECT_LT(largest, kPiece);
    }
}

}  // namespace
