// The list and verify writers against Qt's JSON writer, which produced
// kbx's output before: the bytes must stay the same for every name.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/console.h"
#include "cli/failure_text.h"
#include "cli/listing.h"
#include "seam_test.h"

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
    for (const QString& s : {all, QString(), QStringLiteral("\""), QStringLiteral("\\\x1b")}) {
        QByteArray mine;
        cli::AppendJsonString(mine, s);
        EXPECT_EQ(mine, QtString(s)) << s.size();
    }
}

class Output : public ArchiveTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        QByteArray control;
        for (char c = 1; c < 0x20; ++c) control += c;
        QByteArray high;  // every byte above ASCII: Cyrillic, signs and C1 controls
        for (int c = 0x80; c < 0x100; c += 2) high += char(c);
        ASSERT_TRUE(WriteFile(path, BuildArchive({
                                        {"Version\\a.txt", "alpha"},
                                        {"Version\\q\"uo\"te\\\\", "1"},
                                        {"\"", "q"},  // a quote and nothing else to escape
                                        {"Version\\" + control + "\x7f", "2"},
                                        {"Version\\" + high, "3"},
                                        {Cp1251(QStringLiteral("Version\\Data\\карта.dat")), "4"},
                                        {QByteArray(128, 'n'), "5"},  // no NUL in its field
                                        {"Version\\a.txt", "6", -3},  // a duplicate, overlapping
                                    })));
        ASSERT_TRUE(kbx::ReadArchive(path, dir).ok());
    }
    // The path itself needs escaping too.
    const QString path = tmp.filePath(QStringLiteral("a \"q\" \\ д 😀.kbx"));
};

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

TEST_F(Output, ListIsWhatQtWrote) {
    QByteArray json = Compact({{"archive", path}, {"count", dir.Count()}});
    json.chop(1);
    json += ",\"entries\":[";
    QString plain;
    for (qint64 i = 0; i < dir.Count(); ++i) {
        const qint64 offset = dir.EntryOffset[size_t(i)], size = dir.EntrySize[size_t(i)];
        json += (i > 0 ? ",\n  " : "\n  ") +
                Compact({{"index", i}, {"offset", offset}, {"size", size}, {"name", dir.Name(i)}});
        plain += QStringLiteral("%1\t%2\t%3\t%4\n")
                     .arg(i)
                     .arg(offset)
                     .arg(size)
                     .arg(cli::Quote(dir.Name(i)));
    }
    const auto all = [](qint64) { return true; };
    const auto going = [] { return true; };
    EXPECT_EQ(Captured([&](auto out) { cli::WriteList(out, path, dir, true, all, going); }),
              json + "\n],\"listed\":8,\"unused\":1}\n");   // the last byte, which no record uses
    const auto some = [](qint64 i) { return i % 3 == 0; };  // fewer listed, of the same count
    EXPECT_TRUE(Captured([&](auto out) {
                    cli::WriteList(out, path, dir, true, some, going);
                }).endsWith("],\"listed\":3,\"unused\":1}\n"));
    EXPECT_EQ(Captured([&](auto out) { cli::WriteList(out, path, dir, false, all, going); }),
              plain.toUtf8());
}

TEST_F(Output, VerifyIsWhatQtWrote) {
    QJsonArray list;
    QString plain;
    const kbx::Result verified = kbx::Verify(path, [&](const kbx::Problem& p) {
        const QString kind = QString::fromLatin1(kbx::KindName(p.kind));
        const QString detail = cli::ProblemDetail(p);
        list.append(QJsonObject{
            {"problem", kind}, {"index", p.index}, {"name", p.name}, {"detail", detail}});
        plain += QStringLiteral("%1\t%2\t%3\t%4\n")
                     .arg(kind)
                     .arg(p.index)
                     .arg(cli::Quote(p.name), detail);
        return true;
    });
    ASSERT_TRUE(verified.ok());
    ASSERT_GE(list.size(), 4);  // the two unsafe names, the duplicate, the overlap
    plain += QStringLiteral("8 entries, %1 problems\n").arg(list.size());
    qint64 problems = 0;
    const auto verify = [&](bool json) {
        return Captured([&](auto out) {
            EXPECT_TRUE(cli::WriteVerify(out, path, json, false, &problems).ok());
        });
    };
    const auto qt = [&](qint64 count, const QJsonArray& problems) {
        return QJsonDocument(QJsonObject{{"archive", path},
                                         {"count", count},
                                         {"ok", problems.isEmpty()},
                                         {"problems", problems}})
            .toJson(QJsonDocument::Indented);
    };
    EXPECT_EQ(verify(true), qt(8, list));
    EXPECT_EQ(problems, list.size());
    EXPECT_EQ(verify(false), plain.toUtf8());

    // With no problem, the empty list as Qt lays it out.
    ASSERT_TRUE(WriteFile(path, BuildArchive({{"Version\\a", "1"}})));
    EXPECT_EQ(verify(true), qt(1, {}));
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
            EXPECT_TRUE(cli::WriteVerify(out, path, json, false, &problems).ok());
        constexpr qint64 kPiece = (1 << 20) + 1024;  // a megabyte and the record that passed it
        EXPECT_GT(total, kPiece);
        EXPECT_LT(largest, kPiece);
    }
}

}  // namespace
