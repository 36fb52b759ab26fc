#include "archive/rewrite.h"

#include <QHash>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <map>

#include "archive/archive_file.h"
#include "archive/file_io.h"
#include "archive/output.h"

namespace kbx {

namespace {

// The directory is compared and written in blocks of whole records.
constexpr qint64 kRecordsPerBlock = (1 << 20) / kRecordSize;
// The longest file name most Linux file systems accept, in UTF-8 bytes.
constexpr qint64 kMaxComponentBytes = 255;

// An added entry, checked: its name in the archive's code page.
struct Added {
    size_t edit;  // position in the edits
    QString name;
    QByteArray encoded;
    QString key;
};

// Why `name` may not be added, apart from other entries' names.
NameRule AddedNameRule(const QString& name, QByteArray* encoded, QString* detail) {
    std::optional<QByteArray> bytes = EncodeName(name);
    if (!bytes) return NameRule::NotEncodable;
    if (bytes->size() > kNameSize) return NameRule::TooLong;
    if (NameRule rule = NameProblem(name, detail); rule != NameRule::None) return rule;
    for (const QString& part : NameComponents(name)) {
        if (part.toUtf8().size() > kMaxComponentBytes) {
            *detail = part;
            return NameRule::ComponentTooLong;
        }
    }
    *encoded = std::move(*bytes);
    return NameRule::None;
}

// The folders a name lies in, as keys: "a\b\c" gives "a" and "a\b".
QStringList FolderKeys(const QString& key) {
    QStringList folders;
    for (qsizetype at = key.indexOf(u'\\'); at >= 0; at = key.indexOf(u'\\', at + 1))
        folders << key.left(at);
    return folders;
}

// Checks the edits against each other and against the kept entries.
// `action` learns, for each edited index, the position of its edit.
Failure CheckEdits(const Directory& dir, const std::vector<Edit>& edits,
                   std::map<qint64, size_t>& action, std::vector<Added>& added) {
    const qint64 count = dir.UpperBound();
    QHash<QString, size_t> addedKeys;  // key -> position in `added`
    QSet<QString> addedFolders;
    for (size_t e = 0; e < edits.size(); ++e) {
        const Edit& edit = edits[e];
        if (edit.kind != Edit::Kind::Add) {
            if (edit.index < 0 || edit.index >= count)
                return {Reason::NoSuchEntry, 0, NameRule::None, edit.index};
            if (!action.emplace(edit.index, e).second)
                return {Reason::EditConflict, 0, NameRule::None, edit.index, dir.Name(edit.index)};
            continue;
        }
        Added a{e, TypedName(edit.name), {}, {}};
        Failure bad{Reason::UnsafeName, 0, NameRule::None, -1, a.name};
        if ((bad.rule = AddedNameRule(a.name, &a.encoded, &bad.detail)) != NameRule::None)
            return bad;
        a.key = NameKey(a.name);
        if (auto it = addedKeys.constFind(a.key); it != addedKeys.cend()) {
            const QString& other = added[*it].name;
            if (other == a.name) return {Reason::EditConflict, 0, NameRule::None, -1, a.name};
            bad.rule = NameRule::CaseDuplicate;
            bad.detail = other;
            return bad;
        }
        if (IsReservedFolder(a.name)) {
            bad.rule = NameRule::ReservedFolder;
            return bad;
        }
        // Pack makes entries of the files beneath Version only: a name
        // elsewhere would be lost by the next unpack and pack.
        if (!a.key.startsWith(u"version\\")) {
            bad.rule = NameRule::OutsideVersion;
            return bad;
        }
        addedKeys.insert(a.key, added.size());
        for (const QString& folder : FolderKeys(a.key)) addedFolders.insert(folder);
        added.push_back(std::move(a));
    }
    // Among the added names: one the folder of another.
    for (const Added& a : added) {
        if (addedFolders.contains(a.key))
            return {Reason::UnsafeName, 0, NameRule::FolderClash, -1, a.name, a.name};
    }
    if (added.empty()) return {};
    // Against every entry that stays: one pass, whatever the number of adds.
    for (qint64 i = 0; i < count; ++i) {
        if (auto it = action.find(i);
            it != action.end() && edits[it->second].kind == Edit::Kind::Remove)
            continue;
        const QString name = dir.Name(i);
        const QString key = NameKey(name);
        const auto clash = [&](size_t at, NameRule rule) {
            return Failure{Reason::UnsafeName, 0, rule, i, added[at].name, name};
        };
        if (auto it = addedKeys.constFind(key); it != addedKeys.cend())
            return clash(*it, name == added[*it].name ? NameRule::Exists : NameRule::CaseDuplicate);
        if (addedFolders.contains(key)) {
            for (size_t at = 0; at < added.size(); ++at)
                if (added[at].key.startsWith(key + u'\\')) return clash(at, NameRule::FolderClash);
        }
        for (const QString& folder : FolderKeys(key)) {
            if (auto it = addedKeys.constFind(folder); it != addedKeys.cend())
                return clash(*it, NameRule::FolderClash);
        }
    }
    return {};
}

// True when the file behind `fd`, whose header OpenLoaded checked, still
// holds the records of `dir`. A read that fails leaves its errno in *err; a
// short one leaves it alone.
bool SameRecords(int fd, const Directory& dir, int* err) {
    const qint64 count = dir.UpperBound();
    QByteArray block(std::min(count, kRecordsPerBlock) * kRecordSize, Qt::Uninitialized);
    for (qint64 first = 0; first < count; first += kRecordsPerBlock) {
        const qint64 n = std::min(kRecordsPerBlock, count - first);
        if (io::ReadAt(fd, block.data(), n * kRecordSize, DirectoryEnd(first), err) !=
            n * kRecordSize)
            return false;
        for (qint64 k = 0; k < n; ++k) {
            const char* rec = block.constData() + k * kRecordSize;
            const qint64 i = first + k;
            if (ReadLE32(rec + kRecordOffsetField) != dir.EntryOffset[size_t(i)] ||
                ReadLE32(rec + kRecordSizeField) != dir.EntrySize[size_t(i)] ||
                NameBytes(QByteArrayView(rec + kRecordNameField, kNameSize)) != dir.EntryName[i])
                return false;
        }
    }
    return true;
}

// True for the errors of a copy that belong to the archive being written
// rather than to the file read: the disk or quota is full, or the file
// system cannot take the new archive.
bool OutputError(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG || err == EROFS;
}

// Writes the new archive's data back to back from the end of its directory.
// Untouched entries that lie back to back in the old archive are copied as
// one range. Copies go in pieces of at most io::kCopyPiece bytes, with the
// stop flag looked at before each: a stop is honoured within a few
// megabytes, whatever the size of the entries.
class DataCopier {
  public:
    DataCopier(OutputArchive& out, int archive, const QString& archivePath, qint64 start,
               const StopFlag* stop)
        : out_(out), archive_(archive), archivePath_(archivePath), next_(start), stop_(stop) {}

