#include "archive/verify.h"

#include <QRandomGenerator>

#include <algorithm>
#include <bit>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_file.h"
#include "archive/file_io_faults.h"
#include "archive/format.h"
#include "archive/names.h"
#include "archive/records.h"

namespace kbx {

const char* KindName(Problem::Kind kind) {
    switch (kind) {
        case Problem::Kind::OutOfBounds:
            return "out-of-bounds";
        case Problem::Kind::UnsafeName:
            return "unsafe-name";
        case Problem::Kind::RequiredFolder:
            return "required-folder";
        case Problem::Kind::NameIsFolder:
            return "name-is-folder";
        case Problem::Kind::Duplicate:
            return "duplicate";
        case Problem::Kind::Overlap:
            return "overlap";
    }
    return "unknown";
}

namespace {

// A record's name as text, and folded as the game's case-insensitive file
// system compares names, with "/" read as "\". Most names are ASCII: those
// are widened and folded on the stack, so a large directory is checked
// without an allocation per entry.
class Name {
  public:
    explicit Name(const char* record) {
        const QByteArrayView bytes = ReadRecord(record).name;
        if (!IsAscii(bytes)) {
            decoded_ = DecodeName(bytes);
            foldedText_ = NameKey(decoded_);
            text_ = decoded_;
            folded_ = foldedText_;
            return;
        }
        const qsizetype n = bytes.size();
        for (qsizetype j = 0; j < n; ++j) {
            const char16_t c = static_cast<unsigned char>(bytes[j]);
            text16_[j] = c;
            folded16_[j] = AsciiKey(c);
        }
        text_ = QStringView(text16_, n);
        folded_ = QStringView(folded16_, n);
    }
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    QStringView text() const { return text_; }
    QStringView folded() const { return folded_; }

  private:
    char16_t text16_[kNameSize];
    char16_t folded16_[kNameSize];
    QString decoded_;
    QString foldedText_;
    QStringView text_;
    QStringView folded_;
};

// A polynomial hash modulo 2^61 - 1 whose base is drawn once per process, so
// that no archive can be crafted to make names collide. One pass over a
// folded name gives the hash of every prefix, and so of every folder the
// name holds. Only the low 32 bits are kept: equal hashes are candidates,
// and the names themselves decide.
bool g_collide = false;

class Hasher {
  public:
    Hasher()
        : base_(g_collide ? 0 : 256 + QRandomGenerator::global()->bounded(quint64(kPrime - 512))) {}

    quint64 Step(quint64 h, char16_t c) const {
        if (base_ == 0) return 0;
        const unsigned __int128 p = static_cast<unsigned __int128>(h) * base_ + c + 1;
        quint64 r = quint64(p & kPrime) + quint64(p >> 61);
        while (r >= kPrime) r -= kPrime;
        return r;
    }

  private:
    static constexpr quint64 kPrime = (1ULL << 61) - 1;
    quint64 base_;
};

// A set of 32-bit hashes as a bitmap of about 16 bits a record: a test
// that rarely says yes when the answer is no, and never no when it is yes.
class HashBits {
  public:
    explicit HashBits(qint64 count)
        : mask_(std::min<quint64>(std::bit_ceil(quint64(count) * 16 + 64), 1ULL << 24) - 1),
          bits_((mask_ + 1) / 64) {}
    void Add(quint32 h) { bits_[(h & mask_) >> 6] |= 1ULL << (h & 63); }
    bool Has(quint32 h) const { return (bits_[(h & mask_) >> 6] >> (h & 63)) & 1; }

  private:
    quint64 mask_;
    std::vector<quint64> bits_;
};

using Key = std::pair<quint32, quint32>;  // a name's hash, its index

class Verifier {
  public:
    Verifier(ArchiveFile& file, const ProblemSink& report, const StopFlag* stop)
        : file_(file), report_(report), stop_(stop), reader_(file.fd.get(), file.count) {}

    Pass Run() {
        const qint64 count = file_.count;
        offset_.reserve(size_t(count));
        size_.reserve(size_t(count));
        keys_.reserve(size_t(count));
        flagged_.assign(size_t(count), false);
        HashBits folders(count);
        Pass pass = reader_.ForEach(
            [&](qint64 i, const char* rec) { return CheckRecord(i, rec, folders); });
        if (pass != Pass::Done) return pass;
        std::sort(keys_.begin(), keys_.end());
        // One slot an entry holds the other entry of each kind in turn.
        other_.assign(size_t(count), kNone);
        FindFoldersNamed(folders);
        if ((pass = Emit(Problem::Kind::NameIsFolder)) != Pass::Done) return pass;
        FindDuplicates();
        keys_ = {};
        if ((pass = Emit(Problem::Kind::Duplicate)) != Pass::Done) return pass;
        FindOverlaps();
        return Emit(Problem::Kind::Overlap);
    }

