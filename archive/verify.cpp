#include "archive/verify.h"

#include <QHash>

#include <algorithm>
#include <numeric>

namespace kbx {

const char* KindName(Problem::Kind kind) {
    switch (kind) {
        case Problem::Kind::OutOfBounds:
            return "out-of-bounds";
        case Problem::Kind::UnsafeName:
            return "unsafe-name";
        case Problem::Kind::Overlap:
            return "overlap";
        case Problem::Kind::Duplicate:
            return "duplicate";
    }
    return "unknown";
}

namespace {
QString FoldedKey(const QString& name) {
    QString key = name.toCaseFolded();
    key.replace(u'/', u'\\');
    return key;
}

bool IsAscii(QByteArrayView bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// A name's text and the hash of its folded key. Most names are ASCII; those
// are widened and folded on the stack, with the same hash FoldedKey gives,
// so a large directory is checked without an allocation per entry.
// Hashes are seeded per process, so that an archive cannot be crafted to make
// every name collide and the duplicate check quadratic.
class NameView {
  public:
    explicit NameView(QByteArrayView field) {
        const QByteArrayView bytes = NameBytes(field);
        if (!IsAscii(bytes)) {
            decoded_ = DecodeName(bytes);
            text_ = decoded_;
            hash_ = qHash(FoldedKey(decoded_), QHashSeed::globalSeed());
            return;
        }
        const qsizetype n = bytes.size();
        for (qsizetype j = 0; j < n; ++j) {
            const char16_t c = static_cast<unsigned char>(bytes[j]);
            text16_[j] = c;
            folded_[j] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c == u'/' ? u'\\' : c;
        }
        text_ = QStringView(text16_, n);
        hash_ = qHash(QStringView(folded_, n), QHashSeed::globalSeed());
    }
    NameView(const NameView&) = delete;
    NameView& operator=(const NameView&) = delete;

    QStringView text() const { return text_; }
    size_t hash() const { return hash_; }

  private:
    char16_t text16_[kNameSize];
    char16_t folded_[kNameSize];
    QString decoded_;
    QStringView text_;
    size_t hash_ = 0;
};
}  // namespace

std::vector<Problem> Verify(const Directory& dir, qint64 fileSize) {
    const qint64 count = dir.UpperBound();
    std::vector<Problem> problems;
    // Indexes and hashes are kept in 32 bits: a directory holds fewer than
    // 2^24 records, and this keeps a million-entry check small.
    std::vector<quint32> inside;  // entries with data inside the file
    inside.reserve(size_t(count));
    // Names that would land on the same file on a case-insensitive disk:
    // hashed first, compared in full only where hashes meet.
    std::vector<std::pair<quint32, quint32>> keys;
    keys.reserve(size_t(count));
    for (qint64 i = 0; i < count; ++i) {
        const qint64 offset = dir.EntryOffset[size_t(i)];
        const qint64 size = dir.EntrySize[size_t(i)];
        const NameView name(dir.EntryName[i]);
        if (offset < 0 || size < 0 || offset + size > fileSize) {
            Problem p{Problem::Kind::OutOfBounds, i, name.text().toString()};
            p.offset = offset, p.size = size, p.fileSize = fileSize;
            problems.push_back(std::move(p));
        } else if (size > 0) {
            inside.push_back(quint32(i));
        }
        QString part;
        if (const NameRule rule = NameProblem(name.text(), &part); rule != NameRule::None)
            problems.push_back({Problem::Kind::UnsafeName, i, name.text().toString(), rule, part});
        keys.emplace_back(quint32(name.hash()), quint32(i));
    }
    std::sort(keys.begin(), keys.end());
    std::vector<Problem> duplicates;
    for (size_t a = 0; a < keys.size();) {
        size_t b = a + 1;
        while (b < keys.size() && keys[b].first == keys[a].first) ++b;
        for (size_t j = a + 1; j < b; ++j) {
            const QString name = dir.Name(keys[j].second);
            for (size_t k = a; k < j; ++k) {
                if (FoldedKey(name) == FoldedKey(dir.Name(keys[k].second))) {
                    duplicates.push_back({Problem::Kind::Duplicate,
                                          keys[j].second,
                                          name,
                                          NameRule::None,
                                          {},
                                          qint64(keys[k].second)});
                    break;
                }
            }
        }
        a = b;
    }
    std::sort(duplicates.begin(), duplicates.end(),
              [](const Problem& x, const Problem& y) { return x.index < y.index; });
    problems.insert(problems.end(), duplicates.begin(), duplicates.end());
    std::stable_sort(inside.begin(), inside.end(), [&](quint32 a, quint32 b) {
        return dir.EntryOffset[size_t(a)] < dir.EntryOffset[size_t(b)];
    });
    qint64 reach = -1, holder = -1;  // the furthest end so far, and its entry
    for (qint64 i : inside) {
        const qint64 start = dir.EntryOffset[size_t(i)];
        const qint64 end = start + dir.EntrySize[size_t(i)];
        if (start < reach)
            problems.push_back(
                {Problem::Kind::Overlap, i, dir.Name(i), NameRule::None, {}, holder});
        if (end > reach) reach = end, holder = i;
    }
    // Data inside the directory itself is an overlap too.
    for (qint64 i : inside) {
        if (dir.EntryOffset[size_t(i)] < DirectoryEnd(count))
            problems.push_back({Problem::Kind::Overlap, i, dir.Name(i), NameRule::None, {}, -1});
    }
    return problems;
}

}  // namespace kbx