    // Queues the old archive's bytes [offset, offset + size).
    bool Keep(qint64 offset, qint64 size, Failure* why) {
        if (size == 0) return true;  // wherever it points, it breaks no run
        if (next_ + pending_ + size > kMaxArchiveBytes) return *why = {Reason::TooLarge}, false;
        if (pending_ > 0 && offset != from_ + pending_ && !FlushRun(why)) return false;
        if (pending_ == 0) from_ = offset;
        pending_ += size;
        return true;
    }

    // Copies the whole of the file at `path`; its size is learned here.
    bool Take(const QString& path, qint32* size, Failure* why) {
        if (!FlushRun(why)) return false;
        const QByteArray native = io::NativePath(path);
        io::Fd in(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat before {
        }, after{};
        if (!in || ::fstat(in.get(), &before) != 0)
            return *why = {Reason::CannotOpenFile, errno}, false;
        if (!S_ISREG(before.st_mode))
            return *why = {Reason::NotRegularFile, S_ISDIR(before.st_mode) ? EISDIR : 0}, false;
        if (next_ + before.st_size > kMaxArchiveBytes) return *why = {Reason::TooLarge}, false;
        const long long copied = Copy(in.get(), 0, before.st_size, why);
        if (copied < 0) return false;
        if (::fstat(in.get(), &after) != 0) return *why = {Reason::ReadFailed, errno}, false;
        if (copied != before.st_size || !io::SameFileState(before, after))
            return *why = {Reason::FileChanged}, false;
        next_ += copied;
        *size = qint32(copied);
        return true;
    }

    // A failure here is the archives', whichever edit's file comes next: it
    // names the archive, not that file.
    bool FlushRun(Failure* why) {
        if (pending_ == 0) return true;
        const long long copied = Copy(archive_, from_, pending_, why);
        if (copied < 0) {
            if (why->reason != Reason::None) why->subject = archivePath_;
            return false;
        }
        if (copied != pending_) return *why = {Reason::Truncated, 0, {}, -1, archivePath_}, false;
        next_ += pending_;
        pending_ = 0;
        return true;
    }

    // True when the copy ended because a stop was asked for.
    bool stopped() const { return stopped_; }

  private:
    // Copies `len` bytes of `in` from `offset` to the end of the new data;
    // returns the bytes copied (fewer when `in` ended early), or -1 with
    // `why` set (or left empty when stopped).
    long long Copy(int in, qint64 offset, qint64 len, Failure* why) {
        long long done = 0;
        while (done < len) {
            if (stop_ && stop_->requested) return stopped_ = true, -1;
            const long long piece = std::min<long long>(len - done, io::kCopyPiece);
            const long long n = out_.CopyFrom(in, offset + done, next_ + done, piece, true);
            if (n < 0) {
                const int err = out_.error();
                *why = OutputError(err) ? Failure{Reason::WriteFailed, err, {}, -1, archivePath_}
                                        : Failure{Reason::WriteFailed, err};
                return -1;
            }
            done += n;
            if (n < piece) break;
        }
        return done;
    }

    OutputArchive& out_;
    int archive_;
    const QString& archivePath_;
    qint64 next_;         // where the next bytes go in the new archive
    qint64 from_ = 0;     // where the queued run starts in the old one
    qint64 pending_ = 0;  // its length
    const StopFlag* stop_;
    bool stopped_ = false;
};

Result Stopped() {
    Result r;
    r.outcome = Outcome::Stopped;
    return r;
}

}  // namespace

Result Rewrite(const Directory& dir, const std::vector<Edit>& edits, const Progress& progress,
               const StopFlag* stop) {
    if (edits.empty()) {
        Result r;
        r.outcome = Outcome::NothingDone;
        return r;
    }
    const QString& path = dir.ArchivePath;
    const qint64 count = dir.UpperBound();
    std::map<qint64, size_t> action;
    std::vector<Added> added;
    if (Failure f = CheckEdits(dir, edits, action, added); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    qint64 removed = 0;
    for (const auto& [index, e] : action) removed += edits[e].kind == Edit::Kind::Remove;
    const qint64 newCount = count - removed + qint64(added.size());
    if (DirectoryEnd(newCount) > kMaxArchiveBytes)
        return Result::Unusable({Reason::TooLarge, 0, {}, -1, path});

    // The old archive, as loaded: the same file in the same state, holding
    // the same directory, from now to the end of the copy.
    const auto changed = [&] {
        return Result::Unusable({Reason::ArchiveChanged, 0, {}, -1, path});
    };
    int err = 0;
    long long fileSize = 0;
    Result opened;
    io::Fd archive = OpenLoaded(dir, &fileSize, &opened);
    if (!archive) return opened;
    if (!SameRecords(archive.get(), dir, &err))
        return err ? Result::Unusable({Reason::ReadFailed, err, {}, -1, path}) : changed();
    // The new archive's size, known before anything is copied: the kept
    // entries' and the files' sizes (a file that grows later fails as
    // changed, or as too large, during the copy).
    qint64 newSize = DirectoryEnd(newCount);
    for (qint64 i = 0; i < count; ++i) {
        if (action.count(i)) continue;
        const qint64 offset = dir.EntryOffset[size_t(i)], size = dir.EntrySize[size_t(i)];
        if (offset < 0 || size < 0 || offset + size > fileSize)
            return Result::Unusable({Reason::OutOfBounds, 0, {}, i, dir.Name(i)});
        newSize += size;
    }
    for (const Edit& edit : edits) {
        struct stat st {};
        if (edit.kind != Edit::Kind::Remove &&
            ::stat(io::NativePath(edit.file).constData(), &st) == 0 && S_ISREG(st.st_mode))
            newSize += st.st_size;
    }
    if (newSize > kMaxArchiveBytes) return Result::Unusable({Reason::TooLarge, 0, {}, -1, path});
    // The header's reserved field is the archive's own: kept as it is.
    char reserved[kFieldSize];
    if (io::ReadAt(archive.get(), reserved, kFieldSize, kReservedOffset, &err) != kFieldSize)
        return Result::Unusable({Reason::ReadFailed, err, {}, -1, path});

    OutputArchive out;
    if (Failure f = out.Create(path, &dir.Identity); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    // Sizes of the entries whose bytes come from files, by edit position.
    std::map<size_t, qint32> taken;
    DataCopier copier(out, archive.get(), path, DirectoryEnd(newCount), stop);
    qint64 at = 0;  // the new entry's index
    Failure why;
    const auto fileFailed = [&](qint64 index, const QString& file) {
        if (copier.stopped()) return Stopped();
        if (why.subject.isEmpty()) {
            why.index = index;
            why.subject = file;
        }
        return Result::Unusable(std::move(why));
    };
    for (qint64 i = 0; i < count; ++i) {
        const auto it = action.find(i);
        if (it != action.end() && edits[it->second].kind == Edit::Kind::Remove) continue;
        if (progress) progress(at);
        if (stop && stop->requested) return Stopped();
        ++at;
        if (it == action.end()) {
            if (!copier.Keep(dir.EntryOffset[size_t(i)], dir.EntrySize[size_t(i)], &why))
                return fileFailed(-1, path);
        } else if (!copier.Take(edits[it->second].file, &taken[it->second], &why)) {
            return fileFailed(i, edits[it->second].file);
        }
    }
    for (const Added& a : added) {
        if (progress) progress(at);
        if (stop && stop->requested) return Stopped();
        if (!copier.Take(edits[a.edit].file, &taken[a.edit], &why))
            return fileFailed(at, edits[a.edit].file);
        ++at;
    }
    if (!copier.FlushRun(&why)) return fileFailed(-1, path);
    // Read to the end without a change: the bytes copied are the loaded
    // archive's.
    if (io::IdentityOf(archive.get()) != dir.Identity) return changed();

    QByteArray block = HeaderBytes(qint32(newCount));
    std::copy_n(reserved, kFieldSize, block.data() + kReservedOffset);
    qint64 written = 0;
    qint64 offset = DirectoryEnd(newCount);
    const auto record = [&](qint32 size, QByteArrayView name) {
        AppendRecord(block, qint32(offset), size, name);
        offset += size;
        if (block.size() < kRecordsPerBlock * kRecordSize) return true;
        const bool ok = out.Write(block.constData(), block.size(), written);
        written += block.size();
        block.clear();
        return ok;
    };
    bool ok = true;
    for (qint64 i = 0; i < count && ok; ++i) {
        const auto it = action.find(i);
        if (it == action.end())
            ok = record(dir.EntrySize[size_t(i)], dir.EntryName[i]);
        else if (edits[it->second].kind == Edit::Kind::Replace)
            ok = record(taken[it->second], dir.EntryName[i]);
    }
    for (const Added& a : added) ok = ok && record(taken[a.edit], a.encoded);
    if (!ok || !out.Write(block.constData(), block.size(), written))
        return Result::Unusable({Reason::WriteFailed, out.error(), {}, -1, path});
    // The last moment a stop cancels the edit: past it, the new archive is
    // published and the edit is done.
    if (stop && stop->requested) return Stopped();
    Result r;
    if (Failure f = out.Publish(r.warnings); f.reason != Reason::None)
        return Result::Unusable(std::move(f));
    r.written = newCount;
    return r;
}

}  // namespace kbx