    Layout Measure() const {
        return MeasureLayout(offset_.data(), size_.data(), qint64(offset_.size()), file_.size);
    }

  private:
    static constexpr qint32 kNone = -2;
    static constexpr qint32 kDirectory = -1;  // Overlap: the directory, after any entry

    // False once a stop is asked for: the check ends at the next record or
    // problem.
    bool Going() const { return !stop_ || !stop_->requested; }

    Problem Make(Problem::Kind kind, qint64 i, QStringView name) const {
        Problem p;
        p.kind = kind;
        p.index = i;
        p.name = name.toString();
        p.offset = offset_[size_t(i)];
        p.size = size_[size_t(i)];
        p.fileSize = file_.size;
        return p;
    }

    bool Inside(size_t i) const {
        return size_[i] > 0 && offset_[i] >= 0 && qint64(offset_[i]) + size_[i] <= file_.size;
    }

    // The checks of one record on its own; keeps what the checks between
    // records need.
    bool CheckRecord(qint64 i, const char* rec, HashBits& folders) {
        if (!Going()) return false;
        const RecordFields fields = ReadRecord(rec);
        const qint64 offset = fields.offset, size = fields.size;
        offset_.push_back(fields.offset);
        size_.push_back(fields.size);
        const Name name(rec);
        if (offset < 0 || size < 0 || offset + size > file_.size) {
            if (!report_(Make(Problem::Kind::OutOfBounds, i, name.text()))) return false;
        }
        QString part;
        if (const NameRule rule = NameProblem(name.text(), &part); rule != NameRule::None) {
            Problem p = Make(Problem::Kind::UnsafeName, i, name.text());
            p.rule = rule;
            p.part = part;
            if (!report_(p)) return false;
        }
        if (IsReservedKey(name.folded())) {
            flagged_[size_t(i)] = true;
            if (!report_(Make(Problem::Kind::RequiredFolder, i, name.text()))) return false;
        }
        quint64 h = 0;
        const QStringView folded = name.folded();
        for (qsizetype k = 0; k < folded.size(); ++k) {
            if (k > 0 && IsSeparator(folded[k])) folders.Add(quint32(h));
            h = hasher_.Step(h, folded[k].unicode());
        }
        keys_.emplace_back(quint32(h), quint32(i));
        return true;
    }

    // Entries whose name another entry needs as a folder, each with the
    // first such entry. Most archives have no name in the folders' bitmap
    // and skip the second pass over the records.
    void FindFoldersNamed(const HashBits& folders) {
        HashBits candidates(file_.count);
        bool any = false;
        for (const Key& k : keys_) {
            if (!flagged_[k.second] && folders.Has(k.first)) candidates.Add(k.first), any = true;
        }
        if (!any) return;
        qint64 confirmed = -1;  // the last entry whose folded name was read
        QString confirmedName;
        const Pass pass = reader_.ForEach([&](qint64 j, const char* rec) {
            if (!Going()) return false;
            const Name name(rec);
            const QStringView folded = name.folded();
            quint64 h = 0;
            for (qsizetype k = 0; k < folded.size(); ++k) {
                if (k > 0 && IsSeparator(folded[k]) && candidates.Has(quint32(h))) {
                    auto range = std::equal_range(
                        keys_.begin(), keys_.end(), Key{quint32(h), 0},
                        [](const Key& a, const Key& b) { return a.first < b.first; });
                    for (auto it = range.first; it != range.second; ++it) {
                        const quint32 i = it->second;
                        if (flagged_[i]) continue;
                        if (qint64(i) != confirmed) {
                            const char* other = reader_.At(i);
                            if (!other) return false;
                            confirmedName = Name(other).folded().toString();
                            confirmed = i;
                        }
                        if (confirmedName == folded.first(k)) {
                            flagged_[i] = true;
                            other_[i] = qint32(j);
                        }
                    }
                }
                h = hasher_.Step(h, folded[k].unicode());
            }
            return true;
        });
        if (pass != Pass::Done) cutShort_ = true;
    }

    // Entries whose folded name an earlier entry has, each with the first.
    void FindDuplicates() {
        std::fill(other_.begin(), other_.end(), kNone);
        std::vector<std::pair<QString, quint32>> distinct;  // names of one hash
        for (size_t a = 0; a < keys_.size() && !cutShort_;) {
            size_t b = a + 1;
            while (b < keys_.size() && keys_[b].first == keys_[a].first) ++b;
            distinct.clear();
            for (size_t m = a; b - a > 1 && m < b; ++m) {
                const quint32 i = keys_[m].second;
                const char* rec = reader_.At(i);
                if (!rec) {
                    cutShort_ = true;
                    break;
                }
                const Name name(rec);
                auto same = std::find_if(distinct.begin(), distinct.end(),
                                         [&](const auto& d) { return d.first == name.folded(); });
                if (same != distinct.end())
                    other_[i] = qint32(same->second);
                else
                    distinct.emplace_back(name.folded().toString(), i);
            }
            a = b;
        }
    }

    // Entries whose data start before the end of data that an entry before
    // them in the file holds: the one reaching furthest. An entry whose data
    // start inside the directory is an overlap too; Emit adds it.
    void FindOverlaps() {
        std::fill(other_.begin(), other_.end(), kNone);
        std::vector<quint32> inside;
        for (size_t i = 0; i < offset_.size(); ++i) {
            if (Inside(i)) inside.push_back(quint32(i));
        }
        std::sort(inside.begin(), inside.end(), [&](quint32 a, quint32 b) {
            return std::pair(offset_[a], a) < std::pair(offset_[b], b);
        });
        qint64 reach = -1, holder = -1;  // the furthest end so far, and its entry
        for (quint32 i : inside) {
            const qint64 start = offset_[i];
            const qint64 end = start + size_[i];
            if (start < reach) other_[i] = qint32(holder);
            if (end > reach) reach = end, holder = i;
        }
    }

    Pass Emit(Problem::Kind kind) {
        if (cutShort_) return Pass::CutShort;
        const qint64 directoryEnd = DirectoryEnd(file_.count);
        for (size_t i = 0; i < other_.size(); ++i) {
            if (!Going()) return Pass::Stopped;
            const bool inDirectory =
                kind == Problem::Kind::Overlap && Inside(i) && offset_[i] < directoryEnd;
            if (other_[i] == kNone && !inDirectory) continue;
            const char* rec = reader_.At(qint64(i));
            if (!rec) return Pass::CutShort;
            const Name name(rec);
            for (const qint32 other : {other_[i], inDirectory ? kDirectory : kNone}) {
                if (other == kNone) continue;
                Problem p = Make(kind, qint64(i), name.text());
                p.other = other;
                if (!report_(p)) return Pass::Stopped;
            }
        }
        return Pass::Done;
    }

    ArchiveFile& file_;
    const ProblemSink& report_;
    const StopFlag* stop_;
    DirectoryReader reader_;
    Hasher hasher_;
    std::vector<qint32> offset_;
    std::vector<qint32> size_;
    // Indexes are kept in 32 bits: a directory holds fewer than 2^24 records.
    std::vector<Key> keys_;
    std::vector<bool> flagged_;  // already reported as a folder's name
    std::vector<qint32> other_;
    bool cutShort_ = false;

  public:
    int readError() const { return reader_.error(); }
};

}  // namespace

void ForceHashCollisions(bool on) {
    g_collide = on;
}

Layout MeasureLayout(const qint32* offset, const qint32* size, qint64 count, qint64 fileSize) {
    Layout layout;
    const qint64 start = DirectoryEnd(count);
    qint64 next = start;
    std::vector<quint32> order;  // entries with data in the data area, by offset
    for (qint64 i = 0; i < count; ++i) {
        layout.canonical = layout.canonical && offset[i] == next;
        next += size[i];
        if (size[i] > 0 && offset[i] < fileSize && qint64(offset[i]) + size[i] > start)
            order.push_back(quint32(i));
    }
    layout.canonical = layout.canonical && next == fileSize;
    std::sort(order.begin(), order.end(),
              [&](quint32 a, quint32 b) { return offset[a] < offset[b]; });
    qint64 covered = 0, reach = start;  // bytes covered so far, and up to where
    for (quint32 i : order) {
        const qint64 from = std::max<qint64>(offset[i], reach);
        const qint64 to = std::min<qint64>(qint64(offset[i]) + size[i], fileSize);
        if (to > from) covered += to - from, reach = to;
    }
    layout.unused = std::max<qint64>(fileSize - start, 0) - covered;
    return layout;
}

Result Verify(const QString& path, const ProblemSink& report, qint64* count, Layout* layout,
              const StopFlag* stop) {
    ArchiveFile file;
    Result r = OpenArchiveFile(path, file);
    if (!r.ok()) return r;
    if (count) *count = file.count;
    Verifier verifier(file, report, stop);
    const Pass pass = verifier.Run();
    if (stop && stop->requested) return Result::Stopped();
    if (pass == Pass::CutShort) return DirectoryCutShort(path, verifier.readError());
    if (layout && pass == Pass::Done) *layout = verifier.Measure();
    return r;
}

bool IsSound(const QString& path) {
    bool sound = true;
    const Result r = Verify(path, [&](const Problem&) {
        sound = false;
        return false;  // one problem is enough
    });
    return r.ok() && sound;
}

}  // namespace kbx
